// The content stream as the bodies take it, in order and once. Small bodies
// are served from bytes read ahead into one buffer, so a single read serves
// many files; a long body never enters the read-ahead but moves straight from
// the stream (inside the kernel where it can). On a pipe a read returns what
// has arrived, so a small body may come in parts, and nothing ever waits for
// bytes beyond the body being restored.
//
// A stream that is a file is read at offsets, so a writer may move a long
// body from its own offset while the walk passes over it here.
#pragma once

#include <cstdint>

#include "dump/buffer_sizes.h"
#include "dump/dump_reader.h"
#include "platform/platform.h"

class ContentReadAhead {
 public:
  explicit ContentReadAhead(Platform& platform) : platform_(platform) {}

  // The stream the bodies come from; called before the first body.
  void read_from(Handle content);
  // Whether the stream is read at offsets, and the offset of the first byte
  // not read yet (bytes held are before it).
  bool at_offsets() const { return at_offsets_; }
  std::uint64_t offset() const { return offset_; }

  // Bytes read ahead and not yet taken, and where they start.
  std::uint32_t held() const { return end_ - begin_; }
  const std::uint8_t* data() const { return buffer_ + begin_; }
  void take(std::uint32_t count) { begin_ += count; }

  // With nothing held: reads the rest of the body in hand (shorter than a
  // long body) and the small bodies of the records after it, up to the
  // first long one and at most one read-ahead. False when the stream has
  // ended or the read failed.
  bool refill(std::uint32_t rest, RecordsAhead next);
  // With nothing held: one block of a long body moved straight from the
  // stream into file, through the whole buffer where the system cannot move
  // it itself; or only read, when file is none.
  CopyResult move(Handle file, std::uint32_t count);
  // With nothing held, at offsets: passes over a body a writer moves.
  void pass(std::uint64_t count) { offset_ += count; }
  // At offsets: passes over a body nobody reads (a file --resume keeps),
  // what is held of it first, without reading the rest. False, with
  // nothing taken, where the stream is read in order or ends inside the
  // body: the body is then read as any other, to tell what is missing.
  bool pass_unread(std::uint64_t count);

 private:
  // Whether the stream holds the bytes before `end`: one read of a byte a
  // block further on answers for the passes up to there; near the stream's
  // end its length is found, to the byte, in a few more.
  bool holds_up_to(std::uint64_t end);
  bool has_byte(std::uint64_t at);

  Platform& platform_;
  Handle content_;
  bool at_offsets_ = false;
  std::uint64_t offset_ = 0;
  // The stream holds at least this many bytes, as far as a pass has asked.
  std::uint64_t known_ = 0;
  std::uint32_t begin_ = 0;
  std::uint32_t end_ = 0;
  // Page-aligned: an unaligned block makes large copies markedly slower.
  alignas(4096) std::uint8_t buffer_[kCopyBlockBytes];
};
