// The restore's start-up and its only loop: opens the log, the dump and the
// target, then takes the records one by one until the node stream ends
// (status 0), the names stream ends first (status 0), or start-up fails
// (status 1, the reason on standard error). A log that could not be written
// whole makes the status 2; with --strict, a run that logged anything ends
// with 3, and so does one with an --only path that matched nothing. At the
// end, standard error names the entries not restored (the first kToldLosses
// of them) and says how many there were; with --report,
// each is an object of the report too.
#pragma once

#include <csignal>
#include <cstdint>

#include "dump/dump_reader.h"
#include "dump/name_reader.h"
#include "platform/platform.h"
#include "report/error_log.h"
#include "report/failure.h"
#include "report/line_writer.h"
#include "report/loss_report.h"
#include "report/path_text.h"
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
  // ends a run that read its dump to the end with status 3.
  PartFilter* part = nullptr;
  // --errors: the log's path, absolute or relative to the starting
  // directory (nullptr: "$errors" there).
  const char16_t* log_path = nullptr;
  // --report: the report's path, absolute or relative to the starting
  // directory (nullptr: none).
  const char16_t* report = nullptr;
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
        err_(platform, LineSink::kStandardError),
        losses_(platform) {}
  ~RestoreDriver();

  // Restores the dump whose base path is argument base_arg into the
  // directory named by argument target_arg (-1: the current directory for
  // either) and returns the exit status.
  int run(int base_arg, int target_arg, RestoreOptions options = {});

  // What an interruption leaves in the log (see platform/interruption.h):
  // the file being restored, or where the run stood. Registered as the
  // run's last words from the log's creation to the end.
  void say_interrupted();
  // Whether the last run read its dump to the end with a whole log: only
  // then does an --only path that matched nothing count, and the caller
  // tells it (PartFilter::found).
  bool ran_to_end() const { return ran_to_end_; }
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
  // --report: made once the streams, the target and the log are open, by
  // the rules for the run's own files (never through a link, never one of
  // the streams or the log, nor the log's place).
  bool open_report();
  void start_writers(Handle log, Handle content);
  // The log, made under its temporary name; none when that fails (said).
  Handle create_log();
  // Gives the log its name once nothing of the start can fail any more.
  bool place_log();
  // A failed start leaves the previous log as it was: the new one, still
  // under its temporary name, is removed again.
  void abandon_start();
  int restore_all();
  int finish();
  void summarize();
  // The log's name as the user gave it (--errors), or "$errors".
  void write_log_name();
  LossTotals totals() const;
  // Writes the report's last object and closes it; the status to end with.
  int close_report(int status);
  void name_record(const FsNode& node);
  // The report's last object, in the last words.
  void report_interrupted(const char* where, const EntryText* path);
  std::uint64_t entry_lines();
  void print(const char* text);
  // "fsrestore: <what>: <why>" on standard error; always false.
  bool complain(const char* what, const Failure& why);
  // "fsrestore: cannot <verb> <the log>: <why>"; always false.
  bool complain_log(const char* verb, const Failure& why);

  Platform& platform_;
  EntryGuard& guard_;
  NameReader& names_;
  DumpReader& dump_;
  DirCursor& cursor_;
  EntryWriter& writer_;
  ProgressLine& progress_;
  ErrorLog& log_;
  BufferedLineWriter<4096> err_;
  // The path of the record read last, and what the run left out.
  PathText paths_;
  LossReport losses_;
  bool passing_ = false;  // in a run of records passed over
  RestoreOptions options_;
  WriterPool* pool_ = nullptr;
  int writers_ = 0;
  bool ran_to_end_ = false;
  Handle start_dir_;
  Handle target_;
  bool log_created_ = false;
  // The log's directory, its name there and, until it is placed, the name
  // it is made under: "$errors.<process id>.tmp", which no other run takes
  // at the same time and no entry meets (it is gone before the first one).
  Handle log_dir_;
  const char16_t* log_name_ = u"$errors";
  char16_t temp_log_[32] = {};
  volatile std::sig_atomic_t log_placed_ = 0;
  // Where the run stands, for the last words: set around every file, so
  // the cost is two stores an entry.
  enum Phase : int { kStarting, kBetweenEntries, kInFile };
  volatile std::sig_atomic_t phase_ = kStarting;
};
