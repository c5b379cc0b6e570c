#include "restore/restore_driver.h"

#include <cstring>
#include <initializer_list>
#include <string_view>

#include "dump/buffer_sizes.h"
#include "platform/interruption.h"
#include "report/exit_status.h"
#include "report/open_failure.h"
#include "restore/part_filter.h"
#include "target/target_dir.h"

namespace {

// The driver whose run the last words speak for.
RestoreDriver* g_speaker = nullptr;

void speak() { g_speaker->say_interrupted(); }

}  // namespace

RestoreDriver::~RestoreDriver() {
  if (g_speaker != this) return;
  set_last_words(nullptr);
  g_speaker = nullptr;
}

int RestoreDriver::run(int base_arg, int target_arg, RestoreOptions options) {
  options_ = options;
  ran_to_end_ = false;
  writer_.keep_whole_files(options.resume);
  // Before anything is touched: the table of entries made is large.
  if (!guard_.reserve()) {
    err_.text("fsrestore: not enough memory for the table of entries restored").end_line();
    return kExitStartFailed;
  }
  if (!start_up(base_arg, target_arg)) {
    abandon_start();
    return kExitStartFailed;
  }
  return restore_all();
}

// The log comes first, under a temporary name, so one that cannot be made
// is told before the run waits for a producer to open its end of a pipe;
// it takes its name (replacing an old log, never writing through it: that
// may be a link, a FIFO or a file with other names) once the streams and
// the target are open, so a failed start leaves the old log as it was.
// Handles already opened are left to the end of the process.
bool RestoreDriver::start_up(int base_arg, int target_arg) {
  const bool fits = dump_.take_base_path(base_arg);
  if (!options_.quiet) {
    print("basepath=<");
    if (base_arg >= 0) platform_.console_write_arg(base_arg);
    print(">\n");
    platform_.console_flush();
  }
  start_dir_ = platform_.open_start_dir();
  if (!start_dir_.valid()) return complain("cannot open the starting directory", Failure::of_last_call(platform_));
  const Handle log = create_log();
  if (!log.valid()) return false;
  phase_ = kStarting;
  g_speaker = this;
  set_last_words(speak);
  if (!fits) {
    write_base_path_too_long(err_);
    return false;
  }
  // The log takes its name last: a start that fails leaves the old one.
  if (!open_streams() || !open_target(target_arg) || !open_report() || !place_log()) return false;
  const Handle content = dump_.handle(DumpReader::kContent);
  writer_.read_bodies_from(content);
  if (pool_ != nullptr) start_writers(log, content);
  if (pool_ != nullptr) {
    log_.set_turn(pool_);
    writer_.use_pool(pool_);
    cursor_.use_pool(pool_);
    pool_->report_losses(&losses_);
    writer_.name_paths(&paths_);
  }
  log_.report_losses(&losses_, &paths_);
  cursor_.start(target_);
  progress_.start();
  return true;
}

Handle RestoreDriver::create_log() {
  log_dir_ = start_dir_;
  if (options_.log_path != nullptr) log_dir_ = platform_.open_parent(options_.log_path, &log_name_);
  if (!log_dir_.valid()) return complain_log("create", Failure::of_last_call(platform_)), Handle::none();
  if (guard_.refuses(log_name_)) return complain_log("create", guard_.failure()), Handle::none();
  char16_t digits[12];
  int count = 0;
  for (std::uint32_t id = platform_.process_id(); count == 0 || id > 0; id /= 10) {
    digits[count++] = static_cast<char16_t>(u'0' + id % 10);
  }
  char16_t* out = temp_log_;
  for (const char16_t* p = u"$errors."; *p != 0; ++p) *out++ = *p;
  while (count > 0) *out++ = digits[--count];
  for (const char16_t* p = u".tmp"; *p != 0; ++p) *out++ = *p;
  *out = 0;
  const Handle log = guard_.create_file(EntryPlace::own(log_dir_), temp_log_);
  if (!log.valid()) return complain_log("create", guard_.failure()), Handle::none();
  log_.write_to(log);
  log_created_ = true;
  if (guard_.protect(log)) return log;
  complain_log("identify", Failure::of_last_call(platform_));
  return Handle::none();
}

// The log's own directory is needed no longer once the log is in place.
bool RestoreDriver::place_log() {
  if (!log_placed_ && !guard_.put_in_place(log_dir_, temp_log_, log_name_)) {
    return complain_log("create", guard_.failure());
  }
  log_placed_ = 1;
  if (log_dir_.raw != start_dir_.raw) platform_.close(log_dir_);
  return true;
}

// Made before the log takes its name, so a report that cannot be made
// leaves the old log as it was; one named like the log is refused as the
// run's own file, which the log would otherwise replace.
bool RestoreDriver::open_report() {
  if (options_.report == nullptr) return true;
  const char16_t* name = options_.report;
  const Handle dir = platform_.open_parent(options_.report, &name);
  Handle report;
  Failure why = Failure::of_last_call(platform_);
  FileIdentity at, log_at;
  const bool log_named = dir.valid() && platform_.identity(dir, &at) && platform_.identity(log_dir_, &log_at) &&
                         at == log_at && std::u16string_view(name) == std::u16string_view(log_name_);
  if (log_named) why = Failure::refused(Refusal::kOwnFile);
  if (dir.valid() && !log_named) {
    report = guard_.create_file(EntryPlace::own(dir), name);
    why = guard_.failure();
  }
  platform_.close(dir);
  if (report.valid() && guard_.protect(report)) {
    losses_.write_to(report);
    return true;
  }
  static char words[1024];
  console_failure_text(platform_, report.valid() ? Failure::of_last_call(platform_) : why, words, sizeof words);
  err_.text(report.valid() ? "fsrestore: cannot identify " : "fsrestore: cannot create ");
  write_user_path(err_, options_.report);
  err_.text(": ").text(words).end_line();
  return false;
}

// Each stream is registered as the run's own as it opens, so no entry of
// the dump replaces it.
bool RestoreDriver::open_streams() {
  for (const DumpReader::Stream stream : {DumpReader::kContent, DumpReader::kNames, DumpReader::kNodes}) {
    const bool opened = dump_.open(stream);
    if (opened && guard_.protect(dump_.handle(stream))) continue;
    err_.text(opened ? "fsrestore: cannot identify " : "fsrestore: cannot open ");
    write_open_failure(platform_, err_, names_.name(), opened ? 0 : dump_.base_units(),
                       Failure::of_last_call(platform_));
    err_.end_line();
    return false;
  }
  return true;
}

bool RestoreDriver::open_target(int target_arg) {
  target_ = enter_target(platform_, target_arg, start_dir_, err_, names_.name());
  return target_.valid();
}

// A writer the system cannot start is not a failure: the run goes on with
// those it has, or on this thread alone, and says so.
void RestoreDriver::start_writers(Handle log, Handle content) {
  const int started = pool_->start(writers_, log, content, platform_.handle_limit());
  if (started == writers_) return;
  static char words[1024];
  console_failure_text(platform_, Failure::of_last_call(platform_), words, sizeof words);
  if (started == 0) {
    err_.text("fsrestore: cannot start a writer thread: ").text(words).text("; restoring on one thread").end_line();
    pool_ = nullptr;
    return;
  }
  err_.text("fsrestore: started ").decimal(started).text(" of ").decimal(writers_).text(" writer threads (");
  err_.text(words).text("); restoring with ").decimal(started).end_line();
}

void RestoreDriver::abandon_start() {
  if (!log_created_) return;
  set_last_words(nullptr);
  log_.close();
  if (!log_placed_) platform_.remove_file(log_dir_, temp_log_);
  log_created_ = false;
}

bool RestoreDriver::complain_log(const char* verb, const Failure& why) {
  static char words[1024];
  console_failure_text(platform_, why, words, sizeof words);
  err_.text("fsrestore: cannot ").text(verb).text(" ");
  write_log_name();
  err_.text(": ").text(words).end_line();
  return false;
}

void RestoreDriver::write_log_name() {
  if (options_.log_path != nullptr) {
    write_user_path(err_, options_.log_path);
  } else {
    err_.text("$errors");
  }
}

bool RestoreDriver::complain(const char* what, const Failure& why) {
  static char words[1024];
  console_failure_text(platform_, why, words, sizeof words);
  err_.text("fsrestore: ").text(what).text(": ").text(words).end_line();
  return false;
}

int RestoreDriver::restore_all() {
  bool below_directory = false;  // the previous record is a directory
  phase_ = kBetweenEntries;
  if (!options_.quiet) set_console_line_open(true);
  for (;;) {
    const NodeRead got = dump_.next_record();
    const bool at_end = got != NodeRead::kRecord;
    if (got == NodeRead::kFailed) log_.nodes_failed(Failure::of_last_call(platform_));
    const FsNode node = at_end ? FsNode{} : dump_.node();
    // The last counts are those of every file finished.
    if (at_end && pool_ != nullptr) writer_.finish_batches();
    if (!options_.quiet) progress_.turn(at_end);
    // Inside a directory --only leaves out: the cursor stays where it is.
    if (!at_end && options_.part != nullptr && options_.part->below_skipped(node.depth)) {
      const NameRead name = dump_.next_name();
      if (name != NameRead::kName) {
        name == NameRead::kFailed ? log_.names_failed(Failure::of_last_call(platform_)) : log_.names_ended();
        break;
      }
      name_record(node);
      writer_.pass_over(node, dump_.records_ahead());
      continue;
    }
    cursor_.move_to(node.depth, node.attr, dump_.records(), below_directory);
    below_directory = node.is_directory();
    if (at_end) {
      if (got == NodeRead::kEnded && dump_.stray_bytes() > 0) log_.nodes_stray(dump_.stray_bytes());
      break;
    }
    const NameRead name = dump_.next_name();
    if (name != NameRead::kName) {
      // Directories still held keep no times and the cursor stays where it is.
      if (name == NameRead::kFailed) {
        log_.names_failed(Failure::of_last_call(platform_));
      } else {
        log_.names_ended();
      }
      break;
    }
    name_record(node);
    if (options_.part != nullptr && !options_.part->take(node, names_.name())) {
      writer_.pass_over(node, dump_.records_ahead());
      continue;
    }
    // Records the cursor skips count one by one; a run of them ends at the
    // first record it takes.
    if (cursor_.skipping()) {
      log_.passed_over(node.depth);
      passing_ = true;
    } else if (passing_) {
      log_.end_passed_over();
      passing_ = false;
    }
    if (!node.is_directory()) phase_ = kInFile;
    writer_.restore_entry(node, dump_.records_ahead());
    phase_ = kBetweenEntries;
  }
  if (passing_) log_.end_passed_over();
  return finish();
}

// The path --list gives the record just read, for the lines about it.
void RestoreDriver::name_record(const FsNode& node) {
  paths_.follow(node.depth, names_.name());
  log_.naming(dump_.records() - 1);
}

// Files handed to the writers come before the reading thread's own entry:
// the first of them not finished is named, if any.
void RestoreDriver::say_interrupted() {
  if (pool_ != nullptr && pool_->say_interrupted()) {
    const EntryText path = pool_->interrupted_path();
    return report_interrupted("while restoring", &path);
  }
  const EntryText path = paths_.last();
  report_interrupted(phase_ == kInFile           ? "while restoring"
                     : phase_ == kBetweenEntries ? "between entries"
                                                 : "before the first entry",
                     phase_ == kInFile ? &path : nullptr);
  switch (phase_) {
    case kInFile:
      log_.interrupted_in_file(dump_.node().attr, dump_.node().size);
      break;
    case kBetweenEntries:
      log_.interrupted("between entries");
      break;
    default:
      log_.interrupted("before the first entry");
      // The line stays where the log belongs; where it cannot go there, no
      // temporary file is left.
      if (!log_placed_ && !guard_.put_in_place(log_dir_, temp_log_, log_name_)) {
        platform_.remove_file(log_dir_, temp_log_);
      }
      log_placed_ = 1;
      break;
  }
}

int RestoreDriver::finish() {
  if (pool_ != nullptr) pool_->stop();
  set_last_words(nullptr);
  const ErrorLog* failed = log_.incomplete() ? &log_ : pool_ != nullptr ? pool_->incomplete_log() : nullptr;
  dump_.close_streams();
  log_.close();
  if (failed == nullptr && log_.incomplete()) failed = &log_;
  if (!options_.quiet) {
    print("\n");
    platform_.console_flush();
    set_console_line_open(false);
  }
  summarize();
  if (failed != nullptr) {
    err_.text("fsrestore: ");
    write_log_name();
    err_.text(": ").text(failed->failure_text()).text(": the log is incomplete").end_line();
    return close_report(kExitLogIncomplete);
  }
  const bool logged = entry_lines() > 0 || log_.dump_lines() > 0;
  ran_to_end_ = true;
  const bool unmatched = options_.part != nullptr && !options_.part->found_all();
  return close_report((options_.strict && logged) || unmatched ? kExitDumpProblems : kExitDone);
}

// The report's last object holds the status; a report that could not be
// written whole makes it 2, as an incomplete log does.
int RestoreDriver::close_report(int status) {
  LossTotals t = totals();
  t.status = status;
  losses_.totals(t);
  losses_.close();
  if (!losses_.incomplete()) return status;
  err_.text("fsrestore: ");
  write_user_path(err_, options_.report);
  err_.text(": ").text(losses_.failure_text()).text(": the report is incomplete").end_line();
  return status == kExitDone || status == kExitDumpProblems ? kExitLogIncomplete : status;
}

LossTotals RestoreDriver::totals() const {
  LossTotals t;
  t.entries = static_cast<std::uint64_t>(writer_.records());
  t.kept = static_cast<std::uint64_t>(writer_.skipped());
  t.passed = static_cast<std::uint64_t>(writer_.passed());
  t.bytes = writer_.bytes();
  return t;
}

void RestoreDriver::report_interrupted(const char* where, const EntryText* path) {
  LossTotals t = totals();
  t.interrupted = where;
  t.interrupted_path = path;
  losses_.totals(t);
}

// The entries not restored, each by its path (see LossReport), then
// "fsrestore: 3 of 12 entries not restored; see $errors", a line of its own
// when the dump itself was damaged or could not be read, and with --resume
// or --only how many entries were restored and how many skipped.
void RestoreDriver::summarize() {
  losses_.tell(err_, options_.log_path);
  const LossTotals t = totals();
  const std::uint64_t lost = losses_.not_restored();
  const std::uint64_t meant = t.entries > t.kept + t.passed ? t.entries - t.kept - t.passed : 0;
  if (lost > 0) {
    err_.text("fsrestore: ").decimal(static_cast<std::int64_t>(lost)).text(" of ");
    err_.decimal(static_cast<std::int64_t>(meant)).text(meant == 1 ? " entry" : " entries");
    err_.text(" not restored; see ");
    write_log_name();
    err_.end_line();
  }
  if (log_.dump_lines() > 0) {
    err_.text("fsrestore: the dump is damaged or unreadable; see ");
    write_log_name();
    err_.end_line();
  }
  if (!options_.resume && options_.part == nullptr) return;
  const std::uint64_t restored = meant > lost ? meant - lost : 0;
  err_.text("fsrestore: ").decimal(static_cast<std::int64_t>(restored));
  err_.text(restored == 1 ? " entry" : " entries").text(" restored");
  if (options_.resume) {
    err_.text("; ").decimal(static_cast<std::int64_t>(t.kept));
    err_.text(t.kept == 1 ? " file" : " files").text(" already restored, skipped");
  }
  if (options_.part != nullptr) {
    err_.text("; ").decimal(static_cast<std::int64_t>(t.passed));
    err_.text(t.passed == 1 ? " entry" : " entries").text(" skipped by --only");
  }
  err_.end_line();
}

// The entry lines of the log, the writers' included.
std::uint64_t RestoreDriver::entry_lines() {
  return log_.entry_lines() + (pool_ != nullptr ? pool_->entry_lines() : 0);
}

void RestoreDriver::print(const char* text) {
  platform_.console_write(text, static_cast<std::uint32_t>(std::strlen(text)));
}
