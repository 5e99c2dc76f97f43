// Counts what this process holds, so a test can tell that a piece of work left
// no thread and no handle behind.
#pragma once

#include <ostream>

namespace testing_driver {

// The threads of this process (or of the process `processId`), or -1 when they
// cannot be counted.
int ProcessThreadCount();
int ProcessThreadCount(unsigned long processId);

// The kernel handles this process (or the process `processId`) holds, or -1 when
// they cannot be counted. (GetProcessHandleCount answers 0 under Wine 8; the
// system's handle table is asked instead.)
int ProcessHandleCount();
int ProcessHandleCount(unsigned long processId);

// The threads and handles of this process, to compare before and after.
struct ProcessCensus {
    int threads = -1;
    int handles = -1;
    bool operator==(const ProcessCensus& other) const {
        return threads == other.threads && handles == other.handles;
    }
};

// Counts both. GoogleTest starts a watcher thread of its own the first time a
// thread uses its per-thread state (SCOPED_TRACE does); that happens here first,
// so the thread is part of every census.
ProcessCensus TakeProcessCensus();
// The same census of another process, for example a program a test started.
ProcessCensus TakeProcessCensusOf(unsigned long processId);
void PrintTo(const ProcessCensus& census, std::ostream* os);

}  // namespace testing_driver
