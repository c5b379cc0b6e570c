#include "report/error_log.h"

#include <cstring>

#include "report/text_out.h"

bool ErrorLog::open(Handle file) {
  handle_ = file;
  return handle_.valid();
}

void ErrorLog::close() {
  if (!handle_.valid()) return;
  if (!platform_.close(handle_)) note_failure();
  handle_ = Handle::none();
}

namespace {

// Control characters (the line break at the end of a Windows message among
// them) become spaces, so a text never breaks the line it is part of.
void blank_controls(char* text) {
  for (char* p = text; *p != 0; ++p) {
    if (static_cast<unsigned char>(*p) < 0x20) *p = ' ';
  }
}

}  // namespace

const char* ErrorLog::system_error_text() {
  platform_.error_text(error_text_, sizeof error_text_);
  blank_controls(error_text_);
  return error_text_;
}

void ErrorLog::note_failure() {
  if (incomplete_) return;
  incomplete_ = true;
  platform_.error_text(failure_text_, sizeof failure_text_);
  blank_controls(failure_text_);
}

// Each line with a system text fetches it first, before anything else
// reaches the platform.
void ErrorLog::chdir_failed(std::uint16_t attr) { dir_line("chdir", "> attr=", attr); }

void ErrorLog::mkdir_failed(std::uint16_t attr) { dir_line("mkdir", ">, attr=", attr); }

void ErrorLog::createfile_failed(std::uint16_t attr, std::uint64_t size) { file_line("createfile", attr, size); }

void ErrorLog::write_failed(std::uint16_t attr, std::uint64_t size) { file_line("write", attr, size); }

void ErrorLog::nodes_failed() { stream_line("nodes error: "); }

void ErrorLog::names_failed() { stream_line("names error: "); }

void ErrorLog::dir_line(const char* what, const char* attr_label, std::uint16_t attr) {
  const char* reason = system_error_text();
  text(what);
  text(" error with <");
  text(names_.encode_name());
  text(attr_label);
  hex4(attr);
  text(": ");
  text(reason);
  end_line();
}

void ErrorLog::file_line(const char* what, std::uint16_t attr, std::uint64_t size) {
  const char* reason = system_error_text();
  file_head(what, attr, size);
  text(reason);
  end_line();
}

void ErrorLog::stream_line(const char* head) {
  const char* reason = system_error_text();
  text(head);
  text(reason);
  end_line();
}

void ErrorLog::depth_jump(int from, int to, std::uint64_t record) {
  text("nodes error: depth rises from ");
  decimal(from);
  text(" to ");
  decimal(to);
  text(" at record ");
  decimal(static_cast<std::int64_t>(record));
  end_line();
}

void ErrorLog::content_short(std::uint16_t attr, std::uint64_t size, std::uint64_t missing) {
  file_head("content", attr, size);
  decimal(static_cast<std::int64_t>(missing));
  text(" bytes missing");
  end_line();
}

void ErrorLog::names_ended() {
  text("names error: $fsnames ended before $fsnodes");
  end_line();
}

void ErrorLog::nodes_stray(std::uint32_t count) {
  text("nodes error: $fsnodes ends with ");
  decimal(count);
  text(" stray bytes");
  end_line();
}

void ErrorLog::file_head(const char* what, std::uint16_t attr, std::uint64_t size) {
  text(what);
  text(" error with <");
  text(names_.encode_name());
  text(">, attr=");
  hex4(attr);
  text(", size=");
  decimal(static_cast<std::int64_t>(size));
  text(": ");
}

void ErrorLog::text(const char* s) { bytes(s, static_cast<std::uint32_t>(std::strlen(s))); }

// The buffer holds the longest line there is; anything beyond is cut.
void ErrorLog::bytes(const char* data, std::uint32_t length) {
  const std::uint32_t room = sizeof buffer_ - 1 - used_;
  const std::uint32_t n = length < room ? length : room;
  std::memcpy(buffer_ + used_, data, n);
  used_ += n;
}

void ErrorLog::decimal(std::int64_t value) {
  char digits[kNumberChars];
  bytes(digits, format_decimal(value, digits));
}

void ErrorLog::hex4(std::uint32_t value) {
  char digits[kNumberChars];
  bytes(digits, format_hex4(value, digits));
}

void ErrorLog::end_line() {
  buffer_[used_++] = '\n';
  if (handle_.valid() && !platform_.write(handle_, buffer_, used_)) note_failure();
  used_ = 0;
}
