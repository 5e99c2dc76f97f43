#include "base/debug_line_queue.h"

#include <utility>

#include "base/debug_log.h"
#include "base/srw_lock.h"

DebugLineQueue::DebugLineQueue() {
    writer_.reset(::CreateThread(nullptr, 0, &DebugLineQueue::WriterThread, this, 0, nullptr));
}

DebugLineQueue::~DebugLineQueue() {
    if (!writer_) return;
    {
        SrwExclusiveGuard guard(lock_);
        closing_ = true;
    }
    ::WakeConditionVariable(&added_);
    ::WaitForSingleObject(writer_.get(), INFINITE);
}

void DebugLineQueue::Add(std::wstring line) {
    if (!writer_) {
        DebugLine(line.c_str());
        return;
    }
    {
        SrwExclusiveGuard guard(lock_);
        while (waiting_.size() >= kMaxWaitingLines) ::SleepConditionVariableSRW(&taken_, &lock_, INFINITE, 0);
        waiting_.push_back(std::move(line));
    }
    ::WakeConditionVariable(&added_);
}

DWORD WINAPI DebugLineQueue::WriterThread(void* parameter) {
    static_cast<DebugLineQueue*>(parameter)->WriteUntilClosed();
    return 0;
}

// Takes every waiting line at once and writes them outside the lock, so adding a
// line never waits for a write. Nothing here throws: the batch only swaps and clears.
void DebugLineQueue::WriteUntilClosed() {
    std::vector<std::wstring> batch;
    for (;;) {
        bool closing = false;
        {
            SrwExclusiveGuard guard(lock_);
            while (waiting_.empty() && !closing_) ::SleepConditionVariableSRW(&added_, &lock_, INFINITE, 0);
            batch.swap(waiting_);
            closing = closing_;
        }
        ::WakeAllConditionVariable(&taken_);
        for (const std::wstring& line : batch) DebugLine(line.c_str());
        batch.clear();
        // Closing is set only by the destructor, after the last Add: what was
        // waiting then has just been written.
        if (closing) return;
    }
}
