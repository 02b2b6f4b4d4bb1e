// A bounded ring of work slots processed by worker threads and handed back in
// the order they were submitted. The caller's thread fills slots (reading
// ahead), workers transform them (compress, inflate), and the caller's thread
// takes them back one by one, so everything it does with the results -
// writing, volume decisions, callbacks - happens in the one-thread order.
// The caller counts as one of the workers: with N, N-1 threads are started
// and the caller works slots too, in Front, rather than sleep: the oldest
// when no thread has started it, else the newest queued. For small slots (a
// small file) a sleep and a wake-up cost more than the work. With one worker
// no thread is started: the work runs inside Submit.
// Only the caller's thread may call the member functions.
#pragma once

#include <algorithm>
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
        : work_(std::move(work)), slots_(std::size_t(workers < 1 ? 2 : kSlotsPerWorker * workers)),
          done_(slots_.size(), true)
    {
        callerState_ = makeState();
        for (int i = 1; i < workers; ++i)
            states_.push_back(makeState());
        for (std::size_t i = 0; i < states_.size(); ++i)
            threads_.emplace_back([this, i] { Run(*states_[i]); });
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
            work_(slots_[index], *callerState_);
            return;
        }
        std::size_t queued = 0;
        {
            std::lock_guard lock(mutex_);
            done_[index] = false;
            queue_.push_back(index);
            queued = queue_.size();
        }
        // Workers are woken for a few slots at a time, not for each: a wake-up
        // costs more than compressing a small file's chunk. Fewer the caller
        // works itself in Front.
        if (queued >= kWakeBatch)
            workAvailable_.notify_one();
    }

    // The oldest slot, once its work is done. Not when Empty().
    Slot& Front()
    {
        if (threads_.empty())
            return slots_[head_];
        std::unique_lock lock(mutex_);
        while (!done_[head_]) {
            std::size_t index = kNone;
            if (TakeFromQueue(head_)) {
                index = head_;
            } else if (!queue_.empty()) {
                index = queue_.back();
                queue_.pop_back();
            }
            if (index != kNone) {
                lock.unlock();
                work_(slots_[index], *callerState_);
                lock.lock();
                done_[index] = true;
                continue;
            }
            awaited_ = head_;
            workDone_.wait(lock, [this] { return bool(done_[head_]); });
            awaited_ = kNone;
        }
        return slots_[head_];
    }

    void Pop()
    {
        head_ = (head_ + 1) % slots_.size();
        --count_;
    }

    // Drops every slot: queued work is not done, work already running on
    // them is waited for.
    void Clear()
    {
        if (!threads_.empty()) {
            std::unique_lock lock(mutex_);
            for (const std::size_t index : queue_)
                done_[index] = true;
            queue_.clear();
        }
        while (!Empty()) {
            Front();
            Pop();
        }
    }

private:
    // Removes `index` from the queue; false when a worker has it already.
    // Called with the mutex held.
    bool TakeFromQueue(std::size_t index)
    {
        const auto found = std::find(queue_.begin(), queue_.end(), index);
        if (found == queue_.end())
            return false;
        queue_.erase(found);
        return true;
    }

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
            bool awaited = false;
            {
                std::lock_guard lock(mutex_);
                done_[index] = true;
                awaited = index == awaited_;
            }
            if (awaited)  // the caller waits for this slot only
                workDone_.notify_one();
        }
    }

    static constexpr int kSlotsPerWorker = 16;
    static constexpr std::size_t kWakeBatch = 4;
    static constexpr std::size_t kNone = std::size_t(-1);

    Work work_;
    std::vector<Slot> slots_;
    std::vector<char> done_;
    std::size_t head_ = 0;
    std::size_t count_ = 0;
    std::vector<std::unique_ptr<State>> states_;  // one per thread
    std::unique_ptr<State> callerState_;          // for the slots the caller works itself
    std::vector<std::thread> threads_;
    std::vector<std::size_t> queue_;
    std::mutex mutex_;
    std::condition_variable workAvailable_;
    std::condition_variable workDone_;
    std::size_t awaited_ = kNone;  // the slot the caller waits for
    bool stopping_ = false;
};

}  // namespace arcovelo
