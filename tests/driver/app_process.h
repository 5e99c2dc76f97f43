// Starts dirshift.exe (or any program) as a child process under a small debugger
// loop, so a test can read the program's debug output lines, wait for its windows
// and collect its exit code.
#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace testing_driver {

// What the program's start-up warning does when a test starts dirshift.exe.
enum class StartupWarning {
    // Skipped: the answer "Yes, do not ask me again" is stored first, exactly as a
    // user who once ticked the box and pressed Yes left it, so the program runs its
    // ordinary code path for that user and opens its face at once.
    AcceptedForGood,
    // Left as the registry holds it: for the warning's own tests.
    AsStored,
};

class AppProcess {
public:
    // Starts `exePath` with the raw command line `commandLine` (which, as for any
    // Windows program, should begin with the program's own quoted path). Returns
    // null when the process cannot be started.
    static std::unique_ptr<AppProcess> Start(const std::wstring& exePath, const std::wstring& commandLine,
                                             const std::wstring& workingDirectory = L"",
                                             StartupWarning warning = StartupWarning::AcceptedForGood);

    // Starts the built dirshift.exe with `arguments` after its quoted path.
    static std::unique_ptr<AppProcess> StartDirshift(const std::wstring& arguments,
                                                     const std::wstring& workingDirectory = L"",
                                                     StartupWarning warning = StartupWarning::AcceptedForGood);

    ~AppProcess();
    AppProcess(const AppProcess&) = delete;
    AppProcess& operator=(const AppProcess&) = delete;

    DWORD processId() const { return processId_; }
    HANDLE processHandle() const { return process_; }

    // The first visible top-level dialog (#32770) of the process whose caption
    // equals `caption` (any caption when null), or null after the time-out.
    HWND WaitForDialog(const wchar_t* caption = nullptr, DWORD timeoutMs = 15000) const;

    // Waits for the process to end; its exit code, or nothing after the time-out.
    std::optional<DWORD> WaitForExit(DWORD timeoutMs = 15000);

    // Every debug line the program wrote so far, in order.
    std::vector<std::wstring> DebugLines() const;
    // True once a line equal to `line` was written (waits up to `timeoutMs`).
    bool WaitForDebugLine(const std::wstring& line, DWORD timeoutMs = 10000) const;

    void Kill();

private:
    AppProcess() = default;
    static DWORD WINAPI DebugLoopThread(void* self);
    void RunDebugLoop();
    void RecordDebugString(const OUTPUT_DEBUG_STRING_INFO& info);

    std::wstring exePath_;
    std::wstring commandLine_;
    std::wstring workingDirectory_;
    HANDLE loopThread_ = nullptr;
    HANDLE started_ = nullptr;  // set once CreateProcessW returned
    HANDLE process_ = nullptr;  // duplicated for the test's own use
    DWORD processId_ = 0;
    bool startFailed_ = false;
    std::atomic<bool> exited_{false};
    std::atomic<DWORD> exitCode_{STILL_ACTIVE};

    mutable SRWLOCK linesLock_ = SRWLOCK_INIT;
    std::vector<std::wstring> lines_;
};

// The start-up warning's remembered answer, as the program files it for the
// current user: under HKCU\Software\Dirshift\dirshift.exe\PromptBox, in the value
// whose name the message box derives from "dirshift.exe" and the warning's text.
std::wstring StartupWarningValueName();
void StoreStartupWarningAnswer(DWORD answer);
void ForgetStartupWarningAnswer();
std::optional<DWORD> StoredStartupWarningAnswer();

// The built dirshift.exe as a Windows path.
std::wstring DirshiftExePath();

// Converts a Unix path (as CMake knows it) to the path Wine shows for it (Z:\...);
// Windows paths are returned unchanged.
std::wstring ToWindowsPath(const std::string& path);

}  // namespace testing_driver
