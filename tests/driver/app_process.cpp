#include "tests/driver/app_process.h"

#include <cstdint>
#include <cstdio>

#include "base/srw_lock.h"
#include "app/startup_warning.h"
#include "tests/driver/dialog_driver.h"

namespace testing_driver {

std::wstring ToWindowsPath(const std::string& path) {
    std::wstring result;
    if (!path.empty() && path[0] == '/') result = L"Z:";
    for (char c : path) result += (c == '/') ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
    return result;
}

std::wstring DirshiftExePath() { return ToWindowsPath(DIRSHIFT_EXE_PATH); }

namespace {

// The message box's remembered-answer names, computed here on their own so that a
// test also notices when the program files the answer elsewhere.
std::wstring EncodedModuleName(const std::wstring& moduleName) {
    static const wchar_t alphabet[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcdefghijklmnopqrstuvwxyz98";
    std::wstring encoded;
    for (size_t i = 0; i < moduleName.size() && i < 490; ++i) {
        encoded += alphabet[(static_cast<unsigned>(moduleName[i]) + 5u * static_cast<unsigned>(i)) % 64u];
    }
    return encoded;
}

std::int32_t MessageKey(const std::wstring& text) {
    const std::uint32_t n = static_cast<std::uint32_t>(text.size());
    std::uint32_t sum = 0;  // unsigned, so the wrap-around is defined
    for (std::uint32_t i = 0; i < n; ++i) sum += (static_cast<std::uint32_t>(text[i]) & 0xFFu) * (i + n);
    return static_cast<std::int32_t>(sum);
}

std::wstring PromptBoxKeyPath() {
    const std::wstring exe = DirshiftExePath();
    return L"Software\\Dirshift\\" + exe.substr(exe.find_last_of(L'\\') + 1) + L"\\PromptBox";
}

}  // namespace

std::wstring StartupWarningValueName() {
    return EncodedModuleName(kPromptModuleName) + std::to_wstring(MessageKey(kStartupWarningText));
}

void StoreStartupWarningAnswer(DWORD answer) {
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, PromptBoxKeyPath().c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                          nullptr) != ERROR_SUCCESS)
        return;
    ::RegSetValueExW(key, StartupWarningValueName().c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&answer),
                     sizeof(answer));
    ::RegCloseKey(key);
}

void ForgetStartupWarningAnswer() {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, PromptBoxKeyPath().c_str(), 0, KEY_WRITE, &key) != ERROR_SUCCESS) return;
    ::RegDeleteValueW(key, StartupWarningValueName().c_str());
    ::RegCloseKey(key);
}

std::optional<DWORD> StoredStartupWarningAnswer() {
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (::RegGetValueW(HKEY_CURRENT_USER, PromptBoxKeyPath().c_str(), StartupWarningValueName().c_str(),
                       RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS)
        return std::nullopt;
    return value;
}

std::unique_ptr<AppProcess> AppProcess::StartDirshift(const std::wstring& arguments,
                                                      const std::wstring& workingDirectory, StartupWarning warning) {
    const std::wstring exe = DirshiftExePath();
    std::wstring commandLine = L"\"" + exe + L"\"";
    if (!arguments.empty()) commandLine += L" " + arguments;
    return Start(exe, commandLine, workingDirectory, warning);
}

std::unique_ptr<AppProcess> AppProcess::Start(const std::wstring& exePath, const std::wstring& commandLine,
                                              const std::wstring& workingDirectory, StartupWarning warning) {
    // IDYES with PB_DONTASKAGAIN: the answer of a user who ticked the box and said Yes.
    if (warning == StartupWarning::AcceptedForGood) StoreStartupWarningAnswer(0x01000006);
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
        // Said here because a test that never saw its program should say why: under
        // Wine this is also how a child that died while it started shows itself.
        std::fwprintf(stderr, L"AppProcess: could not start %ls (error %lu)\n", commandLine_.c_str(),
                      ::GetLastError());
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
    SrwExclusiveGuard guard(linesLock_);
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
    SrwExclusiveGuard guard(linesLock_);
    return lines_;
}

bool AppProcess::WaitForDebugLine(const std::wstring& line, DWORD timeoutMs) const {
    return WaitUntil(
        [&] {
            SrwExclusiveGuard guard(linesLock_);
            for (const auto& l : lines_)
                if (l == line) return true;
            return false;
        },
        timeoutMs);
}

void AppProcess::Kill() {
    if (process_ == nullptr) return;  // never started: nothing will end
    if (!exited_) ::TerminateProcess(process_, 0xDEAD);
    WaitUntil([&] { return exited_.load(); }, 10000);
}

}  // namespace testing_driver
