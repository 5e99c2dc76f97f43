#include "junction/wine_host.h"

#include <cstring>

namespace wine_host {

namespace {

using WineGetUnixFileName = char*(__cdecl*)(const wchar_t*);

WineGetUnixFileName UnixFileNameFunction() {
    static const auto function = reinterpret_cast<WineGetUnixFileName>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name"));
    return function;
}

// ---------------------------------------------------------------------------
// The one place with inline assembly: the x86-64 Linux `syscall` instruction.
// A Windows program's code runs natively under Wine, so it can ask the Linux
// kernel directly for what Wine 8 does not offer (extended attributes). Other
// compilers and processors get a plain "not supported" answer.
// ---------------------------------------------------------------------------
#if defined(__GNUC__) && defined(__x86_64__)
constexpr bool kCanCallLinux = true;

// 64-bit integers throughout: `long` is 32 bits wide on Windows.
std::int64_t LinuxSyscall(std::int64_t number, std::int64_t a1, std::int64_t a2, std::int64_t a3, std::int64_t a4,
                          std::int64_t a5) {
    std::int64_t result;
    // The kernel takes arguments in rdi, rsi, rdx, r10, r8 and clobbers rcx, r11.
    __asm__ volatile(
        "mov %5, %%r10\n\t"
        "mov %6, %%r8\n\t"
        "syscall"
        : "=a"(result)
        : "a"(number), "D"(a1), "S"(a2), "d"(a3), "r"(a4), "r"(a5)
        : "rcx", "r11", "r10", "r8", "memory");
    return result;
}
#else
constexpr bool kCanCallLinux = false;

std::int64_t LinuxSyscall(std::int64_t, std::int64_t, std::int64_t, std::int64_t, std::int64_t, std::int64_t) {
    return -kErrorNoSystemCall;
}
#endif
// ---------------------------------------------------------------------------

// x86-64 Linux system call numbers.
constexpr std::int64_t kSysClose = 3;
constexpr std::int64_t kSysOpen = 2;
constexpr std::int64_t kSysStat = 4;
constexpr std::int64_t kSysLstat = 6;
constexpr std::int64_t kSysMkdir = 83;
constexpr std::int64_t kSysUnlink = 87;
constexpr std::int64_t kSysSymlink = 88;
constexpr std::int64_t kSysReadlink = 89;
constexpr std::int64_t kSysLsetxattr = 189;
constexpr std::int64_t kSysGetdents64 = 217;
constexpr std::int64_t kSysLgetxattr = 192;

std::int64_t Word(const void* pointer) { return static_cast<std::int64_t>(reinterpret_cast<std::uintptr_t>(pointer)); }

// Results are small (byte counts up to a few kilobytes, or minus an error number).
long Call(std::int64_t number, std::int64_t a1, std::int64_t a2 = 0, std::int64_t a3 = 0, std::int64_t a4 = 0,
          std::int64_t a5 = 0) {
    // Never reach for the kernel outside Wine: on Windows the instruction is not
    // a system call interface at all.
    if (!kCanCallLinux || !RunningUnderWine()) return -kErrorNoSystemCall;
    return static_cast<long>(LinuxSyscall(number, a1, a2, a3, a4, a5));
}

}  // namespace

bool RunningUnderWine() {
    static const bool wine = ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    return wine;
}

bool UnixPathOf(const wchar_t* windowsPath, char* unixPath, std::size_t capacity) {
    if (capacity == 0) return false;
    unixPath[0] = 0;
    if (!RunningUnderWine()) return false;
    const WineGetUnixFileName function = UnixFileNameFunction();
    if (function == nullptr) return false;
    char* name = function(windowsPath);  // allocated by Wine on the process heap
    if (name == nullptr) return false;
    const std::size_t length = std::strlen(name);
    const bool fits = length < capacity;
    if (fits) std::memcpy(unixPath, name, length + 1);
    ::HeapFree(::GetProcessHeap(), 0, name);
    return fits;
}

long LSetXattr(const char* path, const char* name, const void* value, std::size_t size) {
    return Call(kSysLsetxattr, Word(path), Word(name), Word(value), static_cast<std::int64_t>(size), 0);
}

long LGetXattr(const char* path, const char* name, void* value, std::size_t size) {
    return Call(kSysLgetxattr, Word(path), Word(name), Word(value), static_cast<std::int64_t>(size));
}

long Unlink(const char* path) { return Call(kSysUnlink, Word(path)); }

long Symlink(const char* target, const char* linkPath) { return Call(kSysSymlink, Word(target), Word(linkPath)); }

long MakeDirectory(const char* path, unsigned mode) {
    return Call(kSysMkdir, Word(path), mode);
}

long ReadLink(const char* path, char* buffer, std::size_t size) {
    return Call(kSysReadlink, Word(path), Word(buffer), static_cast<std::int64_t>(size));
}

long CanonicalPath(const char* path, char* canonical, std::size_t capacity) {
    constexpr std::int64_t kOpenPath = 010000000;     // O_PATH: a handle on the name only
    constexpr std::int64_t kOpenCloseExec = 02000000; // O_CLOEXEC
    const long descriptor = Call(kSysOpen, Word(path), kOpenPath | kOpenCloseExec);
    if (descriptor < 0) return descriptor;
    char link[40];
    ::wsprintfA(link, "/proc/self/fd/%ld", descriptor);
    const long length = capacity > 1 ? ReadLink(link, canonical, capacity - 1) : -kErrorNoEntry;
    Call(kSysClose, descriptor);
    if (length < 0) return length;
    if (static_cast<std::size_t>(length) >= capacity - 1) return -kErrorNameTooLong;  // may be cut short
    canonical[length] = 0;
    return length;
}

long FolderEntryCount(const char* path) {
    constexpr std::int64_t kOpenDirectory = 0200000;  // O_DIRECTORY
    constexpr std::int64_t kOpenNoFollow = 0400000;   // O_NOFOLLOW
    constexpr std::int64_t kOpenCloseExec = 02000000;
    const long descriptor = Call(kSysOpen, Word(path), kOpenDirectory | kOpenNoFollow | kOpenCloseExec);
    if (descriptor < 0) return descriptor;
    // struct linux_dirent64: inode (8), offset (8), record length (2), type (1), name.
    alignas(8) unsigned char records[4096];
    long count = 0;
    for (;;) {
        const long filled = Call(kSysGetdents64, descriptor, Word(records), sizeof records);
        if (filled <= 0) {
            if (filled < 0) count = filled;
            break;
        }
        for (long at = 0; at + 19 < filled;) {
            std::uint16_t recordLength = 0;
            std::memcpy(&recordLength, records + at + 16, sizeof recordLength);
            if (recordLength == 0 || at + recordLength > filled) break;
            const char* name = reinterpret_cast<const char*>(records + at + 19);
            const bool dot = name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
            if (!dot) ++count;
            at += recordLength;
        }
    }
    Call(kSysClose, descriptor);
    return count;
}

long ListEntries(const char* path, EntryVisitor visitor, void* context) {
    constexpr std::int64_t kOpenDirectory = 0200000;  // O_DIRECTORY
    constexpr std::int64_t kOpenNoFollow = 0400000;   // O_NOFOLLOW
    constexpr std::int64_t kOpenCloseExec = 02000000;
    const long descriptor = Call(kSysOpen, Word(path), kOpenDirectory | kOpenNoFollow | kOpenCloseExec);
    if (descriptor < 0) return descriptor;
    // struct linux_dirent64: inode (8), offset (8), record length (2), type (1), name.
    alignas(8) unsigned char records[4096];
    long result = 0;
    for (bool going = true; going;) {
        const long filled = Call(kSysGetdents64, descriptor, Word(records), sizeof records);
        if (filled <= 0) {
            if (filled < 0) result = filled;
            break;
        }
        for (long at = 0; going && at + 19 < filled;) {
            std::uint16_t recordLength = 0;
            std::memcpy(&recordLength, records + at + 16, sizeof recordLength);
            if (recordLength < 20 || at + recordLength > filled) {
                going = false;
                result = -kErrorInvalid;
                break;
            }
            const unsigned char type = records[at + 18];
            // The name ends with a NUL inside its record.
            const char* name = reinterpret_cast<const char*>(records + at + 19);
            const bool dot = name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
            if (std::memchr(name, 0, static_cast<std::size_t>(recordLength - 19)) != nullptr && !dot) {
                going = visitor(context, name, type);
            }
            at += recordLength;
        }
    }
    Call(kSysClose, descriptor);
    return result;
}

namespace {

struct LinkListing {
    SymbolicLinkVisitor visitor;
    void* context;
};

bool VisitIfLink(void* context, const char* name, unsigned char type) {
    const auto& listing = *static_cast<const LinkListing*>(context);
    if (type == kEntryLink || type == kEntryUnknown) listing.visitor(listing.context, name);
    return true;
}

}  // namespace

long ListSymbolicLinks(const char* path, SymbolicLinkVisitor visitor, void* context) {
    LinkListing listing{visitor, context};
    return ListEntries(path, VisitIfLink, &listing);
}

long Stat(const char* path, UnixFileStatus& status) {
    alignas(8) unsigned char buffer[144] = {};
    const long result = Call(kSysStat, Word(path), Word(buffer));
    if (result == 0) {
        std::memcpy(&status.device, buffer, sizeof status.device);
        std::memcpy(&status.mode, buffer + 24, sizeof status.mode);
    }
    return result;
}

long LStat(const char* path, UnixFileStatus& status) {
    // struct stat of x86-64 Linux: 144 bytes, st_dev at 0, st_mode at 24.
    alignas(8) unsigned char buffer[144] = {};
    const long result = Call(kSysLstat, Word(path), Word(buffer));
    if (result == 0) {
        std::memcpy(&status.device, buffer, sizeof status.device);
        std::memcpy(&status.mode, buffer + 24, sizeof status.mode);
    }
    return result;
}

}  // namespace wine_host
