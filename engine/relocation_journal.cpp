#include "engine/relocation_journal.h"

#include <shlobj.h>

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "engine/disk_calls.h"
#include "base/debug_log.h"
#include "base/text.h"
#include "base/unique_resource.h"

namespace {

constexpr wchar_t kHeader[] = L"Dirshift relocation journal 1";
constexpr wchar_t kFileName[] = L"relocation.journal";
constexpr wchar_t kFreshSuffix[] = L".new";
constexpr wchar_t kByteOrderMark = 0xFEFF;
// Far beyond any real journal (a name per top-level entry); a larger file is
// not ours, and reading it whole would only cost memory.
constexpr LONGLONG kMaxJournalBytes = 64LL * 1024 * 1024;
// MAXIMUM_REPARSE_DATA_BUFFER_SIZE.
constexpr size_t kMaxReparseBytes = 16 * 1024;

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
        if (!IsRelativePath(link.relativePath) || !ParseHexBytes(value.substr(bar + 1), link.reparseData)) return false;
        journal.links.push_back(std::move(link));
        return true;
    }
    return false;
}

}  // namespace

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
    const size_t checkAt = text.rfind(L"check=");
    if (checkAt == std::wstring::npos || (checkAt > 0 && text[checkAt - 1] != L'\n')) return false;
    if (text.empty() || text.back() != L'\n') return false;
    std::uint64_t stored = 0;
    if (!ParseChecksum(text.substr(checkAt + 6, text.size() - checkAt - 7), stored) ||
        stored != Checksum(text.c_str(), checkAt)) {
        return false;
    }

    bool sawPhase = false;
    bool first = true;
    size_t start = 0;
    while (start < checkAt) {
        const size_t end = text.find(L'\n', start);
        const std::wstring line = text.substr(start, end - start);
        start = end + 1;
        if (first) {
            if (line != kHeader) return false;
            first = false;
            continue;
        }
        const size_t equals = line.find(L'=');
        if (equals == std::wstring::npos) return false;
        if (!ParseLine(line.substr(0, equals), line.substr(equals + 1), journal, sawPhase)) return false;
    }
    const bool junctionKnown = journal.kind == JournalKind::Relocation ? journal.junctionData.empty()
                                                                       : !journal.junctionData.empty();
    return !first && sawPhase && !journal.source.empty() && !journal.target.empty() && junctionKnown;
}

JournalStore::JournalStore(std::wstring folder) : folder_(std::move(folder)), path_(folder_ + L"\\" + kFileName) {}

JournalStore JournalStore::ForCurrentUser() {
    std::wstring base;
    PWSTR local = nullptr;
    if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_CREATE, nullptr, &local))) base = local;
    ::CoTaskMemFree(local);
    // Without the user's folder there is no place for a journal: an empty store
    // writes nothing, and a relocation then does not start.
    return JournalStore(base.empty() ? std::wstring() : base + L"\\Dirshift");
}

bool JournalStore::Write(const RelocationJournal& journal) const {
    if (folder_.empty()) return false;
    if (!disk::MakeFolder(folder_) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
        DebugErrorLine((L"Tressel.Error: the journal's folder cannot be made: " + folder_).c_str());
        return false;
    }
    const std::wstring text = kByteOrderMark + FormatJournal(journal);
    const std::wstring fresh = path_ + kFreshSuffix;
    {
        UniqueFileHandle file(
            disk::Open(fresh, GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH));
        const DWORD bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        DWORD written = 0;
        if (!file || !disk::Write(file.get(), text.data(), bytes, written) || written != bytes ||
            !disk::Flush(file.get())) {
            DebugErrorLine((L"Tressel.Error: the journal cannot be written: " + fresh).c_str());
            return false;
        }
    }
    if (!disk::Move(fresh, path_, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DebugErrorLine((L"Tressel.Error: the journal cannot be replaced: " + path_).c_str());
        return false;
    }
    return true;
}

JournalStore::ReadResult JournalStore::Read(RelocationJournal& journal) const {
    if (folder_.empty()) return ReadResult::None;
    // A reader never stands in the way of the rename that replaces the journal.
    UniqueFileHandle file(disk::Open(path_, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL));
    if (!file) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ReadResult::None : ReadResult::Damaged;
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
    return ParseJournal(text.substr(1), journal) ? ReadResult::Found : ReadResult::Damaged;
}

bool JournalStore::Remove() const {
    (void)disk::Delete(path_ + kFreshSuffix);
    if (disk::Delete(path_)) return true;
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}
