// Lines of text for standard output or standard error, each gathered in a
// fixed buffer and written whole, so a line is one write where it fits.
#pragma once

#include <cstdint>

#include "platform/platform.h"

enum class LineSink { kStandardOutput, kStandardError };

class LineOut {
 public:
  LineOut(Platform& platform, LineSink sink) : platform_(platform), sink_(sink) {}

  LineOut& text(const char* s);
  LineOut& bytes(const char* data, std::uint32_t length);
  LineOut& decimal(std::int64_t value);
  LineOut& hex4(std::uint32_t value);
  // Ends the line with a line feed and writes it out.
  void end_line();

 private:
  void flush();

  Platform& platform_;
  LineSink sink_;
  std::uint32_t used_ = 0;
  char buffer_[16384];
};
