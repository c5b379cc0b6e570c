#include "restore/writer_last_words.h"

#include <thread>

namespace {

// A line takes microseconds; past this the writer is stuck in the system
// and the last words go without it.
constexpr std::uint32_t kLineWaitYields = 5'000'000;

}  // namespace

// Batches hold files in the dump's order and finish their jobs in order:
// the first batch with a job not finished holds the first file not
// finished; when every batch handed out is finished, the batch the reading
// thread was filling does. A batch may finish while it is read; its count
// is read before its progress, so it then counts as finished or names a
// file before the first one not finished, never one after it.
bool WriterLastWords::say(const BatchQueue& queue, const Batch* batches, std::uint64_t filling, bool wait_for_lines) {
  speaking_.store(true, std::memory_order_seq_cst);
  for (std::uint32_t i = 0; wait_for_lines && open_lines_.load(std::memory_order_seq_cst) != 0 && i < kLineWaitYields;
       ++i) {
    std::this_thread::yield();
  }
  const std::uint64_t handed_out = queue.handed_out();
  for (std::uint64_t seq = queue.finished_below(); seq < handed_out; ++seq) {
    const Batch& b = batches[seq % kBatchSlots];
    const std::uint32_t handed = b.handed.load(std::memory_order_acquire);
    const std::uint32_t finished = b.finished.load(std::memory_order_acquire);
    if (finished < handed) return say_in(b, finished);
  }
  if (filling != handed_out) return false;
  const Batch& last = batches[filling % kBatchSlots];
  return last.count > 0 && say_in(last, 0);
}

bool WriterLastWords::say_in(const Batch& batch, std::uint32_t job) {
  batch.name_job(batch.jobs[job], names_.name(), paths_);
  log_.interrupted_in_file(batch.jobs[job].attr, batch.jobs[job].size);
  return true;
}
