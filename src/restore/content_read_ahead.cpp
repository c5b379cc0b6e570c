#include "restore/content_read_ahead.h"

#include "dump/fs_node.h"

namespace {

// How much to read: the rest in hand, then whole small bodies that follow.
// Directories take no body; a long body or a full read-ahead ends the run.
std::uint32_t read_ahead_size(std::uint32_t rest, RecordsAhead next) {
  std::uint64_t want = rest;
  for (std::uint32_t i = 0; i < next.count; ++i) {
    const FsNode node = decode_fs_node(next.bytes + i * kFsNodeBytes);
    if (node.is_directory()) continue;
    if (node.size >= kStraightCopyBytes || want + node.size > kReadAheadBytes) break;
    want += node.size;
  }
  return static_cast<std::uint32_t>(want);
}

}  // namespace

void ContentReadAhead::read_from(Handle content) {
  content_ = content;
  at_offsets_ = platform_.reads_at_offsets(content);
  offset_ = 0;
  known_ = 0;
  begin_ = end_ = 0;
}

bool ContentReadAhead::pass_unread(std::uint64_t count) {
  const std::uint32_t from_held = held() < count ? held() : static_cast<std::uint32_t>(count);
  const std::uint64_t rest = count - from_held;
  if (!at_offsets_ || (rest > 0 && !holds_up_to(offset_ + rest))) return false;
  take(from_held);
  offset_ += rest;
  return true;
}

bool ContentReadAhead::holds_up_to(std::uint64_t end) {
  if (end <= known_) return true;
  std::uint64_t absent = end + kCopyBlockBytes - 1;
  if (has_byte(absent)) {
    known_ = absent + 1;
    return true;
  }
  // The first offset without a byte, between known_ (held) and absent.
  while (known_ < absent) {
    const std::uint64_t middle = known_ + (absent - known_) / 2;
    if (has_byte(middle)) {
      known_ = middle + 1;
    } else {
      absent = middle;
    }
  }
  return end <= known_;
}

bool ContentReadAhead::has_byte(std::uint64_t at) {
  std::uint8_t byte;
  return platform_.read_at(content_, at, &byte, 1) == 1;
}

bool ContentReadAhead::refill(std::uint32_t rest, RecordsAhead next) {
  begin_ = end_ = 0;
  const std::uint32_t want = read_ahead_size(rest, next);
  const std::uint32_t got =
      at_offsets_ ? platform_.read_at(content_, offset_, buffer_, want) : platform_.read(content_, buffer_, want);
  if (got == 0 || got == kReadFailed) return false;
  end_ = got;
  offset_ += got;
  return true;
}

CopyResult ContentReadAhead::move(Handle file, std::uint32_t count) {
  CopyResult moved;
  if (at_offsets_) {
    moved = platform_.move_at(content_, offset_, file, buffer_, count);
  } else if (file.valid()) {
    moved = platform_.copy_block(content_, file, buffer_, count);
  } else {
    moved.taken = platform_.read_full(content_, buffer_, count);
  }
  offset_ += moved.taken;
  return moved;
}
