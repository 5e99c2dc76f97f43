#include "tests/installer/installer_harness.h"

#include <shlobj.h>

#include <algorithm>
#include <cwctype>
#include <functional>

#include "base/unique_resource.h"
#include "tests/driver/app_process.h"
#include "tests/driver/dialog_driver.h"

namespace installer_testing {

namespace {

constexpr REGSAM kView = KEY_WOW64_64KEY;

std::wstring Lower(std::wstring text) {
    for (auto& c : text) c = static_cast<wchar_t>(::towlower(c));
    return text;
}

std::wstring Hex(const BYTE* data, DWORD size) {
    static const wchar_t digits[] = L"0123456789abcdef";
    std::wstring text;
    for (DWORD i = 0; i < size; ++i) {
        text += digits[data[i] >> 4];
        text += digits[data[i] & 0xF];
    }
    return text;
}

void DumpKeyInto(HKEY root, const std::wstring& key, std::vector<std::wstring>& lines) {
    HKEY opened = nullptr;
    if (::RegOpenKeyExW(root, key.c_str(), 0, KEY_READ | kView, &opened) != ERROR_SUCCESS) return;
    UniqueRegKey guard(opened);
    lines.push_back(L"[" + key + L"]");
    // The registry's own limits for a value name and for the values we compare.
    std::vector<wchar_t> name(16384);
    std::vector<BYTE> data(65536);
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataSize = static_cast<DWORD>(data.size());
        DWORD type = 0;
        if (::RegEnumValueW(opened, i, name.data(), &nameLength, nullptr, &type, data.data(), &dataSize) !=
            ERROR_SUCCESS) {
            break;
        }
        lines.push_back(L"[" + key + L"] " + std::wstring(name.data(), nameLength) + L" type " +
                        std::to_wstring(type) + L" = " + Hex(data.data(), dataSize));
    }
    for (const auto& sub : SubkeyNames(root, key)) DumpKeyInto(root, key + L"\\" + sub, lines);
}

void DumpFolderInto(const std::wstring& folder, std::vector<std::wstring>& lines) {
    WIN32_FIND_DATAW entry = {};
    HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return;
    UniqueFindHandle guard(find);
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring path = folder + L"\\" + name;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            lines.push_back(path + L"\\");
            if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) DumpFolderInto(path, lines);
        } else {
            lines.push_back(path + L" " + std::to_wstring(entry.nFileSizeLow));
        }
    } while (::FindNextFileW(find, &entry));
}

std::wstring Joined(std::vector<std::wstring> lines) {
    std::sort(lines.begin(), lines.end());
    std::wstring text;
    for (const auto& line : lines) text += line + L"\n";
    return text;
}

// True while a process of the job runs that is not one of the system's own: the
// first program of a Wine session starts Wine's desktop and service processes, which
// land in the job but are no part of the program's work and outlive it.
bool AnyProgramProcessIn(HANDLE job) {
    struct {
        JOBOBJECT_BASIC_PROCESS_ID_LIST list;
        ULONG_PTR more[255];
    } ids = {};
    ids.list.NumberOfAssignedProcesses = 256;
    if (!::QueryInformationJobObject(job, JobObjectBasicProcessIdList, &ids, sizeof(ids), nullptr)) return false;
    wchar_t systemFolder[MAX_PATH] = L"";
    const UINT length = ::GetWindowsDirectoryW(systemFolder, MAX_PATH);
    const std::wstring systemPrefix = Lower(std::wstring(systemFolder, length) + L"\\");
    for (DWORD i = 0; i < ids.list.NumberOfProcessIdsInList && i < 256; ++i) {
        UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                           static_cast<DWORD>(ids.list.ProcessIdList[i])));
        if (!process) continue;  // already gone
        DWORD exitCode = 0;
        if (::GetExitCodeProcess(process.get(), &exitCode) && exitCode != STILL_ACTIVE) continue;
        wchar_t image[MAX_PATH * 2] = L"";
        DWORD size = MAX_PATH * 2;
        if (::QueryFullProcessImageNameW(process.get(), 0, image, &size) &&
            Lower(std::wstring(image, size)).rfind(systemPrefix, 0) == 0) {
            continue;
        }
        return true;
    }
    return false;
}

}  // namespace

std::wstring SetupExePath() { return testing_driver::ToWindowsPath(DIRSHIFT_SETUP_PATH); }

std::wstring ProgramFilesFolder() {
    PWSTR path = nullptr;
    std::wstring result;
    if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_ProgramFiles, 0, nullptr, &path))) result = path;
    ::CoTaskMemFree(path);
    return result;
}

std::wstring DefaultInstallFolder() { return ProgramFilesFolder() + L"\\Dirshift"; }

std::optional<DWORD> RunAndWaitForAll(const std::wstring& commandLine, DWORD timeoutMs) {
    // A job collects the process and all it starts, so "ended" means the whole tree.
    UniqueHandle job(::CreateJobObjectW(nullptr, nullptr));
    if (!job) return std::nullopt;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    std::wstring mutableLine = commandLine;
    if (!::CreateProcessW(nullptr, &mutableLine[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                          &startup, &info)) {
        return std::nullopt;
    }
    UniqueHandle process(info.hProcess);
    UniqueHandle thread(info.hThread);
    ::AssignProcessToJobObject(job.get(), process.get());
    ::ResumeThread(thread.get());

    if (::WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0) return std::nullopt;
    DWORD exitCode = 0;
    ::GetExitCodeProcess(process.get(), &exitCode);
    const bool treeEnded =
        testing_driver::WaitUntil([&] { return !AnyProgramProcessIn(job.get()); }, timeoutMs);
    if (!treeEnded) return std::nullopt;
    return exitCode;
}

std::optional<DWORD> RunSetup(const std::wstring& arguments) {
    return RunAndWaitForAll(L"\"" + SetupExePath() + L"\" " + arguments);
}

std::optional<DWORD> RunQuietUninstall() {
    const auto command = ReadString(HKEY_LOCAL_MACHINE, kUninstallKey, L"QuietUninstallString");
    if (!command) return std::nullopt;
    return RunAndWaitForAll(*command);
}

void RemoveEveryInstallation() {
    if (KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey)) RunQuietUninstall();
    for (const wchar_t* key : {kRelocateVerbKey, kFindVerbKey, kDriveFindVerbKey, kRestoreVerbKey, kUninstallKey})
        DeleteTree(HKEY_LOCAL_MACHINE, key);
    DeleteFolderTree(DefaultInstallFolder());
}

bool KeyExists(HKEY root, const std::wstring& key) {
    HKEY opened = nullptr;
    if (::RegOpenKeyExW(root, key.c_str(), 0, KEY_READ | kView, &opened) != ERROR_SUCCESS) return false;
    ::RegCloseKey(opened);
    return true;
}

std::optional<std::wstring> ReadString(HKEY root, const std::wstring& key, const wchar_t* value) {
    HKEY opened = nullptr;
    if (::RegOpenKeyExW(root, key.c_str(), 0, KEY_READ | kView, &opened) != ERROR_SUCCESS) return std::nullopt;
    UniqueRegKey guard(opened);
    wchar_t data[4096] = L"";
    DWORD size = sizeof(data) - sizeof(wchar_t);
    if (::RegGetValueW(opened, nullptr, value, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
        return std::nullopt;
    return std::wstring(data);
}

std::optional<DWORD> ReadDword(HKEY root, const std::wstring& key, const wchar_t* value) {
    HKEY opened = nullptr;
    if (::RegOpenKeyExW(root, key.c_str(), 0, KEY_READ | kView, &opened) != ERROR_SUCCESS) return std::nullopt;
    UniqueRegKey guard(opened);
    DWORD data = 0;
    DWORD size = sizeof(data);
    if (::RegGetValueW(opened, nullptr, value, RRF_RT_REG_DWORD, nullptr, &data, &size) != ERROR_SUCCESS)
        return std::nullopt;
    return data;
}

std::vector<std::wstring> SubkeyNames(HKEY root, const std::wstring& key) {
    std::vector<std::wstring> names;
    HKEY opened = nullptr;
    if (::RegOpenKeyExW(root, key.c_str(), 0, KEY_READ | kView, &opened) != ERROR_SUCCESS) return names;
    UniqueRegKey guard(opened);
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD length = 256;
        if (::RegEnumKeyExW(opened, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, length);
    }
    return names;
}

std::wstring DumpKey(HKEY root, const std::wstring& key) {
    std::vector<std::wstring> lines;
    DumpKeyInto(root, key, lines);
    return Joined(std::move(lines));
}

bool WriteString(HKEY root, const std::wstring& key, const wchar_t* value, const std::wstring& data) {
    HKEY created = nullptr;
    if (::RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_WRITE | kView, nullptr, &created, nullptr) !=
        ERROR_SUCCESS) {
        return false;
    }
    UniqueRegKey guard(created);
    return ::RegSetValueExW(created, value, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                            static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

void DeleteTree(HKEY root, const std::wstring& key) {
    // RegDeleteTreeW has no view flag: open the key in the 64-bit view first.
    HKEY opened = nullptr;
    if (::RegOpenKeyExW(root, key.c_str(), 0, KEY_ALL_ACCESS | kView, &opened) != ERROR_SUCCESS) return;
    ::RegDeleteTreeW(opened, nullptr);
    ::RegCloseKey(opened);
    ::RegDeleteKeyExW(root, key.c_str(), kView, 0);
}

void DeleteValue(HKEY root, const std::wstring& key, const wchar_t* value) {
    HKEY opened = nullptr;
    if (::RegOpenKeyExW(root, key.c_str(), 0, KEY_SET_VALUE | kView, &opened) != ERROR_SUCCESS) return;
    ::RegDeleteValueW(opened, value);
    ::RegCloseKey(opened);
}

bool FileExists(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::vector<unsigned char> ReadWholeFile(const std::wstring& path) {
    UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
    if (!file) return {};
    LARGE_INTEGER size = {};
    if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart > 64 * 1024 * 1024) return {};
    std::vector<unsigned char> bytes(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    if (!bytes.empty() && !::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr))
        return {};
    bytes.resize(read);
    return bytes;
}

bool WriteTextFile(const std::wstring& path, const std::string& text) {
    UniqueFileHandle file(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    return ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

std::wstring DumpFolder(const std::wstring& folder) {
    std::vector<std::wstring> lines;
    if (FolderExists(folder)) lines.push_back(folder + L"\\");
    DumpFolderInto(folder, lines);
    return Joined(std::move(lines));
}

void DeleteFolderTree(const std::wstring& folder) {
    WIN32_FIND_DATAW entry = {};
    HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        UniqueFindHandle guard(find);
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = folder + L"\\" + name;
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                DeleteFolderTree(path);
            } else if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                ::RemoveDirectoryW(path.c_str());
            } else {
                ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                ::DeleteFileW(path.c_str());
            }
        } while (::FindNextFileW(find, &entry));
    }
    ::RemoveDirectoryW(folder.c_str());
}

}  // namespace installer_testing
