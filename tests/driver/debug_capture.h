// Collects the debug lines that the test process itself writes, without a
// debugger. OutputDebugStringW/A announce each line by raising
// DBG_PRINTEXCEPTION_WIDE_C or DBG_PRINTEXCEPTION_C (Windows raises the wide one
// first, Wine 8 only the narrow one); a vectored exception handler records the
// line and marks it as taken, just as an attached debugger would. The program's
// code is not changed in any way.
//
// Use: DebugLineCapture capture; ...call library code...; capture.Lines().
// One capture at a time; lines from every thread of the process are recorded.
// Under Wine the text passes through the ANSI code page, so keep test names ASCII.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace testing_driver {

class DebugLineCapture {
public:
    DebugLineCapture();
    ~DebugLineCapture();
    DebugLineCapture(const DebugLineCapture&) = delete;
    DebugLineCapture& operator=(const DebugLineCapture&) = delete;

    std::vector<std::wstring> Lines() const;
    // The lines that start with `prefix` (for example L"TRESSEL."), in order.
    std::vector<std::wstring> LinesStartingWith(const std::wstring& prefix) const;
    bool Contains(const std::wstring& line) const;
    // When the last line starting with `prefix` was written, in milliseconds on
    // the QueryPerformanceCounter clock (see NowMs); -1 when there is none.
    double LastLineTime(const std::wstring& prefix) const;
    void Clear();

    // The clock of LastLineTime.
    static double NowMs();

private:
    static LONG CALLBACK Handler(EXCEPTION_POINTERS* pointers);
    void Record(std::wstring line);

    void* handler_ = nullptr;
    mutable SRWLOCK lock_ = SRWLOCK_INIT;
    std::vector<std::wstring> lines_;
    std::vector<double> times_;  // when each line was written
};

}  // namespace testing_driver
