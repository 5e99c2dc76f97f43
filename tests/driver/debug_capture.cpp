#include "tests/driver/debug_capture.h"

#include <atomic>

#include "base/srw_lock.h"

namespace testing_driver {

namespace {

constexpr DWORD kPrintException = 0x40010006;      // DBG_PRINTEXCEPTION_C
constexpr DWORD kPrintExceptionWide = 0x4001000A;  // DBG_PRINTEXCEPTION_WIDE_C

std::atomic<DebugLineCapture*> activeCapture{nullptr};


std::wstring NarrowToWide(const char* text, size_t length) {
    std::wstring wide;
    const int units = ::MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0);
    if (units <= 0) return wide;
    wide.resize(static_cast<size_t>(units));
    ::MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), &wide[0], units);
    return wide;
}

}  // namespace

DebugLineCapture::DebugLineCapture() {
    activeCapture = this;
    handler_ = ::AddVectoredExceptionHandler(1, Handler);
}

DebugLineCapture::~DebugLineCapture() {
    if (handler_ != nullptr) ::RemoveVectoredExceptionHandler(handler_);
    activeCapture = nullptr;
}

LONG CALLBACK DebugLineCapture::Handler(EXCEPTION_POINTERS* pointers) {
    const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
    DebugLineCapture* capture = activeCapture;
    if (capture == nullptr || record.NumberParameters < 2) return EXCEPTION_CONTINUE_SEARCH;
    // Parameter 0 is the length with the terminator, parameter 1 the text.
    const size_t length = record.ExceptionInformation[0] > 0 ? record.ExceptionInformation[0] - 1 : 0;
    if (record.ExceptionCode == kPrintExceptionWide) {
        const auto* text = reinterpret_cast<const wchar_t*>(record.ExceptionInformation[1]);
        capture->Record(std::wstring(text, length));
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    if (record.ExceptionCode == kPrintException) {
        const auto* text = reinterpret_cast<const char*>(record.ExceptionInformation[1]);
        capture->Record(NarrowToWide(text, length));
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

void DebugLineCapture::Record(std::wstring line) {
    const double now = NowMs();
    SrwExclusiveGuard guard(lock_);
    lines_.push_back(std::move(line));
    times_.push_back(now);
}

double DebugLineCapture::NowMs() {
    LARGE_INTEGER frequency, counter;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&counter);
    return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double DebugLineCapture::LastLineTime(const std::wstring& prefix) const {
    SrwExclusiveGuard guard(lock_);
    for (std::size_t i = lines_.size(); i-- > 0;) {
        if (lines_[i].compare(0, prefix.size(), prefix) == 0) return times_[i];
    }
    return -1;
}

std::vector<std::wstring> DebugLineCapture::Lines() const {
    SrwExclusiveGuard guard(lock_);
    return lines_;
}

std::vector<std::wstring> DebugLineCapture::LinesStartingWith(const std::wstring& prefix) const {
    std::vector<std::wstring> matching;
    for (const std::wstring& line : Lines()) {
        if (line.compare(0, prefix.size(), prefix) == 0) matching.push_back(line);
    }
    return matching;
}

bool DebugLineCapture::Contains(const std::wstring& line) const {
    for (const std::wstring& recorded : Lines()) {
        if (recorded == line) return true;
    }
    return false;
}

void DebugLineCapture::Clear() {
    SrwExclusiveGuard guard(lock_);
    lines_.clear();
    times_.clear();
}

}  // namespace testing_driver
