// Hold a slim reader/writer lock for one scope, exclusively or shared.
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

class SrwSharedGuard {
public:
    explicit SrwSharedGuard(SRWLOCK& lock) : lock_(lock) { ::AcquireSRWLockShared(&lock_); }
    ~SrwSharedGuard() { ::ReleaseSRWLockShared(&lock_); }
    SrwSharedGuard(const SrwSharedGuard&) = delete;
    SrwSharedGuard& operator=(const SrwSharedGuard&) = delete;

private:
    SRWLOCK& lock_;
};
