#include "report/error_log.h"

#include <cstring>

#include "report/number_text.h"

bool ErrorLog::write_to(Handle file) {
  handle_ = file;
  lines_.set_file(file);
  return handle_.valid();
}

void ErrorLog::close() {
  if (!handle_.valid()) return;
  written(platform_.close(handle_));
  handle_ = Handle::none();
  lines_.set_file(handle_);
}

void ErrorLog::written(bool ok) {
  if (ok || incomplete_) return;
  incomplete_ = true;
  ::failure_text(platform_, Failure::of_last_call(platform_), failure_text_, sizeof failure_text_);
}

EntryText ErrorLog::entry() {
  const char* name = names_.encode_name();
  return EntryText{name, static_cast<std::uint32_t>(std::strlen(name))};
}

const char* ErrorLog::words(const Failure& why) {
  ::failure_text(platform_, why, words_, sizeof words_);
  return words_;
}

void ErrorLog::lost(LossKind kind, std::uint16_t attr, std::uint64_t size, const Failure* why) {
  if (losses_ == nullptr) return;
  Loss loss;
  loss.kind = kind;
  loss.path = paths_->last();
  loss.record = record_;
  loss.attr = attr;
  loss.size = size;
  loss.words = words_;
  loss.why = why;
  losses_->entry(loss);
}

void ErrorLog::passed_over(int depth) {
  if (losses_ == nullptr) return;
  const Turn turn(turn_);
  losses_->passed_over(record_, paths_->directory(depth));
}

void ErrorLog::end_passed_over() {
  if (losses_ == nullptr) return;
  const Turn turn(turn_);
  losses_->end_passed_over();
}

void ErrorLog::chdir_failed(std::uint16_t attr, const Failure& why) {
  const Turn turn(turn_);
  entry_line(chdir_line(lines_, entry(), attr, words(why)));
  lost(LossKind::kChdir, attr, 0, &why);
}

void ErrorLog::mkdir_failed(std::uint16_t attr, const Failure& why) {
  const Turn turn(turn_);
  entry_line(mkdir_line(lines_, entry(), attr, words(why)));
  lost(LossKind::kMkdir, attr, 0, &why);
}

void ErrorLog::createfile_failed(std::uint16_t attr, std::uint64_t size, const Failure& why) {
  const Turn turn(turn_);
  entry_line(file_line(lines_, "createfile", entry(), attr, size, words(why)));
  lost(LossKind::kCreatefile, attr, size, &why);
}

void ErrorLog::write_failed(std::uint16_t attr, std::uint64_t size, const Failure& why) {
  const Turn turn(turn_);
  entry_line(file_line(lines_, "write", entry(), attr, size, words(why)));
  lost(LossKind::kWrite, attr, size, &why);
}

void ErrorLog::nodes_failed(const Failure& why) {
  const Turn turn(turn_);
  dump_line(stream_failed_line(lines_, "nodes", words(why)));
}

void ErrorLog::names_failed(const Failure& why) {
  const Turn turn(turn_);
  dump_line(stream_failed_line(lines_, "names", words(why)));
}

void ErrorLog::content_short(std::uint16_t attr, std::uint64_t size, std::uint64_t missing) {
  const Turn turn(turn_);
  entry_line(content_short_line(lines_, entry(), attr, size, missing));
  if (losses_ == nullptr) return;
  char digits[kNumberChars];
  const std::uint32_t n = format_decimal(static_cast<std::int64_t>(missing), digits);
  std::memcpy(words_, digits, n);
  std::strcpy(words_ + n, " bytes missing from $content");
  lost(LossKind::kContent, attr, size, nullptr);
}

void ErrorLog::names_ended() {
  const Turn turn(turn_);
  dump_line(names_ended_line(lines_));
}

void ErrorLog::nodes_stray(std::uint32_t bytes) {
  const Turn turn(turn_);
  dump_line(nodes_stray_line(lines_, bytes));
}

void ErrorLog::depth_jump(int from, int to, std::uint64_t record) {
  const Turn turn(turn_);
  dump_line(depth_jump_line(lines_, from, to, record));
}

void ErrorLog::interrupted_in_file(std::uint16_t attr, std::uint64_t size) {
  if (!handle_.valid()) return;
  LineWriter last(platform_, LineSink::kFile, buffer_, sizeof buffer_);
  last.set_file(handle_);
  const EntryText name = entry();
  last.text("interrupted while restoring <").bytes(name.bytes, name.length).text(">, attr=").hex4(attr);
  last.text(", size=").decimal(static_cast<std::int64_t>(size)).end_line();
}

void ErrorLog::interrupted(const char* when) {
  if (!handle_.valid()) return;
  LineWriter last(platform_, LineSink::kFile, buffer_, sizeof buffer_);
  last.set_file(handle_);
  last.text("interrupted ").text(when).end_line();
}

void ErrorLog::first_record_deep(int depth) {
  const Turn turn(turn_);
  dump_line(first_record_deep_line(lines_, depth));
}
