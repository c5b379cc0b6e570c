#include "target/body_match.h"

namespace {

// Up to count bytes of the body from its offset `at`, where they are held,
// else into block; fewer only where the stream ends or fails.
const std::uint8_t* dump_bytes(Platform& platform, const BodySource& source, std::uint64_t at, std::uint32_t count,
                               std::uint8_t* block, std::uint32_t* got) {
  if (at < source.held_bytes) {
    const std::uint32_t held = source.held_bytes - static_cast<std::uint32_t>(at);
    *got = held < count ? held : count;
    return source.held + at;
  }
  if (source.offset == kInStreamOrder) {
    *got = platform.read_full(source.content, block, count);
  } else {
    *got = platform.read_at(source.content, source.offset + at, block, count);
    if (*got == kReadFailed) *got = 0;
  }
  return block;
}

}  // namespace

BodyMatch match_body(Platform& platform, Handle file, const BodySource& source, std::uint64_t size,
                     BodyBlocks& blocks) {
  BodyMatch match;
  while (match.taken < size) {
    const std::uint64_t left = size - match.taken;
    std::uint32_t want = left < kReadAheadBytes ? static_cast<std::uint32_t>(left) : kReadAheadBytes;
    if (match.taken < source.held_bytes && source.held_bytes - match.taken < want) {
      want = source.held_bytes - static_cast<std::uint32_t>(match.taken);
    }
    std::uint32_t got = 0;
    const std::uint8_t* dump = dump_bytes(platform, source, match.taken, want, blocks.dump, &got);
    if (got < want) {
      match.taken += got;
      match.stream_ended = true;
      return match;
    }
    std::uint32_t on_disk = 0;
    while (on_disk < want) {
      const std::uint32_t n = platform.read(file, blocks.disk + on_disk, want - on_disk);
      if (n == kReadFailed) {
        match.taken += want;
        match.unreadable = true;
        return match;
      }
      if (n == 0) break;
      on_disk += n;
    }
    std::uint32_t same = 0;
    while (same < on_disk && dump[same] == blocks.disk[same]) ++same;
    match.taken += want;
    if (same < want) {
      match.differs_at = match.taken - want + same;
      return match;
    }
  }
  match.differs_at = size;
  return match;
}
