// Turns one record and its name into an entry of the directory the cursor
// stands in: a directory, or a file with its body copied from the content
// stream. Every entry is counted, and every file's body is consumed even
// when the file is skipped, cannot be created or cannot be written, so the
// content stream stays aligned.
#pragma once

#include <cstdint>

#include "dump/buffer_sizes.h"
#include "dump/fs_node.h"
#include "dump/name_reader.h"
#include "platform/platform.h"
#include "report/error_log.h"
#include "report/path_text.h"
#include "restore/content_read_ahead.h"
#include "restore/dir_cursor.h"
#include "restore/entry_guard.h"
#include "restore/restore_counters.h"
#include "restore/writer_pool.h"

class EntryWriter {
 public:
  EntryWriter(Platform& platform, EntryGuard& guard, NameReader& name_reader, DirCursor& cursor, ErrorLog& log,
              RestoreCounters& counters)
      : platform_(platform),
        guard_(guard),
        name_reader_(name_reader),
        cursor_(cursor),
        log_(log),
        counters_(counters),
        ahead_(platform) {}

  // The content stream; called once, before the first entry.
  void read_bodies_from(Handle content) { ahead_.read_from(content); }
  // next: the records after this one, whose small bodies may be read ahead.
  void restore_entry(const FsNode& node, RecordsAhead next);
  // Counts an entry that is not restored (--only) and consumes its body.
  void pass_over(const FsNode& node, RecordsAhead next);
  // --resume: a file already in the target whole is kept and its body
  // consumed; skipped() counts them.
  void keep_whole_files(bool keep) { keep_whole_ = keep; }
  std::int64_t skipped() const { return skipped_; }

  // With writers: new files go to the pool, with small bodies or, from a
  // content stream read at offsets, any body.
  void use_pool(WriterPool* pool) { pool_ = pool; }
  // With writers: the paths of the records, whose directories' paths go
  // with the files handed out, for the writers' messages.
  void name_paths(const PathText* paths) { paths_ = paths; }
  // --only: the records passed over.
  std::int64_t passed() const { return passed_; }
  // Every record handled so far, and the content bytes read.
  std::int64_t records() const { return std::int64_t{counters_.dirs} + counters_.files; }
  std::uint64_t bytes() const { return counters_.outbytes; }
  // Hands out the batch being filled and counts the files finished.
  void submit_batch();
  // Waits for every file handed out and counts them.
  void finish_batches();

 private:
  void restore_directory(const FsNode& node);
  void restore_file(const FsNode& node, RecordsAhead next);
  // Moves the body into file (or consumes it when file is none): from the
  // read-ahead while it holds bytes, then a long rest straight from the
  // stream in blocks; then finishes the file (see file_finish.h). The
  // stream's end or a failed read ends the body (its content line tells
  // what is missing).
  void copy_body(const FsNode& node, Handle file, RecordsAhead next);
  // Whether a writer takes the file: a new one in a directory this run made,
  // with a body the batch can hold or the writer can read at its offset.
  bool for_writers(const FsNode& node, const EntryPlace& at);
  // A long body of a stream read at offsets: the writer moves it from its
  // offset, and the walk passes over it.
  bool writer_moves_body(const FsNode& node) const {
    return ahead_.at_offsets() && ahead_.held() == 0 && node.size >= kStraightCopyBytes;
  }
  // The file and its record into the current batch, with its body copied
  // from the read-ahead or, when a writer is to move it from its offset,
  // passed over. A writer creates it (or takes `opened`, made here under the
  // rules for existing entries), writes and closes it.
  void hand_over(const FsNode& node, RecordsAhead next, Handle opened = Handle::none());
  void count_finished();

  Platform& platform_;
  EntryGuard& guard_;
  NameReader& name_reader_;
  DirCursor& cursor_;
  ErrorLog& log_;
  RestoreCounters& counters_;
  ContentReadAhead ahead_;
  bool keep_whole_ = false;
  std::int64_t skipped_ = 0;
  std::int64_t passed_ = 0;
  WriterPool* pool_ = nullptr;
  const PathText* paths_ = nullptr;
  std::int32_t counted_finished_ = 0;
  std::uint64_t counted_short_ = 0;
};
