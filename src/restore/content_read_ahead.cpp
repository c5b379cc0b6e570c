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
  begin_ = end_ = 0;
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
