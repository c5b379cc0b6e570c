#include "writers/batch_queue.h"

void BatchQueue::hand_out() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    handed_.store(handed_.load(std::memory_order_relaxed) + 1, std::memory_order_release);
  }
  work_.notify_one();
}

bool BatchQueue::take(std::uint64_t* seq) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    work_.wait(lock, [&] { return taken_ < handed_.load(std::memory_order_relaxed) || stopping_; });
    if (taken_ == handed_.load(std::memory_order_relaxed)) return false;
    const std::uint64_t next = taken_++;
    if (claimed_[next % kBatchSlots]) continue;
    claimed_[next % kBatchSlots] = true;
    *seq = next;
    return true;
  }
}

bool BatchQueue::claim(std::uint64_t seq) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::uint32_t slot = seq % kBatchSlots;
  if (seq < finished_below_.load(std::memory_order_relaxed) || done_[slot] || claimed_[slot]) return false;
  claimed_[slot] = true;
  return true;
}

void BatchQueue::finish(std::uint64_t seq) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::uint32_t slot = seq % kBatchSlots;
    done_[slot] = true;
    std::uint64_t below = finished_below_.load(std::memory_order_relaxed);
    while (below < handed_.load(std::memory_order_relaxed) && done_[below % kBatchSlots]) {
      done_[below % kBatchSlots] = false;
      claimed_[below % kBatchSlots] = false;
      ++below;
    }
    finished_below_.store(below, std::memory_order_release);
  }
  finished_.notify_all();
}

void BatchQueue::wait_finished(std::uint64_t below) {
  if (finished_below() >= below) return;
  std::unique_lock<std::mutex> lock(mutex_);
  finished_.wait(lock, [&] { return finished_below_.load(std::memory_order_relaxed) >= below; });
}

// A change of the count takes the mutex only when someone sleeps on it.
void BatchQueue::wait_count(const std::atomic<std::uint32_t>& count, std::uint32_t value,
                            std::atomic<std::uint32_t>& waiting) {
  if (count.load(std::memory_order_acquire) == value) return;
  // Sequentially consistent with the creator's increment and its look at
  // `waiting`: either it sees this waiter, or this waiter sees its count.
  waiting.fetch_add(1, std::memory_order_seq_cst);
  {
    std::unique_lock<std::mutex> lock(mutex_);
    counted_.wait(lock, [&] { return count.load(std::memory_order_seq_cst) == value; });
  }
  waiting.fetch_sub(1, std::memory_order_relaxed);
}

void BatchQueue::counted() {
  { std::lock_guard<std::mutex> lock(mutex_); }
  counted_.notify_all();
}

void BatchQueue::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  work_.notify_all();
}
