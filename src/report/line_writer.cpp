#include "report/line_writer.h"

#include <cstring>

#include "report/number_text.h"

LineWriter& LineWriter::text(const char* s) { return bytes(s, static_cast<std::uint32_t>(std::strlen(s))); }

LineWriter& LineWriter::bytes(const char* data, std::uint32_t length) {
  while (length > 0) {
    if (used_ == capacity_) flush();
    const std::uint32_t room = capacity_ - used_;
    const std::uint32_t n = length < room ? length : room;
    std::memcpy(buffer_ + used_, data, n);
    used_ += n;
    data += n;
    length -= n;
  }
  return *this;
}

LineWriter& LineWriter::decimal(std::int64_t value) {
  char digits[kNumberChars];
  return bytes(digits, format_decimal(value, digits));
}

LineWriter& LineWriter::hex4(std::uint32_t value) {
  char digits[kNumberChars];
  return bytes(digits, format_hex4(value, digits));
}

bool LineWriter::end_line() {
  bytes("\n", 1);
  flush();
  const bool written = !failed_;
  failed_ = false;
  return written;
}

void LineWriter::flush() {
  if (used_ == 0) return;
  switch (sink_) {
    case LineSink::kStandardOutput:
      platform_.console_write(buffer_, used_);
      break;
    case LineSink::kStandardError:
      platform_.error_write(buffer_, used_);
      break;
    case LineSink::kFile:
      if (file_.valid() && !failed_ && !platform_.write(file_, buffer_, used_)) failed_ = true;
      break;
  }
  used_ = 0;
}
