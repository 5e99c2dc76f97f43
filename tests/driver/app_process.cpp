#include "tests/driver/app_process.h"

#include "tests/driver/dialog_driver.h"

namespace testing_driver {

namespace {
class SrwGuard {
public:
    explicit SrwGuard(SRWLOCK& lock) : lock_(lock) { ::AcquireSRWLockExclusive(&lock_); }
    ~SrwGuard() { ::ReleaseSRWLockExclusive(&lock_); }
    SrwGuard(const SrwGuard&) = delete;
    SrwGuard& operator=(const SrwGuard&) = delete;

private:
    SRWLOCK& lock_;
};
}  // namespace

std::wstring ToWindowsPath(const std::string& path) {
    std::wstring result;
    if (!path.empty() && path[0] == '/') result = L"Z:";
    for (char c : path) result += (c == '/') ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
    return result;
}

std::wstring DirshiftExePath() { return ToWindowsPath(DIRSHIFT_EXE_PATH); }

std::unique_ptr<AppProcess> AppProcess::StartDirshift(const std::wstring& arguments,
                                                      const std::wstring& workingDirectory) {
    const std::wstring exe = DirshiftExePath();
    std::wstring commandLine = L"\"" + exe + L"\"";
    if (!arguments.empty()) commandLine += L" " + arguments;
    return Start(exe, commandLine, workingDirectory);
}

std::unique_ptr<AppProcess> AppProcess::Start(const std::wstring& exePath, const std::wstring& commandLine,
                                              const std::wstring& workingDirectory) {
    std::unique_ptr<AppProcess> app(new AppProcess());
    app->exePath_ = exePath;
    app->commandLine_ = commandLine;
    app->workingDirectory_ = workingDirectory;
    app->started_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    // Debug events go to the thread that created the process, so that thread
    // creates it and then runs the loop until the process has ended.
    app->loopThread_ = ::CreateThread(nullptr, 0, DebugLoopThread, app.get(), 0, nullptr);
    if (app->loopThread_ == nullptr) return nullptr;
    ::WaitForSingleObject(app->started_, INFINITE);
    if (app->startFailed_) return nullptr;
    return app;
}

AppProcess::~AppProcess() {
    if (!exited_) Kill();
    if (loopThread_ != nullptr) {
        ::WaitForSingleObject(loopThread_, 10000);
        ::CloseHandle(loopThread_);
    }
    if (process_ != nullptr) ::CloseHandle(process_);
    if (started_ != nullptr) ::CloseHandle(started_);
}

DWORD WINAPI AppProcess::DebugLoopThread(void* self) {
    static_cast<AppProcess*>(self)->RunDebugLoop();
    return 0;
}

void AppProcess::RunDebugLoop() {
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    std::wstring commandLine = commandLine_;  // CreateProcessW may write into it
    const BOOL created = ::CreateProcessW(
        exePath_.c_str(), &commandLine[0], nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS, nullptr,
        workingDirectory_.empty() ? nullptr : workingDirectory_.c_str(), &startup, &info);
    if (!created) {
        startFailed_ = true;
        ::SetEvent(started_);
        return;
    }
    ::DuplicateHandle(::GetCurrentProcess(), info.hProcess, ::GetCurrentProcess(), &process_, 0, FALSE,
                      DUPLICATE_SAME_ACCESS);
    processId_ = info.dwProcessId;
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
    ::SetEvent(started_);

    for (;;) {
        DEBUG_EVENT event = {};
        if (!::WaitForDebugEvent(&event, INFINITE)) break;
        DWORD continueStatus = DBG_CONTINUE;
        switch (event.dwDebugEventCode) {
        case CREATE_PROCESS_DEBUG_EVENT:
            if (event.u.CreateProcessInfo.hFile != nullptr) ::CloseHandle(event.u.CreateProcessInfo.hFile);
            break;
        case LOAD_DLL_DEBUG_EVENT:
            if (event.u.LoadDll.hFile != nullptr) ::CloseHandle(event.u.LoadDll.hFile);
            break;
        case OUTPUT_DEBUG_STRING_EVENT:
            RecordDebugString(event.u.DebugString);
            break;
        case EXCEPTION_DEBUG_EVENT:
            // The loader's first breakpoint is ours to swallow; every other exception
            // belongs to the program.
            if (event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT ||
                !event.u.Exception.dwFirstChance) {
                continueStatus = DBG_EXCEPTION_NOT_HANDLED;
            }
            break;
        case EXIT_PROCESS_DEBUG_EVENT:
            exitCode_ = event.u.ExitProcess.dwExitCode;
            exited_ = true;
            ::ContinueDebugEvent(event.dwProcessId, event.dwThreadId, DBG_CONTINUE);
            return;
        default:
            break;
        }
        ::ContinueDebugEvent(event.dwProcessId, event.dwThreadId, continueStatus);
    }
}

void AppProcess::RecordDebugString(const OUTPUT_DEBUG_STRING_INFO& info) {
    const SIZE_T units = info.nDebugStringLength;
    if (units == 0 || units > 65536) return;
    std::wstring line;
    SIZE_T read = 0;
    if (info.fUnicode) {
        std::vector<wchar_t> buffer(units + 1, L'\0');
        if (!::ReadProcessMemory(process_, info.lpDebugStringData, buffer.data(), units * sizeof(wchar_t), &read))
            return;
        line.assign(buffer.data());
    } else {
        std::vector<char> buffer(units + 1, '\0');
        if (!::ReadProcessMemory(process_, info.lpDebugStringData, buffer.data(), units, &read)) return;
        const int length = ::MultiByteToWideChar(CP_ACP, 0, buffer.data(), -1, nullptr, 0);
        if (length > 0) {
            line.resize(static_cast<size_t>(length));
            ::MultiByteToWideChar(CP_ACP, 0, buffer.data(), -1, &line[0], length);
            line.resize(static_cast<size_t>(length - 1));
        }
    }
    SrwGuard guard(linesLock_);
    lines_.push_back(std::move(line));
}

HWND AppProcess::WaitForDialog(const wchar_t* caption, DWORD timeoutMs) const {
    HWND found = nullptr;
    WaitUntil(
        [&] {
            for (HWND window : TopLevelWindows(processId_)) {
                if (!::IsWindowVisible(window) || ClassNameOf(window) != L"#32770") continue;
                if (caption == nullptr || WindowText(window) == caption) {
                    found = window;
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    return found;
}

std::optional<DWORD> AppProcess::WaitForExit(DWORD timeoutMs) {
    if (!WaitUntil([&] { return exited_.load(); }, timeoutMs)) return std::nullopt;
    return exitCode_.load();
}

std::vector<std::wstring> AppProcess::DebugLines() const {
    SrwGuard guard(linesLock_);
    return lines_;
}

bool AppProcess::WaitForDebugLine(const std::wstring& line, DWORD timeoutMs) const {
    return WaitUntil(
        [&] {
            SrwGuard guard(linesLock_);
            for (const auto& l : lines_)
                if (l == line) return true;
            return false;
        },
        timeoutMs);
}

void AppProcess::Kill() {
    if (process_ != nullptr && !exited_) ::TerminateProcess(process_, 0xDEAD);
    WaitUntil([&] { return exited_.load(); }, 10000);
}

}  // namespace testing_driver
