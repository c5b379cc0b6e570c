// The writers of --compare: the reading thread walks the dump and the tree
// as on one thread and hands each file whose size is its record's (and
// whose body a batch can carry) to them in batches; a writer opens it,
// compares its body and tells what differs (FileCompare). Lines keep the
// dump's order as the restore's do: a writer writes the lines of batch n
// once every batch before n is finished, and the reading thread its own
// once every batch handed out is; so the output is the same at every -j.
//
// Directories: a directory with files in flight stays open until their
// batches are finished; the walk hands it over when it leaves it
// (close_later), and it is closed once those batches are done.
#pragma once

#include <atomic>
#include <cstdint>

#include "inspect/compare_batch.h"
#include "inspect/compare_lines.h"
#include "inspect/file_compare.h"
#include "platform/platform.h"
#include "report/error_log.h"
#include "report/line_writer.h"
#include "writers/batch_executor.h"
#include "writers/batch_queue.h"
#include "writers/writer_threads.h"

// Directories left by the walk while files in them are in flight.
constexpr std::uint32_t kCompareDirsLater = 512;

class CompareWriters : public LineTurn, private BatchRunner {
 public:
  // executor: what runs the batches; nullptr: writer threads of its own.
  explicit CompareWriters(Platform& platform, BatchExecutor* executor = nullptr);
  ~CompareWriters();
  CompareWriters(const CompareWriters&) = delete;
  CompareWriters& operator=(const CompareWriters&) = delete;

  // Starts up to `writers` threads: false when none started (then the
  // caller compares alone).
  bool start(int writers);
  // Finishes everything handed out and ends the threads.
  void stop();
  // The batch being filled, with room for a body, a name and a path
  // (handing the last one out first where it has none).
  CompareBatch& room_for(std::uint32_t body_bytes, std::uint32_t name_units, std::uint32_t path_bytes);
  // The job just added to the current batch is whole.
  void added(CompareBatch& batch);
  void submit();
  // The reading thread's turn to write a line: every batch handed out is
  // finished.
  void wait_turn() override;
  // Closes dir once every file handed out in it is compared.
  void close_later(Handle dir);
  // The differences the writers told.
  std::int64_t differences();

 private:
  struct Context;
  void run_batch(std::uint64_t seq, int context) override;
  void close_finished();

  Platform& platform_;
  WriterThreads threads_;
  BatchExecutor* executor_;
  BatchQueue queue_;
  bool started_ = false;
  std::uint64_t filling_ = ~std::uint64_t{0};
  struct Later {
    Handle dir;
    std::uint64_t below;  // closed once every batch below this is finished
  };
  Later later_[kCompareDirsLater];
  std::uint32_t later_first_ = 0;
  std::uint32_t later_count_ = 0;
  Context* contexts_[kMaxWriters > int{kBatchSlots} ? kMaxWriters + 1 : int{kBatchSlots} + 1] = {};
  CompareBatch batches_[kBatchSlots];
};
