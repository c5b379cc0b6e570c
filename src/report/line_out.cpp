#include "report/line_out.h"

#include <cstring>

#include "report/text_out.h"

LineOut& LineOut::text(const char* s) { return bytes(s, static_cast<std::uint32_t>(std::strlen(s))); }

LineOut& LineOut::bytes(const char* data, std::uint32_t length) {
  while (length > 0) {
    if (used_ == sizeof buffer_) flush();
    const std::uint32_t room = sizeof buffer_ - used_;
    const std::uint32_t n = length < room ? length : room;
    std::memcpy(buffer_ + used_, data, n);
    used_ += n;
    data += n;
    length -= n;
  }
  return *this;
}

LineOut& LineOut::decimal(std::int64_t value) {
  char digits[kNumberChars];
  return bytes(digits, format_decimal(value, digits));
}

LineOut& LineOut::hex4(std::uint32_t value) {
  char digits[kNumberChars];
  return bytes(digits, format_hex4(value, digits));
}

void LineOut::end_line() {
  bytes("\n", 1);
  flush();
}

void LineOut::flush() {
  if (used_ == 0) return;
  if (sink_ == LineSink::kStandardOutput) {
    platform_.console_write(buffer_, used_);
  } else {
    platform_.error_write(buffer_, used_);
  }
  used_ = 0;
}
