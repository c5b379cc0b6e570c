// The content stream as the bodies take it, in order and once. Small bodies
// are served from bytes read ahead into one buffer, so a single read serves
// many files; a long body never enters the read-ahead but moves straight from
// the stream (inside the kernel where it can). On a pipe a read returns what
// has arrived, so a small body may come in parts, and nothing ever waits for
// bytes beyond the body being restored.
#pragma once

#include <cstdint>

#include "dump/buffer_sizes.h"
#include "dump/dump_reader.h"
#include "platform/platform.h"

class ContentReadAhead {
 public:
  explicit ContentReadAhead(Platform& platform) : platform_(platform) {}

  // Bytes read ahead and not yet taken, and where they start.
  std::uint32_t held() const { return end_ - begin_; }
  const std::uint8_t* data() const { return buffer_ + begin_; }
  void take(std::uint32_t count) { begin_ += count; }

  // With nothing held: reads the rest of the body in hand (shorter than a
  // long body) and the small bodies of the records after it, up to the
  // first long one and at most one read-ahead. False when the stream has
  // ended or the read failed.
  bool refill(Handle content, std::uint32_t rest, RecordsAhead next);

  // The whole buffer as scratch for a block moved straight from the stream;
  // only while nothing is held.
  std::uint8_t* scratch() { return buffer_; }

 private:
  Platform& platform_;
  std::uint32_t begin_ = 0;
  std::uint32_t end_ = 0;
  // Page-aligned: an unaligned block makes large copies markedly slower.
  alignas(4096) std::uint8_t buffer_[kCopyBlockBytes];
};
