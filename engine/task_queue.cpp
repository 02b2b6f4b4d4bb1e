#include "task_queue.h"

namespace arcovelo {

TaskQueue::TaskQueue(int helpers)
{
    for (int i = 0; i < helpers; ++i)
        helpers_.emplace_back([this] { Help(); });
}

TaskQueue::~TaskQueue()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    workAvailable_.notify_all();
    for (auto& helper : helpers_)
        helper.join();
}

TaskQueue::Id TaskQueue::Add(std::function<void()> task)
{
    bool wake = false;
    Id id = 0;
    {
        std::lock_guard lock(mutex_);
        id = tasks_.size();
        tasks_.push_back({std::move(task), State::Queued, nullptr});
        queued_.push_back(id);
        wake = idleHelpers_ > 0;
    }
    if (wake)
        workAvailable_.notify_one();
    return id;
}

// While a helper runs the awaited task, the caller runs the newest queued
// ones (helpers take the oldest) rather than sleep.
void TaskQueue::Wait(Id id)
{
    std::unique_lock lock(mutex_);
    Task& task = tasks_[id];
    while (task.state != State::Done) {
        if (task.state == State::Queued) {
            Run(task, lock);
        } else if (const Id other = TakeQueued(false); other != kNone) {
            Run(tasks_[other], lock);
        } else {
            awaited_ = id;
            taskDone_.wait(lock, [&] { return task.state == State::Done; });
            awaited_ = kNone;
        }
    }
    if (task.failure)
        std::rethrow_exception(task.failure);
}

// The oldest (or newest) task still queued, or kNone. Called with the mutex held.
TaskQueue::Id TaskQueue::TakeQueued(bool oldest)
{
    while (!queued_.empty()) {
        const Id id = oldest ? queued_.front() : queued_.back();
        if (oldest)
            queued_.pop_front();
        else
            queued_.pop_back();
        if (tasks_[id].state == State::Queued)
            return id;  // else the caller ran it already
    }
    return kNone;
}

// Runs `task` with the mutex released; taken again on return.
void TaskQueue::Run(Task& task, std::unique_lock<std::mutex>& lock)
{
    task.state = State::Running;
    lock.unlock();
    try {
        task.work();
    } catch (...) {
        task.failure = std::current_exception();  // thrown again by Wait
    }
    lock.lock();
    task.state = State::Done;
    task.work = nullptr;
}

void TaskQueue::Help()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        if (stopping_)
            return;  // what is still queued, nobody waits for
        if (const Id id = TakeQueued(true); id != kNone) {
            Run(tasks_[id], lock);
            if (id == awaited_) {
                lock.unlock();
                taskDone_.notify_one();
                lock.lock();
            }
            continue;
        }
        ++idleHelpers_;
        workAvailable_.wait(lock);
        --idleHelpers_;
    }
}

}  // namespace arcovelo
