// What runs the batches of a BatchQueue: writer threads (WriterThreads), or
// in tests one thread that runs them itself in an order of its choosing.
// The pool asks only these questions, so both run the same pool.
//
// The rule for a batch's work: it may wait only for batches handed out
// before it (for its turn to write lines, for an earlier creation of a name
// that may meet its own), never for a later one nor for the reading thread.
// So the lowest batch not finished never waits: every batch below it is
// finished, and every creation it may wait for is in those or earlier in its
// own run, which its runner made already. It finishes, and the next becomes
// the lowest; nothing can deadlock, however the runners interleave. The
// reading thread waits only for batches it has handed out.
#pragma once

#include <atomic>
#include <cstdint>

class BatchQueue;

// The work of one batch; `context` tells the runner's own buffers.
class BatchRunner {
 public:
  virtual void run_batch(std::uint64_t seq, int context) = 0;

 protected:
  ~BatchRunner() = default;
};

class BatchExecutor {
 public:
  virtual ~BatchExecutor() = default;
  // Runs the batches of queue through runner from now on, with up to
  // `writers` threads; returns how many threads started (this thread's
  // executor: 0).
  virtual int start(BatchQueue& queue, BatchRunner& runner, int writers) = 0;
  // A batch was handed out.
  virtual void handed_out() = 0;
  // Returns once every batch below `below` is finished.
  virtual void wait_finished(std::uint64_t below) = 0;
  // Returns once count holds value; the batches below `below` are those that
  // may change it.
  virtual void wait_count(const std::atomic<std::uint32_t>& count, std::uint32_t value,
                          std::atomic<std::uint32_t>& waiting, std::uint64_t below) = 0;
  // A count some thread may wait for changed.
  virtual void counted() = 0;
  // Ends the threads, once every batch handed out is finished.
  virtual void stop() = 0;
  // Whether other threads run batches: then a writer's line after the last
  // words of an interrupted run waits for the end of the process.
  virtual bool on_threads() const = 0;
};
