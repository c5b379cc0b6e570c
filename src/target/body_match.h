// One file's body beside its record's body in the content stream, block by
// block, up to the first byte that differs. It keeps no state and touches
// nothing but the handles and buffers it is given, so any thread that holds
// the open file can do it.
#pragma once

#include <cstdint>

#include "dump/buffer_sizes.h"
#include "platform/platform.h"

// The offset for a content stream read in order, from where it stands.
constexpr std::uint64_t kInStreamOrder = ~std::uint64_t{0};

// Where the record's body comes from: its first held_bytes bytes already
// read (from a read-ahead), the rest from the content stream, at offset
// (the offset of the body's first byte; read_at) or in order.
struct BodySource {
  Handle content;
  std::uint64_t offset = kInStreamOrder;
  const std::uint8_t* held = nullptr;
  std::uint32_t held_bytes = 0;
};

struct BodyBlocks {
  std::uint8_t dump[kReadAheadBytes];
  std::uint8_t disk[kReadAheadBytes];
};

struct BodyMatch {
  std::uint64_t taken = 0;       // bytes of the record's body taken, held ones included
  std::uint64_t differs_at = 0;  // the first byte that differs; the size when none does
  bool stream_ended = false;     // the stream ended or failed inside the body
  // Reading the file failed (last_error tells why): nothing is told of its
  // bytes, and the block of the record's body beside it counts as taken.
  bool unreadable = false;
};

// Compares the size bytes of the open file with the record's body. Stops
// at the first byte that differs, a file that ends early differing where
// it ends; a stream read in order is then left inside the body, taken bytes
// past its start. A small file costs one read of it.
BodyMatch match_body(Platform& platform, Handle file, const BodySource& source, std::uint64_t size,
                     BodyBlocks& blocks);
