// What the installer tests need around the built dirshift-setup-<version>.exe: run
// it and the uninstaller it writes as a user or a script would, and read back the
// files and registry values they leave (always in the 64-bit registry view).
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace installer_testing {

// Where the installer writes, as a user would look for it.
constexpr wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Dirshift";
constexpr wchar_t kUninstallParentKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr wchar_t kFolderShellKey[] = L"Software\\Classes\\Directory\\shell";
constexpr wchar_t kDriveShellKey[] = L"Software\\Classes\\Drive\\shell";
constexpr wchar_t kRelocateVerbKey[] = L"Software\\Classes\\Directory\\shell\\Dirshift.Relocate";
constexpr wchar_t kFindVerbKey[] = L"Software\\Classes\\Directory\\shell\\Dirshift.FindJunctions";
constexpr wchar_t kRestoreVerbKey[] = L"Software\\Classes\\Directory\\shell\\Dirshift.MoveBack";
constexpr wchar_t kDriveFindVerbKey[] = L"Software\\Classes\\Drive\\shell\\Dirshift.FindJunctions";
constexpr wchar_t kSettingsKey[] = L"Software\\Dirshift";

std::wstring SetupExePath();  // the built installer, as a Windows path
std::wstring ProgramFilesFolder();  // the 64-bit Program Files folder
std::wstring DefaultInstallFolder();  // <Program Files>\Dirshift

// Starts `commandLine` and waits until the process and every process it started
// have ended (an NSIS uninstaller hands its work to a copy of itself and returns).
// The first process's exit code, or nothing when it did not start or end in time.
std::optional<DWORD> RunAndWaitForAll(const std::wstring& commandLine, DWORD timeoutMs = 60000);

// The installer with `arguments` after its quoted path ("/S", "/S /D=C:\x").
std::optional<DWORD> RunSetup(const std::wstring& arguments);
// The uninstaller as Add/Remove Programs' scripted removal runs it:
// QuietUninstallString as registered. Nothing when there is none.
std::optional<DWORD> RunQuietUninstall();

// Leaves the machine with no installation: the registered uninstaller first, then
// whatever a broken earlier run might have left of the program's keys and files.
void RemoveEveryInstallation();

// Registry, HKLM or HKCU, 64-bit view.
bool KeyExists(HKEY root, const std::wstring& key);
std::optional<std::wstring> ReadString(HKEY root, const std::wstring& key, const wchar_t* value);
std::optional<DWORD> ReadDword(HKEY root, const std::wstring& key, const wchar_t* value);
std::vector<std::wstring> SubkeyNames(HKEY root, const std::wstring& key);
// Every subkey and value below `key` as sorted text lines; empty when the key is missing.
std::wstring DumpKey(HKEY root, const std::wstring& key);
bool WriteString(HKEY root, const std::wstring& key, const wchar_t* value, const std::wstring& data);
void DeleteTree(HKEY root, const std::wstring& key);
void DeleteValue(HKEY root, const std::wstring& key, const wchar_t* value);

// Files.
bool FileExists(const std::wstring& path);
bool FolderExists(const std::wstring& path);
std::vector<unsigned char> ReadWholeFile(const std::wstring& path);
bool WriteTextFile(const std::wstring& path, const std::string& text);
// Every file and folder below `folder` with file sizes, as sorted text lines; empty when missing.
std::wstring DumpFolder(const std::wstring& folder);
void DeleteFolderTree(const std::wstring& folder);

}  // namespace installer_testing
