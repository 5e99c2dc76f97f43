// The queue of debug lines: every line is written, once, in the order it was
// added, by the time the queue is destroyed, also when many threads add faster
// than the writer writes; and its writer does not outlive it.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "base/debug_line_queue.h"
#include "base/unique_resource.h"
#include "tests/driver/debug_capture.h"
#include "tests/driver/process_census.h"

namespace {

constexpr wchar_t kPrefix[] = L"Line queue test ";

struct Adder {
    DebugLineQueue* queue;
    int thread;
    int lines;
};

DWORD WINAPI AddLines(void* parameter) {
    const Adder& adder = *static_cast<Adder*>(parameter);
    for (int i = 0; i < adder.lines; ++i) {
        adder.queue->Add(kPrefix + std::to_wstring(adder.thread) + L" " + std::to_wstring(i));
    }
    return 0;
}

// Each captured line as (thread, number).
std::vector<std::pair<int, int>> Parse(const std::vector<std::wstring>& lines) {
    std::vector<std::pair<int, int>> parsed;
    const size_t prefixLength = std::wstring(kPrefix).size();
    for (const std::wstring& line : lines) {
        const std::wstring rest = line.substr(prefixLength);
        const size_t space = rest.find(L' ');
        parsed.emplace_back(std::stoi(rest.substr(0, space)), std::stoi(rest.substr(space + 1)));
    }
    return parsed;
}

TEST(DebugLineQueue, ManyThreadsLinesAreAllWrittenInTheirOrderBeforeTheQueueIsGone) {
    constexpr int kThreads = 4;
    // Well past the lines that may wait, so adders also wait for the writer.
    constexpr int kLinesEach = static_cast<int>(DebugLineQueue::kMaxWaitingLines);
    testing_driver::DebugLineCapture capture;
    const testing_driver::ProcessCensus before = testing_driver::TakeProcessCensus();
    {
        DebugLineQueue queue;
        Adder adders[kThreads];
        UniqueHandle threads[kThreads];
        for (int t = 0; t < kThreads; ++t) {
            adders[t] = {&queue, t, kLinesEach};
            threads[t].reset(::CreateThread(nullptr, 0, AddLines, &adders[t], 0, nullptr));
            ASSERT_TRUE(threads[t]);
        }
        for (const UniqueHandle& thread : threads) ::WaitForSingleObject(thread.get(), INFINITE);
    }
    // Nothing is written after the queue is gone: the count is final here.
    const auto lines = Parse(capture.LinesStartingWith(kPrefix));
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLinesEach));
    std::vector<int> next(kThreads, 0);
    for (const auto& [thread, number] : lines) {
        ASSERT_EQ(number, next[thread]) << "thread " << thread;
        ++next[thread];
    }
    EXPECT_EQ(testing_driver::TakeProcessCensus(), before);
}

TEST(DebugLineQueue, LinesOfSeveralThreadsKeepTheOrderTheyWereAddedIn) {
    testing_driver::DebugLineCapture capture;
    {
        DebugLineQueue queue;
        queue.Add(std::wstring(kPrefix) + L"0 0");
        Adder other = {&queue, 1, 3};
        UniqueHandle thread(::CreateThread(nullptr, 0, AddLines, &other, 0, nullptr));
        ASSERT_TRUE(thread);
        ::WaitForSingleObject(thread.get(), INFINITE);
        queue.Add(std::wstring(kPrefix) + L"0 1");
    }
    const std::vector<std::pair<int, int>> expected = {{0, 0}, {1, 0}, {1, 1}, {1, 2}, {0, 1}};
    EXPECT_EQ(Parse(capture.LinesStartingWith(kPrefix)), expected);
}

TEST(DebugLineQueue, AQueueWithNoLinesEndsAtOnceAndLeavesNoThread) {
    const testing_driver::ProcessCensus before = testing_driver::TakeProcessCensus();
    for (int i = 0; i < 20; ++i) {
        DebugLineQueue queue;
    }
    EXPECT_EQ(testing_driver::TakeProcessCensus(), before);
}

}  // namespace
