// One relocation, move back or recovery at a time on this machine: the journal is
// one per user and says where one operation's files are, and two operations on
// it, in two processes, would each take the other's files for their own.
#pragma once

#include <windows.h>

#include "base/unique_resource.h"

class OperationLock {
public:
    enum class State {
        Taken,          // this process holds it until the lock is gone
        HeldElsewhere,  // another Dirshift is working
        Failed,         // the lock could not be made (`error`)
    };

    OperationLock() = default;
    ~OperationLock();
    OperationLock(const OperationLock&) = delete;
    OperationLock& operator=(const OperationLock&) = delete;

    // Takes the machine-wide lock without waiting. A lock left by a process that
    // ended without letting go (killed part-way) is taken: its journal tells the
    // rest. Held by the calling thread, which must be the one that drops it.
    State Take(DWORD& error);
    bool held() const { return held_; }

private:
    UniqueHandle mutex_;
    bool held_ = false;
};
