// The order of the batches handed to writer threads, by the restore and by
// --compare alike. Batch n (counted from 0)
// lives in slot n % kBatchSlots; the reading thread fills one slot at a
// time and hands it out; batches are taken in the order handed out, may
// finish in any order, and `finished_below` advances over those finished
// in order. A slot is filled again only once its batch is below that mark.
//
// The turn for lines: a line about batch n may be written once every batch
// below n is finished (wait_finished(n)), so lines keep the dump's order.
//
// Threads: hand_out is the reading thread's; take, claim and finish are any
// runner's; everything changes under the mutex, and `handed` and
// `finished_below` are atomics besides, so the last words and the reading
// thread's checks may read them without it (acquire, pairing with the
// release of the store under the mutex).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>


// Batches in flight at once: the slots of the queue.
constexpr std::uint32_t kBatchSlots = 16;

class BatchQueue {
 public:
  std::uint64_t handed_out() const { return handed_.load(std::memory_order_acquire); }
  std::uint64_t finished_below() const { return finished_below_.load(std::memory_order_acquire); }

  // The reading thread hands out the next batch, and wakes one writer.
  void hand_out();
  // A writer's next batch, in the order handed out; false once the queue
  // stops and every batch handed out is taken.
  bool take(std::uint64_t* seq);
  // Takes this batch out of turn, if no one took it yet (a runner on the
  // calling thread chooses its own order).
  bool claim(std::uint64_t seq);
  // The batch is finished; wakes whoever waits for it.
  void finish(std::uint64_t seq);
  // Returns once every batch below `below` is finished.
  void wait_finished(std::uint64_t below);
  // Returns once `count` holds `value`; `waiting` counts the threads asleep
  // on it, so that whoever changes it wakes them (counted()).
  void wait_count(const std::atomic<std::uint32_t>& count, std::uint32_t value, std::atomic<std::uint32_t>& waiting);
  void counted();
  // The writers end once every batch handed out is taken.
  void stop();

 private:
  std::mutex mutex_;
  std::condition_variable work_;
  std::condition_variable finished_;
  std::condition_variable counted_;
  std::atomic<std::uint64_t> handed_{0};
  std::uint64_t taken_ = 0;  // in the order handed out
  std::atomic<std::uint64_t> finished_below_{0};
  bool done_[kBatchSlots] = {};
  bool claimed_[kBatchSlots] = {};  // taken out of turn, or by a writer
  bool stopping_ = false;
};
