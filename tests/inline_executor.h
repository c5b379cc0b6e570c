// Runs a writer pool's batches on the calling thread, in a fixed order other
// than the dump's: several batches wait, then run newest first, as writers
// that took them in turn might finish them; a wait runs the batches below
// it that could end it, newest first. So tests over the fake platform see
// one repeatable order in which batches finish out of the dump's order.
#pragma once

#include "writers/batch_queue.h"
#include "restore/writer_pool.h"

class InlineExecutor : public BatchExecutor {
 public:
  int start(BatchQueue& queue, BatchRunner& runner, int) override {
    queue_ = &queue;
    runner_ = &runner;
    return 0;
  }
  void handed_out() override {
    if (queue_->handed_out() - queue_->finished_below() >= 3) run_below(queue_->handed_out());
  }
  void wait_finished(std::uint64_t below) override { run_below(below); }
  void wait_count(const std::atomic<std::uint32_t>& count, std::uint32_t value, std::atomic<std::uint32_t>&,
                  std::uint64_t below) override {
    if (count.load() != value) run_below(below);
  }
  void counted() override {}
  void stop() override {}
  bool on_threads() const override { return false; }

  // Whether a batch is running now, and its runner's buffers (for
  // WriterPool::job_running_in).
  bool running() const { return depth_ > 0; }
  int context() const { return depth_; }

 private:
  // A batch may run inside another's wait: the outer one resumes after it,
  // each level with its own context.
  void run_below(std::uint64_t below) {
    for (std::uint64_t seq = below; queue_ != nullptr && seq > queue_->finished_below(); --seq) {
      if (!queue_->claim(seq - 1)) continue;
      ++depth_;
      static_assert(int{kBatchSlots} < kWriterContexts, "a context for every level of batches run inside another");
      runner_->run_batch(seq - 1, depth_);
      --depth_;
    }
  }

  BatchQueue* queue_ = nullptr;
  BatchRunner* runner_ = nullptr;
  int depth_ = 0;
};
