#include "engine/operation_lock.h"

#include <sddl.h>

#include "base/debug_log.h"

namespace {

// In the global namespace, so that every session of the machine shares it.
constexpr wchar_t kLockName[] = L"Global\\Dirshift.Operation";
// Only administrators and the system may hold or open it; Everyone may see that
// it is there.
constexpr wchar_t kLockSecurity[] = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)";

}  // namespace

OperationLock::~OperationLock() {
    if (held_) ::ReleaseMutex(mutex_.get());
}

OperationLock::State OperationLock::Take(DWORD& error) {
    if (held_) return State::Taken;
    if (!mutex_) {
        PSECURITY_DESCRIPTOR sd = nullptr;
        if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(kLockSecurity, SDDL_REVISION_1, &sd, nullptr)) {
            sd = nullptr;
        }
        UniqueLocalMemory ownedSd(sd);
        SECURITY_ATTRIBUTES attributes = {sizeof(attributes), sd, FALSE};
        mutex_.reset(::CreateMutexW(&attributes, FALSE, kLockName));
        error = ::GetLastError();
        if (!mutex_) {
            DebugErrorLine(L"Tressel.Error: the lock of Dirshift's operations cannot be made.", error);
            return error == ERROR_ACCESS_DENIED ? State::HeldElsewhere : State::Failed;
        }
    }
    switch (::WaitForSingleObject(mutex_.get(), 0)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED:
        held_ = true;
        return State::Taken;
    case WAIT_TIMEOUT:
        return State::HeldElsewhere;
    default:
        error = ::GetLastError();
        return State::Failed;
    }
}
