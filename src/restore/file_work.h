// The work on one file of a batch, on a writer: create it in its held
// directory in its lane's turn (unless the reading thread made it), write
// or move its body, then word, times and close, and the lines about it, in
// its batch's turn.
#pragma once

#include <atomic>
#include <cstdint>

#include "dump/buffer_sizes.h"
#include "dump/name_reader.h"
#include "platform/platform.h"
#include "report/error_log.h"
#include "report/failure.h"
#include "report/path_text.h"
#include "writers/batch_executor.h"
#include "restore/file_batch.h"
#include "restore/held_dirs.h"
#include "restore/writer_last_words.h"

// What one runner of batches needs of its own: a log writer over the shared
// log file that waits for the turn of its batch, a name buffer and a path
// for its lines, and a block to move bodies through where the system cannot
// move them itself.
class WriterContext : public LineTurn {
 public:
  WriterContext(Platform& platform, BatchExecutor& executor, WriterLastWords& last_words)
      : names(platform), log(platform, names), executor_(executor), last_words_(last_words) {}
  // Before a line: the turn of its batch, once; then the line is opened
  // against the last words (past them, a writer on a thread waits for the
  // end of the process).
  void wait_turn() override;
  void line_done() override { last_words_.close_line(); }

  std::uint64_t batch = 0;       // the batch it runs
  bool turned = false;           // its turn for lines came
  const FileJob* job = nullptr;  // the job it works on, if any
  NameReader names;
  PathText paths;
  ErrorLog log;
  alignas(4096) std::uint8_t block[kCopyBlockBytes];

 private:
  BatchExecutor& executor_;
  WriterLastWords& last_words_;
};

class FileWork {
 public:
  FileWork(Platform& platform, HeldDirs& dirs) : platform_(platform), dirs_(dirs) {}
  void read_bodies_from(Handle content) { content_ = content; }

  // Creates the job's file, after the creations of its lane handed out
  // before it (waited for through executor, batches below `seq` first); the
  // file the reading thread made, if any; none with *why on failure.
  Handle create(const Batch& batch, const FileJob& job, std::uint64_t seq, BatchExecutor& executor, Failure* why);
  // The body, word, times, close and the lines, as on one thread.
  void finish(const Batch& batch, const FileJob& job, Handle file, const Failure& why, WriterContext& ctx);
  // Bytes of bodies moved from their offsets that the stream did not hold.
  std::uint64_t bytes_missing() const { return bytes_missing_.load(std::memory_order_relaxed); }

 private:
  // Puts a job's name and path where ctx's log lines take them.
  ErrorLog& name_job(const Batch& batch, const FileJob& job, WriterContext& ctx);

  Platform& platform_;
  HeldDirs& dirs_;
  Handle content_;
  std::atomic<std::uint64_t> bytes_missing_{0};
};
