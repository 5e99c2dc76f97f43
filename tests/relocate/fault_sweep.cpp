#include "tests/relocate/fault_sweep.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <cstdlib>
#include <mutex>

#include "tests/relocate/relocation_session.h"

namespace relocation_testing {

const char* NameOf(Ending ending) {
    switch (ending) {
    case Ending::Relocated: return "relocated";
    case Ending::MovedBack: return "moved back";
    case Ending::Split: return "split";
    }
    return "?";
}

namespace {

// The one injector's state: the seam takes a plain function, which reads it here.
std::atomic<int> callCount{0};
std::atomic<int> failingCall{0};
std::atomic<bool> injectorLive{false};
std::mutex pointLock;
FailurePoint failedPoint;  // guarded by pointLock

DiskFault CountAndFail(DiskCall call, const wchar_t* path) {
    const int number = ++callCount;
    if (number != failingCall.load()) return DiskFault{};
    std::lock_guard<std::mutex> hold(pointLock);
    failedPoint.reached = true;
    failedPoint.call = call;
    failedPoint.path = path != nullptr ? path : L"";
    return DiskFault{failedPoint.mode.error, failedPoint.mode.afterWork};
}

const char* ErrorName(DWORD error) {
    switch (error) {
    case ERROR_ACCESS_DENIED: return "access denied";
    case ERROR_DISK_FULL: return "disk full";
    case ERROR_SHARING_VIOLATION: return "sharing violation";
    case ERROR_FILE_NOT_FOUND: return "file not found";
    case ERROR_PATH_NOT_FOUND: return "path not found";
    case ERROR_WRITE_FAULT: return "write fault";
    default: return nullptr;
    }
}

}  // namespace

std::string Narrow(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
    return out;
}

std::string FaultMode::Name() const {
    const char* known = ErrorName(error);
    std::string name = known != nullptr ? known : "error " + std::to_string(error);
    if (afterWork) name += " after the work";
    return name;
}

std::string FailurePoint::Describe() const {
    if (number == 0) return "the run without a fault";
    std::string text = "failure point " + std::to_string(number);
    if (!reached) return text + " (not reached)";
    text += " (" + Narrow(DiskCallName(call));
    if (!path.empty()) text += " " + Narrow(path);
    return text + "): " + mode.Name();
}

DiskFaultInjector::DiskFaultInjector(int failAt, FaultMode mode) {
    const bool wasLive = injectorLive.exchange(true);
    EXPECT_FALSE(wasLive) << "one fault injector at a time";
    {
        std::lock_guard<std::mutex> hold(pointLock);
        failedPoint = FailurePoint{};
        failedPoint.number = failAt;
        failedPoint.mode = mode;
    }
    callCount = 0;
    failingCall = failAt;
    SetDiskFaultSource(CountAndFail);
}

DiskFaultInjector::~DiskFaultInjector() {
    SetDiskFaultSource(nullptr);
    failingCall = 0;
    injectorLive = false;
}

int DiskFaultInjector::calls() const { return callCount.load(); }

FailurePoint DiskFaultInjector::point() const {
    std::lock_guard<std::mutex> hold(pointLock);
    return failedPoint;
}

namespace {

// Failures recorded so far in the running test.
int FailureRecords() {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return info != nullptr ? info->result()->total_part_count() : 0;
}

void PrintTally(const SweepTally& tally) {
    std::string line = "[fault sweep] " + tally.name + ", " + tally.mode.Name() + ": " +
                       std::to_string(tally.tried) + " failure points tried (the run without a fault makes " +
                       std::to_string(tally.cleanCalls) + " disk calls);";
    const char* separator = " ";
    for (const auto& [ending, runs] : tally.endings) {
        line += separator + ending + " " + std::to_string(runs);
        separator = ", ";
    }
    if (tally.notReached > 0) line += "; not reached " + std::to_string(tally.notReached);
    line += "; wrong " + std::to_string(tally.wrong);
    if (tally.stoppedEarly) line += " (stopped early)";
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

// Runs setup, the operation with a fault at `failAt`, the check and the clean-up;
// returns the point and fills `ending`. False when something failed fatally.
bool RunOnce(const SweepSteps& steps, int failAt, const FaultMode& mode, FailurePoint& point, std::string& ending,
             int& calls) {
    steps.setup();
    if (::testing::Test::HasFatalFailure()) return false;
    {
        DiskFaultInjector injector(failAt, mode);
        steps.run();
        point = injector.point();
        calls = injector.calls();
    }
    {
        SCOPED_TRACE(point.Describe());
        ending = steps.check(point);
    }
    if (steps.cleanUp) steps.cleanUp();
    return !::testing::Test::HasFatalFailure();
}

}  // namespace

SweepTally RunFaultSweep(const std::string& name, const FaultMode& mode, const SweepSteps& steps, int maxWrong) {
    SweepTally tally;
    tally.name = name;
    tally.mode = mode;

    FailurePoint point;
    std::string ending;
    if (!RunOnce(steps, 0, mode, point, ending, tally.cleanCalls)) {
        PrintTally(tally);
        return tally;
    }
    EXPECT_GT(tally.cleanCalls, 0) << name << ": the run made no disk call through the seam";

    // DIRSHIFT_SWEEP_POINT=N runs only that failure point, to look at one closely.
    int only = 0;
    wchar_t chosen[16] = L"";
    if (::GetEnvironmentVariableW(L"DIRSHIFT_SWEEP_POINT", chosen, 16) > 0) only = _wtoi(chosen);

    for (int n = only > 0 ? only : 1; n <= (only > 0 ? only : tally.cleanCalls); ++n) {
        const int failuresBefore = FailureRecords();
        int calls = 0;
        const bool goOn = RunOnce(steps, n, mode, point, ending, calls);
        ++tally.tried;
        if (!point.reached) ++tally.notReached;
        ++tally.endings[ending];
        if (FailureRecords() != failuresBefore) {
            ++tally.wrong;
        }
        if (!goOn || tally.wrong >= maxWrong) {
            tally.stoppedEarly = n < tally.cleanCalls;
            break;
        }
    }
    PrintTally(tally);
    return tally;
}

}  // namespace relocation_testing

namespace relocation_testing {

namespace {

std::wstring UpperCase(std::wstring text) {
    for (auto& c : text) c = static_cast<wchar_t>(std::towupper(c));
    return text;
}

std::wstring FileChecksum(const std::wstring& path) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return L"unreadable";
    unsigned long long hash = 1469598103934665603ull;  // FNV-1a
    unsigned char buffer[65536];
    DWORD read = 0;
    while (::ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        for (DWORD i = 0; i < read; ++i) hash = (hash ^ buffer[i]) * 1099511628211ull;
    }
    ::CloseHandle(file);
    wchar_t text[32];
    std::swprintf(text, 32, L"%016llx", hash);
    return text;
}

void ListInto(const std::wstring& root, const std::wstring& fullRoot, const std::wstring& relative,
              TreeListing& listing, int depth) {
    if (depth > 32) return;
    const std::wstring folder = relative.empty() ? root : root + L"\\" + relative;
    WIN32_FIND_DATAW entry;
    HANDLE found = ::FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (found == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring child = relative.empty() ? name : relative + L"\\" + name;
        const std::wstring path = root + L"\\" + child;
        std::wstring what;
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            std::wstring target = OnDiskJunctionTarget(path).value_or(L"?");
            const std::wstring prefix = L"\\??\\" + fullRoot;
            if (::CompareStringOrdinal(target.c_str(), static_cast<int>(std::min(target.size(), prefix.size())),
                                       prefix.c_str(), static_cast<int>(prefix.size()), TRUE) == CSTR_EQUAL &&
                (target.size() == prefix.size() || target[prefix.size()] == L'\\')) {
                target = L"<root>" + target.substr(prefix.size());
            }
            what = L"link to " + target;
        } else if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            what = L"folder";
            ListInto(root, fullRoot, child, listing, depth + 1);
        } else {
            what = L"file " + FileChecksum(path);
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) != 0) what += L" hidden";
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) what += L" read-only";
        }
        listing[UpperCase(child)] = what;
    } while (::FindNextFileW(found, &entry));
    ::FindClose(found);
}

}  // namespace

TreeListing ListTree(const std::wstring& root) {
    TreeListing listing;
    ListInto(root, FullPath(root), L"", listing, 0);
    return listing;
}

std::string Show(const TreeListing& listing) {
    if (listing.empty()) return "  (nothing)\n";
    std::string text;
    for (const auto& [path, what] : listing) text += "  " + Narrow(path) + ": " + Narrow(what) + "\n";
    return text;
}

}  // namespace relocation_testing
