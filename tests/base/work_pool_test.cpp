// The work pool on an in-memory tree: every item handled once whatever the number
// of threads, a stop ends every thread promptly, a failing handler ends the pool
// without hanging it, and no thread outlives Run.
#include <gtest/gtest.h>

#include <windows.h>
#include <atomic>
#include <new>
#include <set>
#include <vector>

#include "base/srw_lock.h"
#include "base/work_pool.h"
#include "tests/driver/process_census.h"

namespace {

// A tree of `depth` levels where each node has `breadth` children; an item is a
// node's depth. Handling an item adds its children and counts it.
struct TreeHandler {
    WorkPool<int>& pool;
    int depth;
    int breadth;
    std::atomic<long> handled{0};
    SRWLOCK lock = SRWLOCK_INIT;
    std::set<DWORD> threadIds{};  // guarded by lock

    void operator()(int level, int /*worker*/) {
        ++handled;
        {
            SrwExclusiveGuard guard(lock);
            threadIds.insert(::GetCurrentThreadId());
        }
        ::Sleep(0);  // let the other threads in, as a wait on the disk would
        if (level + 1 < depth) {
            for (int i = 0; i < breadth; ++i) pool.Add(level + 1);
        }
    }
};

long TreeSize(int depth, int breadth) {
    long size = 0;
    long level = 1;
    for (int d = 0; d < depth; ++d, level *= breadth) size += level;
    return size;
}

TEST(WorkPool, HandlesEveryItemOnceWithAnyNumberOfThreads) {
    const testing_driver::ProcessCensus before = testing_driver::TakeProcessCensus();
    for (int threads : {1, 2, 4, kMaxPoolThreads, kMaxPoolThreads + 5}) {
        SCOPED_TRACE(threads);
        WorkPool<int> pool;
        TreeHandler handler{pool, 6, 5};
        pool.Add(0);
        EXPECT_EQ(pool.Run(threads, handler), PoolOutcome::Finished);
        EXPECT_EQ(handler.handled.load(), TreeSize(6, 5));
        EXPECT_LE(static_cast<int>(handler.threadIds.size()), std::min(threads, kMaxPoolThreads));
        if (threads == 1) {
            EXPECT_EQ(handler.threadIds, std::set<DWORD>{::GetCurrentThreadId()}) << "one thread: the caller alone";
        }
        EXPECT_EQ(testing_driver::TakeProcessCensus(), before) << "no thread and no handle outlives Run";
    }
}

TEST(WorkPool, WithNothingToDoEndsAtOnce) {
    WorkPool<int> pool;
    TreeHandler handler{pool, 1, 1};
    EXPECT_EQ(pool.Run(4, handler), PoolOutcome::Finished);
    EXPECT_EQ(handler.handled.load(), 0);
}

TEST(WorkPool, OneThreadTakesTheNewestItemFirst) {
    // Last in, first out: with one thread the walk is depth-first.
    struct Recorder {
        WorkPool<int>& pool;
        std::vector<int> order;
        void operator()(int item, int) {
            order.push_back(item);
            if (item == 1) {
                pool.Add(10);
                pool.Add(11);
            }
        }
    };
    WorkPool<int> pool;
    Recorder recorder{pool, {}};
    pool.Add(2);
    pool.Add(1);
    EXPECT_EQ(pool.Run(1, recorder), PoolOutcome::Finished);
    EXPECT_EQ(recorder.order, (std::vector<int>{1, 11, 10, 2}));
}

// Stops the pool at item number `stopAt`; every other thread is then busy in a
// slow item of its own and must leave without taking another.
struct Stopper {
    WorkPool<int>& pool;
    long stopAt;
    std::atomic<long> taken{0};
    std::atomic<long> takenAfterStop{0};

    void operator()(int, int) {
        if (pool.StopRequested()) ++takenAfterStop;
        const long number = ++taken;
        if (number == stopAt) {
            pool.Stop();
            return;
        }
        ::Sleep(2);
        pool.Add(0);
        pool.Add(0);
    }
};

TEST(WorkPool, StopEndsEveryThreadWithoutTakingMore) {
    const testing_driver::ProcessCensus before = testing_driver::TakeProcessCensus();
    for (int threads : {1, 2, 4}) {
        for (long stopAt : {1L, 7L, 50L}) {
            SCOPED_TRACE(testing::Message() << threads << " threads, stop at " << stopAt);
            WorkPool<int> pool;
            Stopper stopper{pool, stopAt};
            pool.Add(0);
            EXPECT_EQ(pool.Run(threads, stopper), PoolOutcome::Stopped);
            EXPECT_TRUE(pool.StopRequested());
            EXPECT_EQ(stopper.takenAfterStop.load(), 0);
            // Each other thread may have had one item of its own in hand.
            EXPECT_LE(stopper.taken.load(), stopAt + threads - 1);
            EXPECT_EQ(testing_driver::TakeProcessCensus(), before);
        }
    }
}

TEST(WorkPool, HandlerThatThrowsEndsThePoolAsFailed) {
    struct Thrower {
        WorkPool<int>& pool;
        std::atomic<long> handled{0};
        void operator()(int item, int) {
            ++handled;
            if (item == 3) throw std::bad_alloc();
            for (int i = 0; i < 3; ++i) pool.Add(item + 1);
        }
    };
    auto run = [](int threads) {
        WorkPool<int> pool;
        Thrower thrower{pool};
        pool.Add(0);
        EXPECT_EQ(pool.Run(threads, thrower), PoolOutcome::Failed);
        EXPECT_LT(thrower.handled.load(), 40) << "no thread went on after the failure";
    };
    // The runtime sets itself up for exceptions at the first throw, keeping a
    // handle or two: one run first, then no run may leave anything more.
    run(4);
    const testing_driver::ProcessCensus before = testing_driver::TakeProcessCensus();
    for (int repeat = 0; repeat < 3; ++repeat) {
        for (int threads : {1, 4}) {
            SCOPED_TRACE(threads);
            run(threads);
            EXPECT_EQ(testing_driver::TakeProcessCensus(), before);
        }
    }
}

TEST(WorkPool, ThreadCountIsSizedToTheMachineWithinBounds) {
    const struct {
        int processors;
        int threads;
    } cases[] = {{0, 4}, {1, 4}, {2, 8}, {3, 8}, {64, 8}};
    for (const auto& c : cases) EXPECT_EQ(PoolThreadsForProcessors(c.processors), c.threads) << c.processors;

    const int machine = PoolThreadCount();
    EXPECT_GE(machine, 4);
    EXPECT_LE(machine, kMaxPoolThreads);
    SetPoolThreadCount(1);
    EXPECT_EQ(PoolThreadCount(), 1);
    SetPoolThreadCount(100);
    EXPECT_EQ(PoolThreadCount(), kMaxPoolThreads);
    SetPoolThreadCount(0);
    EXPECT_EQ(PoolThreadCount(), machine);
}

}  // namespace
