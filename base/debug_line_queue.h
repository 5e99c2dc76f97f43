// Debug lines written in order by a thread of their own.
//
// Under Wine every OutputDebugStringW is a round trip to the server, about as long
// as opening a small file. A scan that writes a line for each file it tests hands
// its lines to a queue, so that its threads go on testing while the lines are
// written. The lines keep the order in which they were added, whichever thread
// added them, and every one of them has been written when the queue is destroyed.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "base/unique_resource.h"

class DebugLineQueue {
public:
    // Starts the writer. If it cannot start, each line is written as it is added.
    DebugLineQueue();
    // Writes every line still waiting, then ends the writer.
    ~DebugLineQueue();
    DebugLineQueue(const DebugLineQueue&) = delete;
    DebugLineQueue& operator=(const DebugLineQueue&) = delete;

    // Queues a line; from any thread. When the writer has fallen far behind, waits
    // until it catches up, so the lines waiting never take much memory. May throw
    // std::bad_alloc (the line is then not written).
    void Add(std::wstring line);

    // How many lines may wait before Add waits for the writer.
    static constexpr std::size_t kMaxWaitingLines = 4096;

private:
    static DWORD WINAPI WriterThread(void* parameter);
    void WriteUntilClosed();

    SRWLOCK lock_ = SRWLOCK_INIT;
    CONDITION_VARIABLE added_ = CONDITION_VARIABLE_INIT;  // a line waits, or the queue closes
    CONDITION_VARIABLE taken_ = CONDITION_VARIABLE_INIT;  // the writer took the waiting lines
    std::vector<std::wstring> waiting_;                   // guarded by lock_
    bool closing_ = false;                                // guarded by lock_
    UniqueHandle writer_;
};
