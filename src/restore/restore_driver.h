// The restore's start-up and its only loop: opens the log, the dump and the
// target, then takes the records one by one until the node stream ends
// (status 0), the names stream ends first (status 0), or start-up fails
// (status 1, the reason on standard error). A log that could not be written
// whole makes the status 2; with --strict, a run that logged anything ends
// with 3. At the end, standard error says how many entries the log names.
#pragma once

#include <csignal>
#include <cstdint>

#include "dump/dump_reader.h"
#include "dump/name_reader.h"
#include "platform/platform.h"
#include "report/error_log.h"
#include "report/failure.h"
#include "report/line_writer.h"
#include "report/progress_line.h"
#include "restore/dir_cursor.h"
#include "restore/entry_guard.h"
#include "restore/entry_writer.h"
#include "restore/writer_pool.h"

class PartFilter;

struct RestoreOptions {
  bool strict = false;  // a run whose log got lines ends with status 3
  bool quiet = false;   // nothing on standard output: no basepath line, no progress line
  bool resume = false;  // files already in the target whole are kept
  // --only: the parts restored (nullptr: all); a path that matched nothing
  // is told on standard error, as user_paths gives it, and ends with status 3.
  PartFilter* part = nullptr;
  void (*tell_unmatched)(int path, LineWriter& err) = nullptr;
};

class RestoreDriver {
 public:
  RestoreDriver(Platform& platform, EntryGuard& guard, NameReader& names, DumpReader& dump, DirCursor& cursor,
                EntryWriter& writer, ProgressLine& progress, ErrorLog& log)
      : platform_(platform),
        guard_(guard),
        names_(names),
        dump_(dump),
        cursor_(cursor),
        writer_(writer),
        progress_(progress),
        log_(log),
        err_(platform, LineSink::kStandardError) {}
  ~RestoreDriver();

  // Restores the dump whose base path is argument base_arg into the
  // directory named by argument target_arg (-1: the current directory for
  // either) and returns the exit status.
  int run(int base_arg, int target_arg, RestoreOptions options = {});

  // What an interruption leaves in the log (see platform/interruption.h):
  // the file being restored, or where the run stood. Registered as the
  // run's last words from the log's creation to the end.
  void say_interrupted();
  // Restores with this pool of writers (0 writers: the pool's batches run on
  // the reading thread); without one, everything happens on one thread.
  void use_pool(WriterPool* pool, int writers) {
    pool_ = pool;
    writers_ = writers;
  }

 private:
  bool start_up(int base_arg, int target_arg);
  bool open_streams();
  bool open_target(int target_arg);
  void start_writers(Handle log, Handle content);
  // A failed start leaves no log: the one it created is removed again.
  void abandon_start();
  int restore_all();
  int finish();
  void summarize();
  std::uint64_t entry_lines();
  void print(const char* text);
  // "fsrestore: <what>: <why>" on standard error; always false.
  bool complain(const char* what, const Failure& why);

  Platform& platform_;
  EntryGuard& guard_;
  NameReader& names_;
  DumpReader& dump_;
  DirCursor& cursor_;
  EntryWriter& writer_;
  ProgressLine& progress_;
  ErrorLog& log_;
  BufferedLineWriter<4096> err_;
  RestoreOptions options_;
  WriterPool* pool_ = nullptr;
  int writers_ = 0;
  Handle start_dir_;
  Handle target_;
  bool log_created_ = false;
  // Where the run stands, for the last words: set around every file, so
  // the cost is two stores an entry.
  enum Phase : int { kStarting, kBetweenEntries, kInFile };
  volatile std::sig_atomic_t phase_ = kStarting;
};
