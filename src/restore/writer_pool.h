// The writers of a parallel restore. The reading thread walks the dump as a
// sequential restore does: it applies every rule that decides whether and
// where an entry goes, makes and enters the directories, and hands each file
// in a directory this run made to the pool in batches: its name and
// directory, the record's times and word, and a small body copied out of the
// read-ahead or, from a content stream read at offsets, where a long body
// starts in it. A writer creates the file, writes or moves the body, sets
// times and attributes and closes it. Files elsewhere (the target, reused
// directories) meet EntryGuard's rules for existing entries on the reading
// thread, which makes them; a long body it hands on, with the open file, to
// be moved by a writer from its offset.
//
// Creations that could meet one name keep the dump's order: within a
// directory, each name has a key (see name_key) that every name the file
// system may take for it shares, and a lane by its key. A name whose key may
// have been handed out before in its directory (a table of keys tells) puts
// its lane in order: from then on each creation of that lane waits until
// every one of the lane handed out before it is done. The reading thread
// waits for them before it makes an entry of such a name itself. A name met
// first in a lane not in order waits for nothing.
//
// Results are those of one thread:
// - Log lines: a writer writes a line for an entry of batch b only once every
//   batch before b is finished, and the reading thread writes its own only
//   once every batch handed out is finished (drain). So lines reach the log
//   in dump order, as soon as every earlier entry is finished, and so do
//   the losses they tell (LossReport, which the turns keep to one thread at
//   a time); a file's path is its directory's, carried once per directory
//   in the batch, and its name.
// - Directory times: a directory with files in flight is handed to the pool
//   when the walk leaves it; whoever finishes its last file (the reading
//   thread or a writer) sets its times and closes it.
// - Memory and handles are bounded by the batches in flight: kBatchSlots
//   batches of at most kBatchEntries files and kBatchBodyBytes of bodies
//   held, and of bodies moved from their offsets kBatchMovedBytes (or one
//   longer body), which hold no memory.
//
// Batches and directories take the mutex once per batch; an entry takes it
// only where it waits for, or wakes, a creation of an ordered lane.
// With writers = 0 the pool runs batches itself, on the reading thread, in a
// fixed order other than the dump's (newest first), so tests over an
// in-memory platform see one repeatable order in which batches finish out of
// the dump's order, as writers may finish them.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "dump/buffer_sizes.h"
#include "dump/name_reader.h"
#include "platform/platform.h"
#include "report/error_log.h"
#include "report/loss_report.h"
#include "report/path_text.h"

// The most writers a restore starts: a larger -j counts as this.
constexpr int kMaxWriters = 16;
// Writers by default: the processors the process may use, at most this.
constexpr int kDefaultWriters = 4;
constexpr std::uint32_t kBatchSlots = 16;
constexpr std::uint32_t kBatchEntries = 64;
// A writer creates up to this many files of its batch before it writes
// them, so a later batch of the same directory waits only for these
// creations; fewer where the process may hold few handles.
constexpr std::uint32_t kCreateRun = 16;
// 16 batches of 256 KiB: at most 4 MiB of bodies in flight.
constexpr std::uint32_t kBatchBodyBytes = kReadAheadBytes;
// Bodies a batch moves from their offsets: enough to be worth a hand-over,
// few enough that long bodies spread over the writers.
constexpr std::uint64_t kBatchMovedBytes = 4 * kCopyBlockBytes;
// FileJob::from of a body held in the batch.
constexpr std::uint64_t kBodyInBatch = ~std::uint64_t{0};
// Room for one longest name and then some.
constexpr std::uint32_t kBatchNameUnits = kNameUnits + 8192;
// Room for the paths of a batch's directories, each once, for the messages
// that name a file by its path: four of the longest.
constexpr std::uint32_t kBatchPathBytes = 4 * kPathTextBytes;
// Lanes of creations per directory, and the bits of its table of keys
// handed out.
constexpr std::uint32_t kLanes = 64;
constexpr std::uint32_t kKeyBits = 4096;
// A name's key in a directory. Where names are compared byte for byte, the
// name itself; where they may be folded, only its ASCII characters other
// than letters, which no case folding or normalization makes or changes.
std::uint32_t name_key(const char16_t* name, bool folds);
// FileJob::ticket of a creation that waits for none.
constexpr std::uint32_t kNoTurn = ~std::uint32_t{0};

// Directories left by the walk while files inside them are in flight, plus
// those the walk holds.
constexpr std::uint32_t kPendingDirs = 1024;

struct FileJob {
  std::uint8_t lane = 0;  // the writer creates it in its lane's turn
  std::uint32_t ticket = kNoTurn;
  std::int32_t dir = -1;  // the pending directory holding it; -1: none (`opened`)
  std::uint16_t attr = 0;
  FileTime creation = 0;
  FileTime write = 0;
  std::uint64_t size = 0;
  std::uint64_t missing = 0;  // bytes the content stream lacked
  std::uint64_t from = kBodyInBatch;  // where the body starts in the content stream
  Handle opened;  // made by the reading thread: the writer moves the body only
  std::uint32_t body = 0;     // offset of the body in the batch
  std::uint32_t name = 0;     // offset of the name in the batch
  std::uint32_t record = 0;   // its record, counted from 0
  // Its directory's path in the batch: offset, length, and whether it was cut.
  std::uint32_t path = 0;
  std::uint32_t path_length = 0;
  bool path_cut = false;
};

struct Batch {
  std::uint32_t count = 0;
  std::uint32_t body_used = 0;
  std::uint32_t name_used = 0;
  std::uint64_t moved_bytes = 0;  // of the bodies moved from their offsets
  std::uint32_t path_used = 0;
  // The directory whose path was copied last (PathText::directory_serial),
  // which the next file of the same directory shares.
  std::uint64_t path_serial = ~std::uint64_t{0};
  // For the last words of an interrupted run: the count once handed out,
  // and the jobs finished, in order.
  std::atomic<std::uint32_t> handed{0};
  std::atomic<std::uint32_t> finished{0};
  FileJob jobs[kBatchEntries];
  char16_t names[kBatchNameUnits];
  char paths[kBatchPathBytes];
  alignas(4096) std::uint8_t body[kBatchBodyBytes];
};

class WriterPool;

// What one writer needs of its own: a log writer over the shared log file
// that waits for the turn of its batch, a name buffer and a path for its
// lines, and a block to move bodies through where the system cannot move
// them itself.
class WriterContext : public LineTurn {
 public:
  explicit WriterContext(Platform& platform) : names(platform), log(platform, names) {}
  void wait_turn() override;

  WriterPool* pool = nullptr;
  std::uint64_t batch = 0;
  bool turned = false;
  NameReader names;
  PathText paths;
  ErrorLog log;
  alignas(4096) std::uint8_t block[kCopyBlockBytes];
};

class WriterPool : public LineTurn {
 public:
  explicit WriterPool(Platform& platform);
  ~WriterPool();
  WriterPool(const WriterPool&) = delete;
  WriterPool& operator=(const WriterPool&) = delete;

  // Starts `writers` threads (0: batches run on the calling thread, newest
  // first) writing lines to log_file and moving long bodies from content,
  // and returns how many started: a thread the system cannot start is
  // left out (0 of several: the caller restores without the pool). Every
  // handle the writers may hold (the files of their creation runs, files the
  // reading thread made for them, directories held) stays within half of
  // handle_limit (0: none). Call once.
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
  bool may_hand_open_file() const {
    return open_files_.load(std::memory_order_relaxed) < open_file_limit_;
  }
  // One such file is handed out; the writer that closes it takes it off.
  void count_open_file() { open_files_.fetch_add(1, std::memory_order_relaxed); }
  // A directory the walk holds, whose names fold or not: returns its slot,
  // or -1 when none is free.
  std::int32_t hold_dir(Handle dir, FileTime creation, FileTime write, bool folds);
  void add_child(std::int32_t dir) { dirs_[dir].count.fetch_add(1, std::memory_order_relaxed); }
  // A file a writer is to create in the directory: its lane, and its place
  // there (kNoTurn: it waits for none).
  void issue(std::int32_t dir, const char16_t* name, std::uint32_t* lane, std::uint32_t* ticket);
  // The reading thread is about to make an entry of this name itself.
  void wait_lane(std::int32_t dir, const char16_t* name);
  // The walk has left the directory, or a file in it is finished: the last
  // of these sets its times and closes it.
  void release_dir(std::int32_t dir);

  std::int32_t files_finished() const { return files_done_.load(std::memory_order_relaxed); }
  // Bytes of bodies moved from their offsets that the stream did not hold.
  std::uint64_t bytes_missing() const { return bytes_missing_.load(std::memory_order_relaxed); }
  // The first writer log that could not be written whole, or nullptr.
  const ErrorLog* incomplete_log();
  // The entry lines the writers wrote, for the run's summary.
  std::uint64_t entry_lines();
  int writers() const { return writers_; }
  // The last words of an interrupted run while a file handed out is not
  // finished: names the first such file in the dump's order, as the reading
  // thread names the file it is in, and no writer writes a line after it.
  // False when every file handed out is finished. Reads only atomics and
  // the batches the stopped reading thread filled; writers go on meanwhile,
  // so the file named may be finished a moment later.
  bool say_interrupted();
  // The path of the file the last words named.
  EntryText interrupted_path() const { return last_paths_.last(); }
  // Without threads: whether a batch is running now, on this thread.
  bool running_inline() const { return inline_depth_ > 0; }
  // Without threads: the job running now, if any.
  const FileJob* running_job() const { return running_job_; }

 private:
  friend class WriterContext;
  struct PendingDir {
    std::atomic<std::int32_t> count{0};
    std::atomic<bool> busy{false};
    std::atomic<std::uint32_t> created[kLanes];
    std::atomic<std::uint32_t> waiting[kLanes];  // threads waiting for a lane's creation
    std::uint32_t issued[kLanes];
    std::uint64_t keys[kKeyBits / 64];  // keys handed out, as bits
    std::uint64_t ordered = 0;          // lanes in order, as bits
    bool folds = true;
    Handle handle;
    FileTime creation = 0;
    FileTime write = 0;
  };

  // A name's lane, and its key's bit in the directory's table.
  struct KeyPlace {
    std::uint32_t lane;
    std::uint32_t word;
    std::uint64_t mask;
  };
  static KeyPlace place_of(const PendingDir& dir, const char16_t* name);
  void work(int index);
  void run_batch(std::uint64_t seq, WriterContext& ctx);
  // Creates the file of a job that has none; none with *why on failure.
  Handle create(const Batch& batch, const FileJob& job, std::uint64_t seq, Failure* why);
  void run_job(const Batch& batch, const FileJob& job, Handle file, const Failure& why, WriterContext& ctx);
  // A body from its offset into file (none: only read); the bytes missing.
  std::uint64_t move_body(const Batch& batch, const FileJob& job, Handle file, WriterContext& ctx, bool* written);
  void finish_batch(std::uint64_t seq);
  void wait_finished(std::uint64_t below);
  // Until `ticket` entries of the lane are created; without threads, by
  // running the batches below `below`.
  void wait_created(std::int32_t dir, std::uint32_t lane, std::uint32_t ticket, std::uint64_t below);
  // Without threads: runs the pending batches, newest first, below `below`.
  void run_inline(std::uint64_t below);
  // Puts a job's name and path where ctx's log lines take them.
  ErrorLog& name_job(const Batch& batch, const FileJob& job, WriterContext& ctx);
  static EntryText directory_of(const Batch& batch, const FileJob& job);
  // Names a batch's job in the last words.
  bool say_interrupted_in(const Batch& batch, std::uint32_t job);
  // A writer's line after the last words waits for the end of the process.
  void hold_after_last_words();

  Platform& platform_;
  int writers_ = 0;
  bool inline_ = true;
  int inline_depth_ = 0;
  const FileJob* running_job_ = nullptr;
  ThreadRef threads_[kMaxWriters];
  // A writer's thread starts here, with its index.
  struct Start {
    WriterPool* pool;
    int index;
  };
  Start starts_[kMaxWriters];
  static void run_writer(void* start);
  std::uint32_t create_run_ = kCreateRun;
  std::uint32_t open_file_limit_ = kBatchSlots * kBatchEntries;
  std::atomic<std::uint32_t> open_files_{0};  // made by the reading thread, not yet closed
  // One per writer; without threads, one per level of batches run inside
  // another's turn. Built in place: a name buffer and a log each.
  alignas(WriterContext) unsigned char contexts_[kMaxWriters + 1][sizeof(WriterContext)];
  WriterContext& context(int i) { return *reinterpret_cast<WriterContext*>(contexts_[i]); }
  std::mutex mutex_;
  std::condition_variable work_;
  std::condition_variable finished_;
  std::condition_variable created_;
  // Changed under the mutex; atomic for the last words.
  std::atomic<std::uint64_t> submitted_{0};   // batches handed out
  std::uint64_t taken_ = 0;                   // batches a writer took
  std::atomic<std::uint64_t> done_below_{0};  // every batch below this is finished
  bool done_[kBatchSlots] = {};
  bool running_[kBatchSlots] = {};
  bool stopping_ = false;
  std::atomic<bool> speaking_{false};  // the last words have begun
  NameReader last_names_;
  PathText last_paths_;
  ErrorLog last_log_;
  std::atomic<std::int32_t> files_done_{0};
  std::atomic<std::uint64_t> bytes_missing_{0};
  Handle content_;
  std::uint32_t next_dir_ = 0;
  std::uint32_t dir_limit_ = kPendingDirs;
  std::atomic<std::uint32_t> dirs_held_{0};
  PendingDir dirs_[kPendingDirs];
  Batch batches_[kBatchSlots];
};
