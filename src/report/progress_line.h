// The self-overwriting console line with the counts and the rate. It gets a
// turn once per record, so a turn that prints nothing costs one read of the
// cycle counter and one comparison; the clock is read only when the counter
// has moved far enough, and the line is printed at most every 500 ms until
// the final print at the end of the node stream.
#pragma once

#include <cstdint>

#include "platform/platform.h"

constexpr std::uint64_t kCyclesBetweenClockReads = 100000000;
constexpr std::uint32_t kPrintIntervalMs = 500;
constexpr std::uint32_t kProgressWidth = 78;

class ProgressLine {
 public:
  // Shows the counts it is given, as they change; files less those not yet
  // finished, when it is given them.
  ProgressLine(Platform& platform, const std::int32_t& dirs, const std::int32_t& files,
               const std::uint64_t& outbytes, const std::int32_t* unfinished = nullptr)
      : platform_(platform), dirs_(dirs), files_(files), outbytes_(outbytes), unfinished_(unfinished) {}

  void start();
  void turn(bool at_end) {
    const std::uint64_t now = platform_.cycles();
    if (now > next_consult_) {
      if (consult_clock(now)) return;
    }
    if (at_end) print();
  }

 private:
  // Reads the clock and prints when the next print is due. True if it printed.
  bool consult_clock(std::uint64_t now);
  void print();

  Platform& platform_;
  const std::int32_t& dirs_;
  const std::int32_t& files_;
  const std::uint64_t& outbytes_;
  const std::int32_t* unfinished_;
  std::uint64_t cycle_reference_ = 0;
  // cycle_reference_ + kCyclesBetweenClockReads, kept so a turn adds nothing;
  // it wraps exactly as the sum would.
  std::uint64_t next_consult_ = kCyclesBetweenClockReads;
  std::uint32_t start_tick_ = 0;
  std::uint32_t next_print_tick_ = 0;
  std::uint32_t last_tick_ = 0;
  char text_[256];
};
