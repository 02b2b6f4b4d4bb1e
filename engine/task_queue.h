// Independent tasks run by helper threads ahead of the caller, who waits for
// their results in an order of its own: listing the folders a depth-first
// walk will enter next, or checking a range of files. A task no helper has
// begun when the caller wants it runs on the caller's thread at once, and
// while a helper runs it the caller runs other queued tasks, so the caller
// never sleeps while there is work; with no helpers every task runs inside
// Wait. What a task throws is thrown again by Wait for it.
// Only the caller's thread may call the member functions.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace arcovelo {

class TaskQueue {
public:
    using Id = std::size_t;

    explicit TaskQueue(int helpers);
    ~TaskQueue();
    TaskQueue(const TaskQueue&) = delete;
    TaskQueue& operator=(const TaskQueue&) = delete;

    // Queues `task` behind the others; helpers take tasks in that order.
    Id Add(std::function<void()> task);
    // Returns once task `id` has run; throws what it threw.
    void Wait(Id id);

private:
    enum class State : char { Queued, Running, Done };
    struct Task {
        std::function<void()> work;
        State state = State::Queued;
        std::exception_ptr failure;
    };

    Id TakeQueued(bool oldest);
    void Help();
    void Run(Task& task, std::unique_lock<std::mutex>& lock);

    std::deque<Task> tasks_;  // by Id; a deque keeps references valid as it grows
    std::deque<Id> queued_;   // in the order added; entries the caller ran already are skipped
    static constexpr Id kNone = Id(-1);
    Id awaited_ = kNone;  // the task the caller waits for
    std::size_t idleHelpers_ = 0;
    bool stopping_ = false;
    std::mutex mutex_;
    std::condition_variable workAvailable_;
    std::condition_variable taskDone_;
    std::vector<std::thread> helpers_;
};

}  // namespace arcovelo
