#include "tests/junction/junction_test_support.h"

#include "base/unique_resource.h"

#include <atomic>

namespace junction_test {

std::wstring UniquePath(const wchar_t* drive, const wchar_t* stem) {
    static std::atomic<unsigned> counter{0};
    wchar_t name[96];
    ::wsprintfW(name, L"%s\\%s-%lu-%lu-%u", drive, stem, ::GetCurrentProcessId(), ::GetTickCount(), ++counter);
    return name;
}

namespace {
std::wstring Extended(const std::wstring& path) {
    return path.size() >= MAX_PATH - 12 && path.compare(0, 4, L"\\\\?\\") != 0 ? L"\\\\?\\" + path : path;
}
}  // namespace

void MakeFolders(const std::wstring& path) {
    for (std::size_t at = path.find(L'\\', 3); at != std::wstring::npos; at = path.find(L'\\', at + 1)) {
        ::CreateDirectoryW(Extended(path.substr(0, at)).c_str(), nullptr);
    }
    ::CreateDirectoryW(Extended(path).c_str(), nullptr);
}

void WriteTextFile(const std::wstring& path, const std::string& text) {
    UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    if (file) ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

std::string ReadTextFile(const std::wstring& path) {
    UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return "<missing>";
    char buffer[256];
    DWORD read = 0;
    if (!::ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr)) return "<missing>";
    return std::string(buffer, read);
}

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring NtName(const std::wstring& fullPath) { return L"\\??\\" + fullPath; }

bool operator==(const Visit& a, const Visit& b) {
    return a.found == b.found && a.path == b.path && a.target == b.target && a.tag == b.tag;
}

namespace {
std::string Narrow(const std::wstring& text) {
    std::string narrow;
    for (wchar_t c : text) narrow += (c < 128) ? static_cast<char>(c) : '?';
    return narrow;
}
}  // namespace

void PrintTo(const Visit& visit, std::ostream* os) {
    if (!visit.found) {
        *os << "Poll";
        return;
    }
    *os << "Found(" << Narrow(visit.path) << ", " << Narrow(visit.target) << ", " << std::hex << visit.tag << std::dec
        << ")";
}

bool RecordVisit(std::uintptr_t context, const wchar_t* path, const wchar_t* target, DWORD tag) {
    auto* log = reinterpret_cast<VisitLog*>(context);
    log->visits.push_back({path != nullptr, path ? path : L"", target ? target : L"", tag});
    return log->stopAt == 0 || log->visits.size() < log->stopAt;
}

}  // namespace junction_test
