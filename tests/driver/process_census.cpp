#include "tests/driver/process_census.h"

#include <windows.h>
#include <tlhelp32.h>

#include <vector>

#include <gtest/gtest.h>

#include "base/unique_resource.h"

namespace testing_driver {

namespace {

// One entry of the system's handle table (SystemHandleInformation). The owner's
// id fills the first 32 bits under Wine; on Windows its low 16 bits, with a
// back-trace index (normally 0) above them.
struct HandleEntry {
    ULONG ownerProcessId;
    BYTE objectType;
    BYTE flags;
    USHORT handle;
    void* object;
    ACCESS_MASK access;
};

struct HandleTable {
    ULONG count;
    HandleEntry entries[1];
};

constexpr ULONG kSystemHandleInformation = 16;
constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004L);

using QuerySystemInformation = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);

}  // namespace

int ProcessThreadCount() { return ProcessThreadCount(::GetCurrentProcessId()); }

int ProcessThreadCount(unsigned long processId) {
    UniqueFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot) return -1;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    int count = 0;
    for (BOOL more = ::Thread32First(snapshot.get(), &entry); more; more = ::Thread32Next(snapshot.get(), &entry)) {
        if (entry.th32OwnerProcessID == processId) ++count;
    }
    return count;
}

int ProcessHandleCount() { return ProcessHandleCount(::GetCurrentProcessId()); }

int ProcessHandleCount(unsigned long processId) {
    auto query = reinterpret_cast<QuerySystemInformation>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (query == nullptr) return -1;
    std::vector<ULONG_PTR> buffer(1 << 16);  // aligned for the entries' pointers
    for (int attempt = 0; attempt < 8; ++attempt) {
        const ULONG size = static_cast<ULONG>(buffer.size() * sizeof(ULONG_PTR));
        ULONG needed = 0;
        const LONG status = query(kSystemHandleInformation, buffer.data(), size, &needed);
        if (status == kInfoLengthMismatch) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (status != 0) return -1;
        const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
        const std::size_t fits = (size - offsetof(HandleTable, entries)) / sizeof(HandleEntry);
        const DWORD owner = processId;
        int count = 0;
        for (ULONG i = 0; i < table->count && i < fits; ++i) {
            if ((table->entries[i].ownerProcessId & 0xFFFF) == (owner & 0xFFFF) &&
                (table->entries[i].ownerProcessId == owner || table->entries[i].ownerProcessId <= 0xFFFF)) {
                ++count;
            }
        }
        return count;
    }
    return -1;
}

ProcessCensus TakeProcessCensus() {
    { SCOPED_TRACE("census"); }
    return {ProcessThreadCount(), ProcessHandleCount()};
}

ProcessCensus TakeProcessCensusOf(unsigned long processId) {
    return {ProcessThreadCount(processId), ProcessHandleCount(processId)};
}

void PrintTo(const ProcessCensus& census, std::ostream* os) {
    *os << census.threads << " threads, " << census.handles << " handles";
}

}  // namespace testing_driver
