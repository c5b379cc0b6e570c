#include "restore/restore_driver.h"

#include <cstring>
#include <initializer_list>

#include "dump/buffer_sizes.h"
#include "platform/interruption.h"
#include "report/exit_status.h"
#include "report/open_failure.h"
#include "restore/part_filter.h"

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

// The log comes first, before anything else can fail, so every failed
// start removes it again and leaves none. An old log is replaced (never
// written through: it may be a link, a FIFO or a file with other names)
// before the run waits for a producer to open its end of a pipe, and a log
// that cannot be made is told before that wait. Handles already opened are
// left to the end of the process.
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
  const Handle log = guard_.create_file(EntryPlace::own(start_dir_), u"$errors");
  if (!log.valid()) return complain("cannot create $errors", guard_.failure());
  log_.write_to(log);
  log_created_ = true;
  if (!guard_.protect(log)) return complain("cannot identify $errors", Failure::of_last_call(platform_));
  phase_ = kStarting;
  g_speaker = this;
  set_last_words(speak);
  if (!fits) {
    write_base_path_too_long(err_);
    return false;
  }
  if (!open_streams() || !open_target(target_arg)) return false;
  const Handle content = dump_.handle(DumpReader::kContent);
  writer_.read_bodies_from(content);
  if (pool_ != nullptr) start_writers(log, content);
  if (pool_ != nullptr) {
    log_.set_turn(pool_);
    writer_.use_pool(pool_);
    cursor_.use_pool(pool_);
  }
  cursor_.start(target_);
  progress_.start();
  return true;
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
  if (target_arg < 0) {
    target_ = start_dir_;
    return true;
  }
  target_ = platform_.open_target(target_arg);
  if (target_.valid()) return true;
  const Failure why = Failure::of_last_call(platform_);
  err_.text("fsrestore: cannot enter the target ");
  if (platform_.arg_to_name(target_arg, names_.name(), kNameUnits) > 0) write_user_path(err_, names_.name());
  err_.text(": ");
  static char words[1024];
  console_failure_text(platform_, why, words, sizeof words);
  err_.text(words).end_line();
  return false;
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
  platform_.remove_file(start_dir_, u"$errors");
  log_created_ = false;
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
    if (options_.part != nullptr && !options_.part->take(node, names_.name())) {
      writer_.pass_over(node, dump_.records_ahead());
      continue;
    }
    if (!node.is_directory()) phase_ = kInFile;
    writer_.restore_entry(node, dump_.records_ahead());
    phase_ = kBetweenEntries;
  }
  return finish();
}

// Files handed to the writers come before the reading thread's own entry:
// the first of them not finished is named, if any.
void RestoreDriver::say_interrupted() {
  if (pool_ != nullptr && pool_->say_interrupted()) return;
  switch (phase_) {
    case kInFile:
      log_.interrupted_in_file(dump_.node().attr, dump_.node().size);
      break;
    case kBetweenEntries:
      log_.interrupted("between entries");
      break;
    default:
      log_.interrupted("before the first entry");
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
    err_.text("fsrestore: $errors: ").text(failed->failure_text()).text(": the log is incomplete").end_line();
    return kExitLogIncomplete;
  }
  const bool logged = entry_lines() > 0 || log_.dump_lines() > 0;
  bool unmatched = false;
  for (int i = 0; options_.part != nullptr && i < options_.part->count(); ++i) {
    if (options_.part->found(i)) continue;
    unmatched = true;
    if (options_.tell_unmatched != nullptr) options_.tell_unmatched(i, err_);
  }
  return (options_.strict && logged) || unmatched ? kExitDumpProblems : kExitDone;
}

// "fsrestore: 3 entries not restored whole; see $errors", and a line of its
// own when the dump itself was damaged or could not be read.
void RestoreDriver::summarize() {
  const std::uint64_t entries = entry_lines();
  if (entries > 0) {
    err_.text("fsrestore: ").decimal(static_cast<std::int64_t>(entries));
    err_.text(entries == 1 ? " entry" : " entries").text(" not restored whole; see $errors").end_line();
  }
  if (log_.dump_lines() > 0) err_.text("fsrestore: the dump is damaged or unreadable; see $errors").end_line();
  if (writer_.skipped() > 0) {
    err_.text("fsrestore: ").decimal(writer_.skipped());
    err_.text(writer_.skipped() == 1 ? " file" : " files").text(" already restored, skipped").end_line();
  }
}

// The entry lines of the log, the writers' included.
std::uint64_t RestoreDriver::entry_lines() {
  return log_.entry_lines() + (pool_ != nullptr ? pool_->entry_lines() : 0);
}

void RestoreDriver::print(const char* text) {
  platform_.console_write(text, static_cast<std::uint32_t>(std::strlen(text)));
}
