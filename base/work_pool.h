// A handful of threads sharing a stack of work items. Each thread takes an item,
// handles it and may add more (the listing of a folder adds its sub-folders). The
// work is done when no item is left and no thread is handling one, or as soon as
// one of them asks to stop. Every thread of the pool has ended when Run returns.
//
// Walking a folder tree is a chain of waits on the file system; a second reader
// fills them. The stack (last in, first out) keeps the walk close to depth-first,
// so the items waiting stay few however wide the tree is, and with one thread the
// order is exactly that of a depth-first walk.
#pragma once

#include <windows.h>

#include <atomic>
#include <utility>
#include <vector>

#include "base/srw_lock.h"
#include "base/unique_resource.h"

// The most threads a pool ever runs.
constexpr int kMaxPoolThreads = 8;

// The number of threads for `processors` logical processors. The scans wait on the
// file system far more than they compute: each listing or open is a chain of
// short waits, and more readers than processors keep the disk (and under Wine its
// server) busy; on two processors, eight threads list and open in about 0.9x the
// time that four take. So four per processor, at least four, at most eight.
int PoolThreadsForProcessors(int processors);

// The number of threads the scans use: the one set with SetPoolThreadCount, or
// else the count for this machine.
int PoolThreadCount();

// Sets the number of threads of the scans started from now on (benchmarks compare
// 1, 2 and 4); clamped to 1..kMaxPoolThreads. 0 returns to the machine's count.
void SetPoolThreadCount(int count);

enum class PoolOutcome {
    Finished,  // every item was handled
    Stopped,   // a handler (or another thread) called Stop
    Failed,    // a handler threw (out of memory); the others were stopped
};

template <typename Item>
class WorkPool {
public:
    WorkPool() = default;
    WorkPool(const WorkPool&) = delete;
    WorkPool& operator=(const WorkPool&) = delete;

    // Adds an item; from any thread, before Run or from a handler. May throw
    // std::bad_alloc, which Run treats as a failed handler.
    void Add(Item item) {
        {
            SrwExclusiveGuard guard(lock_);
            items_.push_back(std::move(item));
        }
        ::WakeConditionVariable(&changed_);
    }

    // Every thread stops taking items; the items not yet taken are dropped. A
    // handler that runs should test StopRequested between its steps.
    void Stop() {
        {
            SrwExclusiveGuard guard(lock_);
            stop_.store(true);
        }
        ::WakeAllConditionVariable(&changed_);
    }

    bool StopRequested() const { return stop_.load(std::memory_order_relaxed); }

    // Handles every item with `handler(item, worker)` on `threads` threads, the
    // calling thread being worker 0 and the others 1..threads-1. Any of them may
    // call the handler at the same time as another. A thread that cannot be started
    // leaves its share to the others. Returns once every started thread has ended.
    template <typename Handler>
    PoolOutcome Run(int threads, Handler& handler) {
        if (threads < 1) threads = 1;
        if (threads > kMaxPoolThreads) threads = kMaxPoolThreads;
        WorkerStart<Handler> starts[kMaxPoolThreads];
        UniqueHandle workers[kMaxPoolThreads];
        for (int worker = 1; worker < threads; ++worker) {
            starts[worker] = {this, &handler, worker};
            workers[worker].reset(::CreateThread(nullptr, kWorkerStackReserve, &WorkerThread<Handler>, &starts[worker],
                                                 STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
        }
        Work(handler, 0);
        for (int worker = 1; worker < threads; ++worker) {
            if (workers[worker]) ::WaitForSingleObject(workers[worker].get(), INFINITE);
        }
        if (failed_.load()) return PoolOutcome::Failed;
        return stop_.load() ? PoolOutcome::Stopped : PoolOutcome::Finished;
    }

private:
    // The handlers keep their buffers off the stack; this leaves ample room.
    static constexpr SIZE_T kWorkerStackReserve = 256 * 1024;

    template <typename Handler>
    struct WorkerStart {
        WorkPool* pool = nullptr;
        Handler* handler = nullptr;
        int worker = 0;
    };

    template <typename Handler>
    static DWORD WINAPI WorkerThread(void* parameter) {
        auto* start = static_cast<WorkerStart<Handler>*>(parameter);
        start->pool->Work(*start->handler, start->worker);
        return 0;
    }

    template <typename Handler>
    void Work(Handler& handler, int worker) noexcept {
        try {
            Item item;
            while (Take(item)) {
                handler(item, worker);
                Finish();
            }
        } catch (...) {
            // Nothing may leave a thread procedure; the pool ends without this item.
            failed_.store(true);
            Stop();
        }
    }

    // Waits for an item; false once there is none and no handler could add one,
    // or once the pool is stopped.
    bool Take(Item& item) {
        SrwExclusiveGuard guard(lock_);
        for (;;) {
            if (stop_.load()) return false;
            if (!items_.empty()) {
                item = std::move(items_.back());
                items_.pop_back();
                ++handling_;
                return true;
            }
            if (handling_ == 0) {
                ::WakeAllConditionVariable(&changed_);
                return false;
            }
            ::SleepConditionVariableSRW(&changed_, &lock_, INFINITE, 0);
        }
    }

    void Finish() {
        SrwExclusiveGuard guard(lock_);
        --handling_;
        if (handling_ == 0 && items_.empty()) ::WakeAllConditionVariable(&changed_);
    }

    SRWLOCK lock_ = SRWLOCK_INIT;
    CONDITION_VARIABLE changed_ = CONDITION_VARIABLE_INIT;
    std::vector<Item> items_;  // guarded by lock_
    int handling_ = 0;         // guarded by lock_: items taken and not yet finished
    std::atomic<bool> stop_{false};
    std::atomic<bool> failed_{false};
};
