// Single-failure sweeps over the engine's disk calls.
//
// Every call by which the engine touches the disk passes through one seam
// (engine/disk_calls.h). A sweep runs an operation once without any fault to count
// those calls, then runs it again once for every N from 1 to that count, with the
// N-th call failing (with a chosen error, either before or after doing its work).
// Before each run the fixture is built afresh; after it, the test's own check
// decides how the run ended and whether that ending is acceptable (with EXPECT_...;
// the harness puts the failure point in the trace of every failure). The sweep
// prints, on standard output, how many failure points were tried and how many runs
// ended in each way.
//
// Use:
//     SweepSteps steps;
//     steps.setup = [&] { ...make the tree... };
//     steps.run = [&] { result = RunRelocation(request, observer); };
//     steps.check = [&](const FailurePoint& point) -> std::string {
//         ...EXPECT_... on the disk and the observer...
//         return "restored";  // the ending's name, tallied
//     };
//     steps.cleanUp = [&] { ...remove what setup made... };
//     const SweepTally tally = RunFaultSweep("relocation N: to M:", FaultMode{ERROR_ACCESS_DENIED}, steps);
//
// The check is also called after the clean run, with point.number == 0. With the
// environment variable DIRSHIFT_SWEEP_POINT=N only the failure point N is tried.
// Calls are counted on every thread; a run must not leave engine work running
// behind it.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>

#include "engine/disk_calls.h"

namespace relocation_testing {

// How the chosen call fails.
struct FaultMode {
    DWORD error = ERROR_ACCESS_DENIED;
    // False: the call fails without doing anything. True: it does its work and then
    // reports the failure, as when a reply is lost.
    bool afterWork = false;

    std::string Name() const;  // "access denied", "disk full after the work", ...
};

// The call made to fail in one run of a sweep.
struct FailurePoint {
    int number = 0;  // 1: the run's first disk call; 0: the clean run
    FaultMode mode;
    bool reached = false;  // false when this run made fewer calls than N
    DiskCall call = DiskCall::ReadAttributes;
    std::wstring path;  // what the call concerned (empty for calls on a handle)

    std::string Describe() const;  // "call 17 (move N:\x\a.txt): access denied"
};

struct SweepSteps {
    std::function<void()> setup;  // builds the fixture, before every run
    std::function<void()> run;    // the operation under test
    // Looks at how the run ended: returns the ending's name (tallied); reports what
    // is wrong through EXPECT_... .
    std::function<std::string(const FailurePoint&)> check;
    std::function<void()> cleanUp;  // optional: after every check
};

// Where a run left the files, as a sweep's check tells it.
enum class Ending { Relocated, MovedBack, Split };

// The ending's name in a tally.
const char* NameOf(Ending ending);

struct SweepTally {
    std::string name;
    FaultMode mode;
    int cleanCalls = 0;     // disk calls of the run without a fault
    int tried = 0;          // failure points tried
    int notReached = 0;     // of them, runs that ended before their N-th call
    int wrong = 0;          // of them, runs whose check reported a failure
    std::map<std::string, int> endings;  // ending name -> runs
    bool stoppedEarly = false;           // too many wrong endings; the rest untried
};

// Runs the sweep as described above and prints its tally. Stops early after
// `maxWrong` runs ended wrong (the failures say enough by then), or at once when
// the setup or the clean run fails fatally.
SweepTally RunFaultSweep(const std::string& name, const FaultMode& mode, const SweepSteps& steps, int maxWrong = 12);

// Counts the disk calls made while it lives and fails the `failAt`-th (1-based; 0:
// none) as `mode` says. One at a time; it takes the seam's one fault source.
class DiskFaultInjector {
public:
    explicit DiskFaultInjector(int failAt = 0, FaultMode mode = FaultMode{});
    ~DiskFaultInjector();
    DiskFaultInjector(const DiskFaultInjector&) = delete;
    DiskFaultInjector& operator=(const DiskFaultInjector&) = delete;

    int calls() const;  // disk calls so far
    // The call that was failed; `reached` is false while none was.
    FailurePoint point() const;
};

// Text for gtest messages.
std::string Narrow(const std::wstring& text);

}  // namespace relocation_testing

namespace relocation_testing {

// Every entry below `root` with what it is, links not followed: relative path (upper
// case) -> "folder", "file <checksum>" plus " hidden" / " read-only", or "link to
// <target>" (the mount point's target as stored on disk, read from Linux, with the
// full path of `root` written as "<root>"). Empty when `root` does not exist. Links
// below `root` are read from Linux: link the tests' relocation_session.cpp.
using TreeListing = std::map<std::wstring, std::wstring>;
TreeListing ListTree(const std::wstring& root);

// The listing, one entry a line, for failure messages.
std::string Show(const TreeListing& listing);

}  // namespace relocation_testing
