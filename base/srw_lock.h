// Holds a slim reader/writer lock exclusively for one scope.
#pragma once

#include <windows.h>

class SrwExclusiveGuard {
public:
    explicit SrwExclusiveGuard(SRWLOCK& lock) : lock_(lock) { ::AcquireSRWLockExclusive(&lock_); }
    ~SrwExclusiveGuard() { ::ReleaseSRWLockExclusive(&lock_); }
    SrwExclusiveGuard(const SrwExclusiveGuard&) = delete;
    SrwExclusiveGuard& operator=(const SrwExclusiveGuard&) = delete;

private:
    SRWLOCK& lock_;
};
