// Lines of text gathered in a fixed buffer and written whole to standard
// output, standard error or an open file, so a line is one write wherever
// it fits the buffer (a longer one goes out in pieces).
#pragma once

#include <cstdint>

#include "platform/platform.h"

enum class LineSink { kStandardOutput, kStandardError, kFile };

class LineWriter {
 public:
  LineWriter(Platform& platform, LineSink sink, char* buffer, std::uint32_t capacity)
      : platform_(platform), sink_(sink), buffer_(buffer), capacity_(capacity) {}

  // The file a kFile writer writes to; none drops the lines.
  void set_file(Handle file) { file_ = file; }

  LineWriter& text(const char* s);
  LineWriter& bytes(const char* data, std::uint32_t length);
  LineWriter& decimal(std::int64_t value);
  LineWriter& hex4(std::uint32_t value);
  // Ends the line with a line feed and writes it out. False when a write to
  // the file failed (the console's failures are dropped).
  bool end_line();

 private:
  void flush();

  Platform& platform_;
  LineSink sink_;
  char* buffer_;
  std::uint32_t capacity_;
  std::uint32_t used_ = 0;
  Handle file_;
  bool failed_ = false;  // a write of the current line failed
};

// A LineWriter with its own buffer.
template <std::uint32_t kBytes>
class BufferedLineWriter : public LineWriter {
 public:
  BufferedLineWriter(Platform& platform, LineSink sink) : LineWriter(platform, sink, storage_, kBytes) {}

 private:
  char storage_[kBytes];
};
