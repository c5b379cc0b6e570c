#include "report/progress_line.h"

#include <cstring>

#include "report/number_text.h"

void ProgressLine::start() {
  start_tick_ = platform_.tick_ms();
  next_print_tick_ = start_tick_;
  cycle_reference_ = 0;
  next_consult_ = kCyclesBetweenClockReads;
}

bool ProgressLine::consult_clock(std::uint64_t now) {
  cycle_reference_ = now + 100;
  next_consult_ = cycle_reference_ + kCyclesBetweenClockReads;
  last_tick_ = platform_.tick_ms();
  if (last_tick_ > next_print_tick_) {
    next_print_tick_ = last_tick_ + kPrintIntervalMs;
    print();
    return true;
  }
  return false;
}

namespace {

char* put(char* p, const char* s) {
  const std::size_t n = std::strlen(s);
  std::memcpy(p, s, n);
  return p + n;
}

char* put_decimal(char* p, std::int64_t value) { return p + format_decimal(value, p); }

}  // namespace

void ProgressLine::print() {
  // The divisor wraps like the clock does. It is 0 only about 49.7 days into
  // a run, where no rate can be told; the line then shows 0.
  const std::uint32_t divisor = last_tick_ - start_tick_ + 1000;
  // outbytes * 1000 / divisor, in two parts so the product cannot overflow.
  const std::uint64_t speed =
      divisor == 0 ? 0 : outbytes_ / divisor * 1000 + outbytes_ % divisor * 1000 / divisor;

  char* p = text_;
  p = put(p, "dirs=");
  p = put_decimal(p, dirs_);
  p = put(p, " files=");
  p = put_decimal(p, files_ - (unfinished_ != nullptr ? *unfinished_ : 0));
  p = put(p, " outbytes=");
  p = put_decimal(p, static_cast<std::int64_t>(outbytes_));
  p = put(p, " speed=");
  p = put_decimal(p, static_cast<std::int64_t>(speed));
  while (p < text_ + kProgressWidth) *p++ = ' ';
  *p++ = '\r';
  platform_.console_write(text_, static_cast<std::uint32_t>(p - text_));
  platform_.console_flush();
}
