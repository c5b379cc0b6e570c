// Reads the names stream one line per entry and decodes each line into the
// name buffer, which always holds the name of the entry being restored.
#pragma once

#include <cstdint>

#include "dump/name_codec.h"
#include "platform/platform.h"

enum class NameRead {
  kName,
  kEnded,
  kFailed,
  kEndless,  // the line ran past the limit set by limit_lines()
};

class NameReader {
 public:
  explicit NameReader(Platform& platform) : platform_(platform) {}

  // Reads the next line and decodes it into the name buffer: kEnded at the
  // end of the names stream, where a last line without a line feed is
  // dropped, and kFailed when reading it fails. A line longer than the line
  // buffer is consumed to its line feed and only its first bytes are kept,
  // so names stay in step with the records. Never waits for more of the
  // stream than the line at hand.
  NameRead read_name(Handle names);

  // Makes read_name() give up on a line that runs past `bytes` without a
  // line feed, which then may never come (a stream that never ends). The
  // restore sets none: it waits for its producer as long as it takes.
  void limit_lines(std::uint64_t bytes) { line_limit_ = bytes; }
  // True when the names stream holds another byte after the lines read:
  // reads at most one block, never past it.
  bool has_more(Handle names);

  // The name buffer's contents in the dump's encoding, zero-terminated, in
  // the line buffer (which is free once the name has been decoded).
  const char* encode_name();

  // The current name, zero-terminated. At start-up it holds the stream paths.
  char16_t* name() { return name_; }

 private:
  Platform& platform_;
  std::uint32_t fill_ = 0;
  std::uint32_t position_ = 0;
  std::uint64_t line_limit_ = ~std::uint64_t{0};
  std::uint8_t read_block_[kLineBytes];
  // The line as read; afterwards scratch for an encoded name, which is why it
  // is sized for the longest encoded name rather than the longest line.
  std::uint8_t line_[kEncodedNameBytes + 1];
  char16_t name_[kNameUnits];
};
