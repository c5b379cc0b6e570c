// The writers of a parallel restore. The reading thread walks the dump as a
// sequential restore does: it applies every rule that decides whether and
// where an entry goes, makes and enters the directories, and hands each file
// in a directory this run made to the pool in batches (file_batch.h). A
// writer creates the file, writes or moves the body, sets word and times and
// closes it (FileWork). Files elsewhere (the target, reused directories)
// meet EntryGuard's rules for existing entries on the reading thread, which
// makes them; a long body it hands on, with the open file, to be moved by a
// writer from its offset.
//
// The parts, each with its own contract:
//   BatchQueue       (writers/) the slots, the order batches are handed out and
//                    finished in, the turn for lines;
//   BatchExecutor    (writers/) what runs the batches: WriterThreads, or in tests one
//                    thread in an order of its own; why nothing deadlocks;
//   NameOrder        which creations in a directory keep the dump's order;
//   HeldDirs         the directories held while files in them are in flight;
//   FileWork         the work on one file;
//   WriterLastWords  the last words of a run cut while files are in flight.
//
// Results are those of one thread:
// - Lines keep the dump's order: a runner writes a line about batch n only
//   once every batch before n is finished, and the reading thread writes its
//   own only once every batch handed out is finished (wait_turn). Batches
//   hold files in the dump's order and a runner finishes them in order, so
//   a line waits exactly for every earlier entry. The losses the lines tell
//   go to LossReport in the same turns, one thread at a time; a file's path
//   is its directory's, carried once per directory in the batch, and its
//   name.
// - Creations that could meet one name keep the dump's order (NameOrder),
//   and the reading thread waits for them before it makes an entry of such
//   a name itself.
// - Directory times: whoever finishes a directory's last file in flight, or
//   the walk leaving it, last, sets its times and closes it (HeldDirs).
// - Memory and handles are bounded by the batches in flight: kBatchSlots
//   batches of at most kBatchEntries files and kBatchBodyBytes of bodies
//   held, and of bodies moved from their offsets kBatchMovedBytes (or one
//   longer body), which hold no memory; files a runner holds open at once,
//   files the reading thread made for writers and directories held are
//   bounded by the process's handles (start).
//
// Locks: the queue's mutex once per batch handed out, taken and finished; an
// entry takes it only where it waits for, or wakes, a creation of an ordered
// lane. Everything else a batch carries is published by the hand-out (the
// mutex) and read-only for its runner, except `finished`, its progress for
// the last words (release by the runner, acquire by them). The counts of
// files finished, bytes missing and files the reading thread made for
// writers are relaxed: they show progress or bound handles, and the run's
// final figures are read after the threads are joined.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"
#include "report/error_log.h"
#include "report/loss_report.h"
#include "writers/batch_executor.h"
#include "writers/batch_queue.h"
#include "restore/file_batch.h"
#include "restore/file_work.h"
#include "restore/held_dirs.h"
#include "restore/writer_last_words.h"
#include "writers/writer_threads.h"

// A runner creates up to this many files of its batch before it writes
// them, so a later batch of the same directory waits only for these
// creations; fewer where the process may hold few handles.
constexpr std::uint32_t kCreateRun = 16;
// Runners' own buffers: one per writer thread, and for the runner on the
// calling thread of tests one per level of batches run inside another's
// wait, which is at most one level per slot above the reading thread's.
constexpr int kWriterContexts = (kMaxWriters > int{kBatchSlots} ? kMaxWriters : int{kBatchSlots}) + 1;

class WriterPool : public LineTurn, private BatchRunner {
 public:
  // executor: what runs the batches; nullptr: writer threads of its own.
  explicit WriterPool(Platform& platform, BatchExecutor* executor = nullptr);
  ~WriterPool();
  WriterPool(const WriterPool&) = delete;
  WriterPool& operator=(const WriterPool&) = delete;

  // Starts up to `writers` threads writing lines to log_file and moving long
  // bodies from content, and returns how many started: a thread the system
  // cannot start is left out (0 of several: the caller restores without the
  // pool). Every handle the writers may hold (the files of their creation
  // runs, files the reading thread made for them, directories held) stays
  // within half of handle_limit (0: none). Call once.
  int start(int writers, Handle log_file, Handle content, std::uint32_t handle_limit);
  // Finishes everything handed out and ends the threads.
  void stop();

  // The batch being filled; waits until its slot is free.
  Batch& current();
  // Room in the current batch for a body held or moved, a name and the
  // bytes of a directory's path: false when it must be handed out first.
  bool fits(std::uint64_t held_bytes, std::uint64_t moved_bytes, std::uint32_t name_units,
            std::uint32_t path_bytes) const;
  // The losses the writers' lines tell of go to losses too.
  void report_losses(LossReport* losses);
  // Hands the current batch to the writers (nothing when it is empty).
  void submit();
  // Submits and waits until every batch handed out is finished: the
  // reading thread's turn to write a line.
  void wait_turn() override;

  // Whether one more file the reading thread made may wait open for a
  // writer; false when those in flight already hold their share of the
  // handles (the reading thread then writes the body itself).
  bool may_hand_open_file() const { return open_files_.load(std::memory_order_relaxed) < open_file_limit_; }
  // One such file is handed out; the writer that closes it takes it off.
  void count_open_file() { open_files_.fetch_add(1, std::memory_order_relaxed); }
  // The directories held for files in flight, which the walk holds and
  // lets go of as it enters and leaves them.
  HeldDirs& dirs() { return dirs_; }
  // The reading thread is about to make an entry of this name itself in a
  // held directory: first the creations it may meet.
  void wait_lane(std::int32_t dir, const char16_t* name);

  std::int32_t files_finished() const { return files_done_.load(std::memory_order_relaxed); }
  // Bytes of bodies moved from their offsets that the stream did not hold.
  std::uint64_t bytes_missing() const { return work_.bytes_missing(); }
  // The first writer log that could not be written whole, or nullptr.
  const ErrorLog* incomplete_log();
  // The entry lines the writers wrote, for the run's summary.
  std::uint64_t entry_lines();
  int writers() const { return writers_; }
  // The last words of an interrupted run while a file handed out is not
  // finished (WriterLastWords); false when every file handed out is.
  bool say_interrupted();
  // The path of the file the last words named.
  EntryText interrupted_path() const { return last_words_.path(); }
  // The job a runner works on now, if any (tests).
  const FileJob* job_running_in(int context) { return this->context(context).job; }

 private:
  void run_batch(std::uint64_t seq, int context) override;
  WriterContext& context(int i) { return *reinterpret_cast<WriterContext*>(contexts_[i]); }

  Platform& platform_;
  WriterThreads threads_;
  BatchExecutor* executor_;
  BatchQueue queue_;
  HeldDirs dirs_;
  FileWork work_;
  WriterLastWords last_words_;
  bool started_ = false;
  int writers_ = 0;
  std::uint32_t create_run_ = kCreateRun;
  std::uint32_t open_file_limit_ = kBatchSlots * kBatchEntries;
  std::atomic<std::uint32_t> open_files_{0};  // made by the reading thread, not yet closed
  std::atomic<std::int32_t> files_done_{0};
  // The batch whose slot the reading thread emptied last, to fill it.
  std::atomic<std::uint64_t> filling_{~std::uint64_t{0}};
  // Built in place: a name buffer and a log each.
  alignas(WriterContext) unsigned char contexts_[kWriterContexts][sizeof(WriterContext)];
  Batch batches_[kBatchSlots];
};
