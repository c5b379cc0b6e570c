// The restore's start-up and its only loop: opens the dump, the log and the
// target, then takes the records one by one until the node stream ends
// (status 0), the names stream ends first (status 0), or start-up fails
// (status 1). A log that could not be written whole makes the status 2.
#pragma once

#include <cstdint>

#include "dump/dump_reader.h"
#include "dump/name_reader.h"
#include "platform/platform.h"
#include "report/error_log.h"
#include "report/progress_line.h"
#include "restore/dir_cursor.h"
#include "restore/entry_guard.h"
#include "restore/entry_writer.h"
#include "restore/writer_pool.h"

class RestoreDriver {
 public:
  RestoreDriver(Platform& platform, EntryGuard& guard, DumpReader& dump, DirCursor& cursor, EntryWriter& writer,
                ProgressLine& progress, ErrorLog& log)
      : platform_(platform),
        guard_(guard),
        dump_(dump),
        cursor_(cursor),
        writer_(writer),
        progress_(progress),
        log_(log) {}

  // Restores the dump whose base path is argument base_arg into the
  // directory named by argument target_arg (-1: the current directory for
  // either) and returns the exit status.
  int run(int base_arg, int target_arg);
  // Restores with this pool of writers (0 writers: the pool's batches run on
  // the reading thread); without one, everything happens on one thread.
  void use_pool(WriterPool* pool, int writers) {
    pool_ = pool;
    writers_ = writers;
  }

 private:
  bool start_up(int base_arg, int target_arg);
  bool open_streams(int base_arg);
  int restore_all();
  int finish();
  void print(const char* text);

  Platform& platform_;
  EntryGuard& guard_;
  DumpReader& dump_;
  DirCursor& cursor_;
  EntryWriter& writer_;
  ProgressLine& progress_;
  ErrorLog& log_;
  WriterPool* pool_ = nullptr;
  int writers_ = 0;
  Handle start_dir_;
  Handle target_;
};
