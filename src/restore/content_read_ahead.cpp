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

bool ContentReadAhead::refill(Handle content, std::uint32_t rest, RecordsAhead next) {
  begin_ = end_ = 0;
  const std::uint32_t got = platform_.read(content, buffer_, read_ahead_size(rest, next));
  if (got == 0 || got == kReadFailed) return false;
  end_ = got;
  return true;
}
