#include "base/work_pool.h"

#include <algorithm>

namespace {

constexpr int kThreadsPerProcessor = 4;
constexpr int kMinMachineThreads = 4;
constexpr int kMaxMachineThreads = kMaxPoolThreads;

// 0 while no count is set: the machine's count applies.
std::atomic<int> ChosenThreadCount{0};

int MachineProcessors() {
    SYSTEM_INFO info = {};
    ::GetSystemInfo(&info);
    return static_cast<int>(info.dwNumberOfProcessors);
}

}  // namespace

int PoolThreadsForProcessors(int processors) {
    return std::clamp(std::max(processors, 1) * kThreadsPerProcessor, kMinMachineThreads, kMaxMachineThreads);
}

int PoolThreadCount() {
    const int chosen = ChosenThreadCount.load();
    if (chosen > 0) return chosen;
    return PoolThreadsForProcessors(MachineProcessors());
}

void SetPoolThreadCount(int count) { ChosenThreadCount.store(count <= 0 ? 0 : std::min(count, kMaxPoolThreads)); }
