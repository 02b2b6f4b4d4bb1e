// A bounded ring of work slots processed by worker threads and handed back in
// the order they were submitted. The caller's thread fills slots (reading
// ahead), workers transform them (compress, inflate), and the caller's thread
// takes them back one by one, so everything it does with the results -
// writing, volume decisions, callbacks - happens in the one-thread order.
// With one worker no thread is started: the work runs inside Submit.
// Only the caller's thread may call the member functions.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace arcovelo {

// Workers used when nothing else is asked: one per core, at most eight.
int DefaultWorkerCount();

template <typename Slot, typename State>
class OrderedPipeline {
public:
    using Work = std::function<void(Slot&, State&)>;
    using MakeState = std::function<std::unique_ptr<State>()>;

    OrderedPipeline(int workers, const MakeState& makeState, Work work)
        : work_(std::move(work)), slots_(std::size_t(workers < 1 ? 2 : 4 * workers)), done_(slots_.size(), true)
    {
        const int threads = workers < 1 ? 1 : workers;
        for (int i = 0; i < threads; ++i)
            states_.push_back(makeState());
        if (threads > 1)
            for (int i = 0; i < threads; ++i)
                threads_.emplace_back([this, i] { Run(*states_[std::size_t(i)]); });
    }

    ~OrderedPipeline()
    {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        workAvailable_.notify_all();
        for (auto& t : threads_)
            t.join();
    }

    OrderedPipeline(const OrderedPipeline&) = delete;
    OrderedPipeline& operator=(const OrderedPipeline&) = delete;

    bool Full() const { return count_ == slots_.size(); }
    bool Empty() const { return count_ == 0; }

    // The next free slot, to be filled and then submitted. Not when Full().
    Slot& Acquire() { return slots_[(head_ + count_) % slots_.size()]; }

    // Queues the acquired slot; `needsWork` false hands it back as filled.
    void Submit(bool needsWork)
    {
        const std::size_t index = (head_ + count_) % slots_.size();
        ++count_;
        if (!needsWork)
            return;
        if (threads_.empty()) {
            work_(slots_[index], *states_.front());
            return;
        }
        {
            std::lock_guard lock(mutex_);
            done_[index] = false;
            queue_.push_back(index);
        }
        workAvailable_.notify_one();
    }

    // The oldest slot, once its work is done. Not when Empty().
    Slot& Front()
    {
        if (!threads_.empty()) {
            std::unique_lock lock(mutex_);
            workDone_.wait(lock, [this] { return bool(done_[head_]); });
        }
        return slots_[head_];
    }

    void Pop()
    {
        head_ = (head_ + 1) % slots_.size();
        --count_;
    }

    // Drops every queued slot, waiting for work already running on them.
    void Clear()
    {
        while (!Empty()) {
            Front();
            Pop();
        }
    }

private:
    void Run(State& state)
    {
        for (;;) {
            std::size_t index = 0;
            {
                std::unique_lock lock(mutex_);
                workAvailable_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
                if (queue_.empty())
                    return;
                index = queue_.front();
                queue_.erase(queue_.begin());
            }
            work_(slots_[index], state);
            {
                std::lock_guard lock(mutex_);
                done_[index] = true;
            }
            workDone_.notify_all();
        }
    }

    Work work_;
    std::vector<Slot> slots_;
    std::vector<char> done_;
    std::size_t head_ = 0;
    std::size_t count_ = 0;
    std::vector<std::unique_ptr<State>> states_;
    std::vector<std::thread> threads_;
    std::vector<std::size_t> queue_;
    std::mutex mutex_;
    std::condition_variable workAvailable_;
    std::condition_variable workDone_;
    bool stopping_ = false;
};

}  // namespace arcovelo
