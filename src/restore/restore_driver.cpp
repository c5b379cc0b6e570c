#include "restore/restore_driver.h"

#include <cstring>
#include <initializer_list>

#include "report/exit_status.h"

int RestoreDriver::run(int base_arg, int target_arg) {
  if (!start_up(base_arg, target_arg)) return kExitStartFailed;
  return restore_all();
}

// Start-up failures print nothing beyond the basepath line and log nothing;
// handles already opened are left to the end of the process.
bool RestoreDriver::start_up(int base_arg, int target_arg) {
  if (!open_streams(base_arg)) return false;
  start_dir_ = platform_.open_start_dir();
  if (!start_dir_.valid()) return false;
  // An old log is replaced, never written through: it may be a link, a
  // FIFO or a file with other names.
  const Handle log = guard_.create_file(EntryPlace{start_dir_, 0, false, false}, u"$errors");
  if (!log_.write_to(log) || !guard_.protect(log)) return false;
  if (pool_ != nullptr) {
    pool_->start(writers_, log);
    log_.set_turn(pool_);
    writer_.use_pool(pool_);
    cursor_.use_pool(pool_);
  }
  target_ = target_arg >= 0 ? platform_.open_target(target_arg) : start_dir_;
  if (!target_.valid()) return false;
  cursor_.start(target_);
  progress_.start();
  return true;
}

// Each stream is registered as the run's own as it opens, so no entry of
// the dump replaces it.
bool RestoreDriver::open_streams(int base_arg) {
  const bool fits = dump_.take_base_path(base_arg);
  print("basepath=<");
  if (base_arg >= 0) platform_.console_write_arg(base_arg);
  print(">\n");
  platform_.console_flush();
  if (!fits) return false;
  for (const DumpReader::Stream stream : {DumpReader::kContent, DumpReader::kNames, DumpReader::kNodes}) {
    if (!dump_.open(stream) || !guard_.protect(dump_.handle(stream))) return false;
  }
  return true;
}

int RestoreDriver::restore_all() {
  const Handle content = dump_.handle(DumpReader::kContent);
  bool below_directory = false;  // the previous record is a directory
  for (;;) {
    const NodeRead got = dump_.next_record();
    const bool at_end = got != NodeRead::kRecord;
    if (got == NodeRead::kFailed) log_.nodes_failed(Failure::of_last_call(platform_));
    const FsNode node = at_end ? FsNode{} : dump_.node();
    // The last counts are those of every file finished.
    if (at_end && pool_ != nullptr) writer_.finish_batches();
    progress_.turn(at_end);
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
    writer_.restore_entry(node, content, dump_.records_ahead());
  }
  return finish();
}

int RestoreDriver::finish() {
  if (pool_ != nullptr) pool_->stop();
  const ErrorLog* failed = log_.incomplete() ? &log_ : pool_ != nullptr ? pool_->incomplete_log() : nullptr;
  dump_.close_streams();
  log_.close();
  if (failed == nullptr && log_.incomplete()) failed = &log_;
  print("\n");
  platform_.console_flush();
  if (failed == nullptr) return kExitDone;
  const char* const parts[] = {"fsrestore: $errors: ", failed->failure_text(), ": the log is incomplete\n"};
  for (const char* part : parts) platform_.error_write(part, static_cast<std::uint32_t>(std::strlen(part)));
  return kExitLogIncomplete;
}

void RestoreDriver::print(const char* text) {
  platform_.console_write(text, static_cast<std::uint32_t>(std::strlen(text)));
}
