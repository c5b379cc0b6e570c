// Writer threads: each takes the next batch handed out and runs it, until
// the queue stops. Threads start through the platform with interruptions
// held, so the reading thread takes them; one the system cannot start is
// left out.
#pragma once

#include "platform/platform.h"
#include "writers/batch_executor.h"
#include "writers/batch_queue.h"

// The most writers a restore starts: a larger -j counts as this.
constexpr int kMaxWriters = 16;
// Writers by default: the processors the process may use, at most this.
constexpr int kDefaultWriters = 4;

class WriterThreads : public BatchExecutor {
 public:
  explicit WriterThreads(Platform& platform) : platform_(platform) {}
  int start(BatchQueue& queue, BatchRunner& runner, int writers) override;
  void handed_out() override {}
  void wait_finished(std::uint64_t below) override { queue_->wait_finished(below); }
  void wait_count(const std::atomic<std::uint32_t>& count, std::uint32_t value, std::atomic<std::uint32_t>& waiting,
                  std::uint64_t) override {
    queue_->wait_count(count, value, waiting);
  }
  void counted() override { queue_->counted(); }
  void stop() override;
  bool on_threads() const override { return true; }

 private:
  struct Start {
    WriterThreads* threads;
    int index;
  };
  static void run_writer(void* start);

  Platform& platform_;
  BatchQueue* queue_ = nullptr;
  BatchRunner* runner_ = nullptr;
  int started_ = 0;
  ThreadRef threads_[kMaxWriters];
  Start starts_[kMaxWriters];
};
