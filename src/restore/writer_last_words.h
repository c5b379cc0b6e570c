// The last words of a run interrupted while files handed to the writers are
// not finished: they name the first such file in the dump's order, as the
// reading thread names the file it is in, and no writer's line reaches the
// log after them.
//
// Why writers write their own lines: a line waits only for the batches
// before its own, so when the run is cut every line about an entry before
// the first unfinished file is already in the log, and the last words can
// be the last line without waiting for the reading thread (which never runs
// again).
//
// What the last words may read: atomics, and the batches between the
// first unfinished one and the one the stopped reading thread was filling,
// which no one changes meanwhile (the reading thread empties a slot only
// when it starts filling it again, and says so once it is empty). Writers
// go on, so the file named may be finished a moment later. No locks: on POSIX the last words run inside a signal
// handler on the reading thread.
//
// Closing the window: a writer opens a line before its check and closes it
// once written (open_line/close_line, sequentially consistent with the last
// words' flag). The last words set the flag first, then wait until no line
// is open; a line opened after the flag sees it and is not written. So a
// writer's line either lands before the last words or not at all.
#pragma once

#include <atomic>
#include <cstdint>

#include "dump/name_reader.h"
#include "platform/platform.h"
#include "report/error_log.h"
#include "report/path_text.h"
#include "writers/batch_queue.h"
#include "restore/file_batch.h"

class WriterLastWords {
 public:
  explicit WriterLastWords(Platform& platform) : names_(platform), log_(platform, names_) {}
  void write_to(Handle log) { log_.write_to(log); }

  // A writer is about to write a line: false once the last words began.
  // Either way, close_line() follows, or on false the writer never writes
  // again.
  bool open_line() {
    open_lines_.fetch_add(1, std::memory_order_seq_cst);
    return !speaking_.load(std::memory_order_seq_cst);
  }
  void close_line() { open_lines_.fetch_sub(1, std::memory_order_seq_cst); }

  // Names the first file handed out and not finished, or else the first of
  // the batch being filled (`filling`: the batch whose slot the reading
  // thread emptied last); false when there is none. With wait_for_lines,
  // first lets the lines being written land.
  bool say(const BatchQueue& queue, const Batch* batches, std::uint64_t filling, bool wait_for_lines);
  // The path of the file named.
  EntryText path() const { return paths_.last(); }

 private:
  bool say_in(const Batch& batch, std::uint32_t job);

  std::atomic<bool> speaking_{false};
  std::atomic<std::uint32_t> open_lines_{0};
  NameReader names_;
  PathText paths_;
  ErrorLog log_;
};
