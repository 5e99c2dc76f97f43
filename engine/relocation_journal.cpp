#include "engine/relocation_journal.h"

#include <shlobj.h>

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <iterator>
#include <utility>

#include "engine/disk_calls.h"
#include "engine/folder_security.h"
#include "junction/link_data.h"
#include "base/debug_log.h"
#include "base/text.h"
#include "base/unique_resource.h"

namespace {

constexpr wchar_t kHeader[] = L"Dirshift relocation journal 1";
constexpr wchar_t kRecordHeader[] = L"Dirshift moved record 1";
constexpr wchar_t kFileName[] = L"relocation.journal";
constexpr wchar_t kFreshSuffix[] = L".new";
constexpr wchar_t kByteOrderMark = 0xFEFF;
// Far beyond any real journal (a name per top-level entry); a larger file is
// not ours, and reading it whole would only cost memory.
constexpr LONGLONG kMaxJournalBytes = 64LL * 1024 * 1024;
// MAXIMUM_REPARSE_DATA_BUFFER_SIZE.
constexpr size_t kMaxReparseBytes = 16 * 1024;
constexpr DWORD kMaxFinalPath = 32768;

struct PhaseName {
    JournalPhase phase;
    const wchar_t* name;
};
constexpr PhaseName kPhases[] = {
    {JournalPhase::Moving, L"moving"},
    {JournalPhase::Moved, L"moved"},
    {JournalPhase::SourceRemoved, L"source-removed"},
    {JournalPhase::JunctionMade, L"junction-made"},
    {JournalPhase::RollingBack, L"rolling-back"},
    {JournalPhase::Copying, L"copying"},
    {JournalPhase::Verified, L"verified"},
    {JournalPhase::Swapped, L"swapped"},
    {JournalPhase::DeletingSource, L"deleting-source"},
};

const wchar_t* NameOf(JournalPhase phase) {
    for (const auto& entry : kPhases) {
        if (entry.phase == phase) return entry.name;
    }
    return L"";
}

bool PhaseNamed(const std::wstring& name, JournalPhase& phase) {
    for (const auto& entry : kPhases) {
        if (name == entry.name) {
            phase = entry.phase;
            return true;
        }
    }
    return false;
}

// FNV-1a over the UTF-16 code units: enough to tell a torn or edited journal.
std::uint64_t Checksum(const wchar_t* text, size_t length) {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (size_t i = 0; i < length; ++i) {
        hash ^= static_cast<std::uint16_t>(text[i]);
        hash *= 0x100000001b3ull;
    }
    return hash;
}

std::wstring Hex(std::uint64_t value, int digits) {
    static const wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring text(static_cast<size_t>(digits), L'0');
    for (int i = digits - 1; i >= 0; --i, value >>= 4) text[static_cast<size_t>(i)] = kDigits[value & 0xF];
    return text;
}

int HexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    return -1;
}

bool ParseHexBytes(const std::wstring& text, std::vector<BYTE>& bytes) {
    if (text.size() % 2 != 0 || text.size() / 2 > kMaxReparseBytes) return false;
    bytes.clear();
    for (size_t i = 0; i < text.size(); i += 2) {
        const int high = HexDigit(text[i]);
        const int low = HexDigit(text[i + 1]);
        if (high < 0 || low < 0) return false;
        bytes.push_back(static_cast<BYTE>(high * 16 + low));
    }
    return true;
}

bool ParseChecksum(const std::wstring& text, std::uint64_t& value) {
    if (text.size() != 16) return false;
    value = 0;
    for (wchar_t c : text) {
        const int digit = HexDigit(c);
        if (digit < 0) return false;
        value = value * 16 + static_cast<unsigned>(digit);
    }
    return true;
}

// One component of a path: what a folder may hold.
bool IsPlainName(const std::wstring& name) {
    if (name.empty() || IsDotEntry(name.c_str())) return false;
    for (wchar_t c : name) {
        if (c < 32 || std::wstring(L"\\/:*?\"<>|").find(c) != std::wstring::npos) return false;
    }
    return true;
}

// True when every component of `path` from `start` on is a plain name.
bool ComponentsArePlain(const std::wstring& path, size_t start) {
    while (start <= path.size()) {
        const size_t end = std::min(path.find(L'\\', start), path.size());
        if (!IsPlainName(path.substr(start, end - start))) return false;
        start = end + 1;
    }
    return true;
}

// "X:\" or "X:\name\name...": a full path on a local drive letter, without "." or
// ".." components. Anything else the journal names could not be checked before
// acting on it.
bool IsFullLocalPath(const std::wstring& path) {
    if (path.size() < 3 || path[1] != L':' || path[2] != L'\\') return false;
    const wchar_t drive = path[0];
    if (!((drive >= L'A' && drive <= L'Z') || (drive >= L'a' && drive <= L'z'))) return false;
    return path.size() == 3 || ComponentsArePlain(path, 3);
}

bool IsRelativePath(const std::wstring& path) { return ComponentsArePlain(path, 0); }

// The "key=value" lines of a sealed text whose first line is `header`, in order.
// False for a text that is not whole: a wrong checksum or header, a line without
// "=".
bool ReadSealedLines(const std::wstring& text, const wchar_t* header,
                     std::vector<std::pair<std::wstring, std::wstring>>& lines) {
    lines.clear();
    const size_t checkAt = text.rfind(L"check=");
    if (checkAt == std::wstring::npos || (checkAt > 0 && text[checkAt - 1] != L'\n')) return false;
    if (text.empty() || text.back() != L'\n') return false;
    std::uint64_t stored = 0;
    if (!ParseChecksum(text.substr(checkAt + 6, text.size() - checkAt - 7), stored) ||
        stored != Checksum(text.c_str(), checkAt)) {
        return false;
    }
    bool first = true;
    size_t start = 0;
    while (start < checkAt) {
        const size_t end = text.find(L'\n', start);
        const std::wstring line = text.substr(start, end - start);
        start = end + 1;
        if (first) {
            if (line != header) return false;
            first = false;
            continue;
        }
        const size_t equals = line.find(L'=');
        if (equals == std::wstring::npos) return false;
        lines.emplace_back(line.substr(0, equals), line.substr(equals + 1));
    }
    return !first;
}

std::uint32_t Little32(const std::vector<BYTE>& data, size_t offset) {
    return static_cast<std::uint32_t>(data[offset]) | (static_cast<std::uint32_t>(data[offset + 1]) << 8) |
           (static_cast<std::uint32_t>(data[offset + 2]) << 16) | (static_cast<std::uint32_t>(data[offset + 3]) << 24);
}

// Reparse data that is whole (its stated length is its length) and of a link: a
// junction (folders only) or a symbolic link. Whatever else a journal could name
// would make the recovery write a reparse point of another kind.
bool IsLinkData(const std::vector<BYTE>& data, bool folder) {
    if (data.size() < 8) return false;
    const size_t stated = static_cast<size_t>(data[4]) | (static_cast<size_t>(data[5]) << 8);
    if (stated + 8 != data.size()) return false;
    const std::uint32_t tag = Little32(data, 0);
    const bool junction = tag == IO_REPARSE_TAG_MOUNT_POINT;
    if (!(junction && folder) && tag != IO_REPARSE_TAG_SYMLINK) return false;
    return !LinkSubstituteName(ReparseBytes(data.begin(), data.end())).empty();
}

// A move back's junction as recorded must be a junction to the journal's own
// target: undoing the move back writes exactly these bytes.
bool IsJunctionToTarget(const std::vector<BYTE>& data, const std::wstring& target) {
    if (!IsLinkData(data, true) || Little32(data, 0) != IO_REPARSE_TAG_MOUNT_POINT) return false;
    const std::wstring stored = LinkSubstituteName(ReparseBytes(data.begin(), data.end()));
    const std::wstring expected = L"\\??\\" + target;
    return ::CompareStringOrdinal(stored.c_str(), -1, expected.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// Two different names in the same folder, neither of them a drive's root.
bool SidesInOneParent(const std::wstring& source, const std::wstring& aside) {
    const size_t sourceSlash = source.find_last_of(L'\\');
    const size_t asideSlash = aside.find_last_of(L'\\');
    if (sourceSlash == std::wstring::npos || asideSlash == std::wstring::npos || sourceSlash + 1 >= source.size() ||
        asideSlash + 1 >= aside.size() || sourceSlash != asideSlash) {
        return false;
    }
    return ::CompareStringOrdinal(source.c_str(), static_cast<int>(sourceSlash), aside.c_str(),
                                  static_cast<int>(asideSlash), TRUE) == CSTR_EQUAL &&
           ::CompareStringOrdinal(source.c_str(), -1, aside.c_str(), -1, TRUE) != CSTR_EQUAL;
}

bool ParseLine(const std::wstring& key, const std::wstring& value, RelocationJournal& journal, bool& sawPhase) {
    if (key == L"kind") {
        if (value == L"relocation") {
            journal.kind = JournalKind::Relocation;
        } else if (value == L"move-back") {
            journal.kind = JournalKind::MoveBack;
        } else {
            return false;
        }
        return true;
    }
    if (key == L"junction") return ParseHexBytes(value, journal.junctionData) && !journal.junctionData.empty();
    if (key == L"phase") {
        sawPhase = true;
        return PhaseNamed(value, journal.phase);
    }
    if (key == L"source") {
        journal.source = value;
        return IsFullLocalPath(value);
    }
    if (key == L"target") {
        journal.target = value;
        return IsFullLocalPath(value);
    }
    if (key == L"aside") {
        journal.aside = value;
        return IsFullLocalPath(value);
    }
    if (key == L"source-id") return ParseFolderId(value, journal.sourceId);
    if (key == L"target-id") return ParseFolderId(value, journal.targetId);
    if (key == L"entry") {
        journal.entries.push_back(value);
        return IsPlainName(value);
    }
    if (key == L"link" || key == L"file-link") {
        const size_t bar = value.find(L'|');
        if (bar == std::wstring::npos) return false;
        JournalLink link;
        link.folder = key == L"link";
        link.relativePath = value.substr(0, bar);
        if (!IsRelativePath(link.relativePath) || !ParseHexBytes(value.substr(bar + 1), link.reparseData) ||
            !IsLinkData(link.reparseData, link.folder)) {
            return false;
        }
        journal.links.push_back(std::move(link));
        return true;
    }
    return false;
}

}  // namespace

bool ParseMovedRecord(const std::wstring& text, MovedRecord& record) {
    record = MovedRecord{};
    std::vector<std::pair<std::wstring, std::wstring>> lines;
    if (!ReadSealedLines(text, kRecordHeader, lines)) return false;
    for (const auto& [key, value] : lines) {
        if (key == L"junction" && IsFullLocalPath(value)) {
            record.junction = value;
        } else if (key == L"target" && IsFullLocalPath(value)) {
            record.target = value;
        } else if (key == L"target-id") {
            if (!ParseFolderId(value, record.targetId)) return false;
        } else if (key == L"entry" && IsPlainName(value)) {
            record.entries.push_back(value);
        } else {
            return false;
        }
    }
    return !record.junction.empty() && !record.target.empty();
}

std::wstring FormatJournal(const RelocationJournal& journal) {
    std::wstring text = kHeader;
    // A relocation's journal reads as it always did; only a move back says more.
    if (journal.kind == JournalKind::MoveBack) text += L"\nkind=move-back";
    text += L"\nphase=";
    text += NameOf(journal.phase);
    text += L"\nsource=" + journal.source + L"\ntarget=" + journal.target + L"\n";
    if (journal.kind == JournalKind::MoveBack) {
        text += L"junction=";
        for (BYTE b : journal.junctionData) text += Hex(b, 2);
        text += L"\n";
    }
    if (!journal.aside.empty()) text += L"aside=" + journal.aside + L"\n";
    if (journal.sourceId.known()) text += L"source-id=" + FormatFolderId(journal.sourceId) + L"\n";
    if (journal.targetId.known()) text += L"target-id=" + FormatFolderId(journal.targetId) + L"\n";
    for (const auto& entry : journal.entries) text += L"entry=" + entry + L"\n";
    for (const auto& link : journal.links) {
        text += (link.folder ? L"link=" : L"file-link=") + link.relativePath + L"|";
        for (BYTE b : link.reparseData) text += Hex(b, 2);
        text += L"\n";
    }
    return SealJournalText(text);
}

std::wstring SealJournalText(const std::wstring& body) {
    return body + L"check=" + Hex(Checksum(body.c_str(), body.size()), 16) + L"\n";
}

bool ParseJournal(const std::wstring& text, RelocationJournal& journal) {
    journal = RelocationJournal{};
    std::vector<std::pair<std::wstring, std::wstring>> lines;
    if (!ReadSealedLines(text, kHeader, lines)) return false;
    bool sawPhase = false;
    for (const auto& [key, value] : lines) {
        if (!ParseLine(key, value, journal, sawPhase)) return false;
    }
    const bool junctionKnown = journal.kind == JournalKind::Relocation
                                   ? journal.junctionData.empty()
                                   : IsJunctionToTarget(journal.junctionData, journal.target);
    // The source goes aside in its own parent only, by a rename there: an aside
    // anywhere else is no journal of this program's.
    const bool asideKnown =
        IsCopyPhase(journal.phase) ? SidesInOneParent(journal.source, journal.aside) : journal.aside.empty();
    return sawPhase && !journal.source.empty() && !journal.target.empty() && junctionKnown && asideKnown;
}

bool IsCopyPhase(JournalPhase phase) {
    return phase == JournalPhase::Copying || phase == JournalPhase::Verified || phase == JournalPhase::Swapped ||
           phase == JournalPhase::DeletingSource;
}

namespace {

constexpr DWORD kGuardAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;

// Only administrators (and the system) may change `object`, and it is what it
// should be: a folder or a file with one name, never a reparse point.
bool TrustedObject(HANDLE object, bool folder) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(object, &info)) return false;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return false;
    if (((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) != folder) return false;
    if (!folder && info.nNumberOfLinks > 1) return false;
    SecurityBytes sd;
    return ReadSecurity(object, sd) && WritersBeyond(WritersOf(sd), AdministratorPrincipals()).empty();
}

enum class Guard { Trusted, Missing, Untrusted };

// Opens each of `folders` (outermost first), making those that are missing when
// `make`, and checks it. The handles stay in `holds`: while they are held, none of
// the folders can be renamed or deleted, so none can be swapped for a link.
Guard GuardFolders(const std::vector<std::wstring>& folders, bool make, std::vector<UniqueFileHandle>& holds) {
    holds.clear();
    for (const std::wstring& folder : folders) {
        if (make) {
            SecurityBytes sd = AdministratorsOnlySecurity();
            SECURITY_ATTRIBUTES attributes = {sizeof(attributes), sd.empty() ? nullptr : sd.data(), FALSE};
            if (!sd.empty() && !::CreateDirectoryW(folder.c_str(), &attributes) &&
                ::GetLastError() != ERROR_ALREADY_EXISTS) {
                DebugErrorLine((L"Tressel.Error: the journal's folder cannot be made: " + folder).c_str());
                return Guard::Missing;
            }
        }
        UniqueFileHandle hold(::CreateFileW(folder.c_str(), kGuardAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                            nullptr));
        if (!hold) {
            const DWORD error = ::GetLastError();
            if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return Guard::Missing;
            DebugErrorLine((L"Tressel.Error: the journal's folder cannot be opened: " + folder).c_str(), error);
            return Guard::Untrusted;
        }
        if (!TrustedObject(hold.get(), true)) {
            DebugErrorLine((L"Tressel.Error: the journal's folder may be changed by others than administrators: " +
                            folder).c_str());
            return Guard::Untrusted;
        }
        holds.push_back(std::move(hold));
    }
    return Guard::Trusted;
}

}  // namespace

JournalStore::JournalStore(std::wstring folder) : JournalStore(std::vector<std::wstring>{std::move(folder)}) {}

JournalStore::JournalStore(std::vector<std::wstring> folders)
    : folders_(std::move(folders)),
      folder_(folders_.empty() ? std::wstring() : folders_.back()),
      path_(folder_ + L"\\" + kFileName) {
    // Without a folder there is no place for a journal: an empty store writes
    // nothing, and nothing then starts.
    if (folder_.empty()) folders_.clear();
}

JournalStore JournalStore::ForCurrentUser() {
    std::wstring base;
    PWSTR data = nullptr;
    if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &data))) base = data;
    ::CoTaskMemFree(data);
    const std::wstring user = CurrentUserSid();
    if (base.empty() || user.empty()) return JournalStore(std::wstring());
    const std::wstring dirshift = base + L"\\Dirshift";
    const std::wstring journals = dirshift + L"\\journal";
    return JournalStore(std::vector<std::wstring>{dirshift, journals, journals + L"\\" + user});
}

std::wstring JournalStore::EarlierJournalPath() {
    std::wstring path;
    PWSTR local = nullptr;
    if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &local))) {
        path = std::wstring(local) + L"\\Dirshift\\" + kFileName;
    }
    ::CoTaskMemFree(local);
    return path;
}

bool JournalStore::DeleteEarlierJournal(const std::wstring& path) {
    UniqueFileHandle file(::CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!file || !::GetFileInformationByHandle(file.get(), &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        return false;
    }
    // A folder on the way swapped for a junction would have led the open elsewhere.
    std::vector<wchar_t> opened(kMaxFinalPath);
    const DWORD length = ::GetFinalPathNameByHandleW(file.get(), opened.data(), kMaxFinalPath, FILE_NAME_NORMALIZED);
    std::vector<wchar_t> expected(kMaxFinalPath);
    const DWORD expectedLength = ::GetFullPathNameW(path.c_str(), kMaxFinalPath, expected.data(), nullptr);
    if (length == 0 || length >= kMaxFinalPath || expectedLength == 0 || expectedLength >= kMaxFinalPath) return false;
    const wchar_t* openedPath = opened.data();
    if (std::wcsncmp(openedPath, L"\\\\?\\", 4) == 0) openedPath += 4;
    if (::CompareStringOrdinal(openedPath, -1, expected.data(), -1, TRUE) != CSTR_EQUAL) {
        DebugErrorLine((L"Tressel.Error: the earlier journal leads elsewhere: " + std::wstring(openedPath)).c_str());
        return false;
    }
    FILE_DISPOSITION_INFO disposition = {TRUE};
    return ::SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition, sizeof(disposition)) != FALSE;
}

bool JournalStore::Trusted() const {
    if (folders_.empty()) return false;
    std::vector<UniqueFileHandle> holds;
    switch (GuardFolders(folders_, false, holds)) {
    case Guard::Missing:
        return true;  // nothing there yet: it is made safe when first written
    case Guard::Untrusted:
        return false;
    case Guard::Trusted:
        break;
    }
    UniqueFileHandle file(::CreateFileW(path_.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    return TrustedObject(file.get(), false);
}

bool JournalStore::WriteText(const std::wstring& path, const std::wstring& body) const {
    if (folders_.empty()) return false;
    std::vector<UniqueFileHandle> holds;
    if (GuardFolders(folders_, true, holds) != Guard::Trusted) return false;
    const std::wstring text = kByteOrderMark + body;
    const std::wstring fresh = path + kFreshSuffix;
    {
        UniqueFileHandle file(disk::Open(fresh, GENERIC_WRITE | READ_CONTROL, 0, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH | FILE_FLAG_OPEN_REPARSE_POINT));
        const DWORD bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        DWORD written = 0;
        if (!file || !TrustedObject(file.get(), false) || !disk::Write(file.get(), text.data(), bytes, written) ||
            written != bytes || !disk::Flush(file.get())) {
            DebugErrorLine((L"Tressel.Error: the journal cannot be written: " + fresh).c_str());
            return false;
        }
    }
    if (!disk::Move(fresh, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DebugErrorLine((L"Tressel.Error: the journal cannot be replaced: " + path).c_str());
        return false;
    }
    return true;
}

JournalStore::ReadResult JournalStore::ReadText(const std::wstring& path, std::wstring& body) const {
    body.clear();
    if (folders_.empty()) return ReadResult::None;
    std::vector<UniqueFileHandle> holds;
    switch (GuardFolders(folders_, false, holds)) {
    case Guard::Missing:
        return ReadResult::None;
    case Guard::Untrusted:
        return ReadResult::Untrusted;
    case Guard::Trusted:
        break;
    }
    // A reader never stands in the way of the rename that replaces the file.
    UniqueFileHandle file(disk::Open(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT));
    if (!file) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ReadResult::None : ReadResult::Damaged;
    }
    if (!TrustedObject(file.get(), false)) {
        DebugErrorLine((L"Tressel.Error: the journal may have been changed by others than administrators: " + path).c_str());
        return ReadResult::Untrusted;
    }
    LARGE_INTEGER size = {};
    if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart > kMaxJournalBytes || size.QuadPart % 2 != 0 ||
        size.QuadPart < 2) {
        return ReadResult::Damaged;
    }
    std::wstring text(static_cast<size_t>(size.QuadPart / 2), L'\0');
    DWORD read = 0;
    if (!disk::Read(file.get(), text.data(), static_cast<DWORD>(size.QuadPart), read) ||
        read != static_cast<DWORD>(size.QuadPart) || text[0] != kByteOrderMark) {
        return ReadResult::Damaged;
    }
    body = text.substr(1);
    return ReadResult::Found;
}

bool JournalStore::RemoveFile(const std::wstring& path) const {
    if (folders_.empty()) return true;
    // Deleting by path in a folder that others could have swapped would delete
    // whatever they pointed it at.
    std::vector<UniqueFileHandle> holds;
    switch (GuardFolders(folders_, false, holds)) {
    case Guard::Missing:
        return true;
    case Guard::Untrusted:
        return false;
    case Guard::Trusted:
        break;
    }
    (void)disk::Delete(path + kFreshSuffix);
    if (disk::Delete(path)) return true;
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool JournalStore::Write(const RelocationJournal& journal) const { return WriteText(path_, FormatJournal(journal)); }

JournalStore::ReadResult JournalStore::Read(RelocationJournal& journal) const {
    std::wstring text;
    const ReadResult read = ReadText(path_, text);
    if (read != ReadResult::Found) return read;
    return ParseJournal(text, journal) ? ReadResult::Found : ReadResult::Damaged;
}

bool JournalStore::Remove() const { return RemoveFile(path_); }

std::wstring JournalStore::RecordPath(const std::wstring& junction) const {
    std::wstring upper = junction;
    if (!upper.empty()) {
        ::CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
    }
    return folder_ + L"\\moved-" + Hex(Checksum(upper.c_str(), upper.size()), 16) + L".record";
}

bool JournalStore::WriteMovedRecord(const MovedRecord& record) const {
    std::wstring body = kRecordHeader;
    body += L"\njunction=" + record.junction + L"\ntarget=" + record.target + L"\n";
    if (record.targetId.known()) body += L"target-id=" + FormatFolderId(record.targetId) + L"\n";
    for (const std::wstring& entry : record.entries) body += L"entry=" + entry + L"\n";
    return WriteText(RecordPath(record.junction), SealJournalText(body));
}

bool JournalStore::ReadMovedRecord(const std::wstring& junction, MovedRecord& record) const {
    record = MovedRecord{};
    std::wstring text;
    if (ReadText(RecordPath(junction), text) != ReadResult::Found) return false;
    return ParseMovedRecord(text, record) &&
           ::CompareStringOrdinal(record.junction.c_str(), -1, junction.c_str(), -1, TRUE) == CSTR_EQUAL;
}

bool JournalStore::RemoveMovedRecord(const std::wstring& junction) const { return RemoveFile(RecordPath(junction)); }
