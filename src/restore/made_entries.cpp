#include "restore/made_entries.h"

std::uint64_t MadeEntries::key_of(const FileIdentity& id) {
  // The file index is unique on its device; the device is mixed in so equal
  // indexes on two devices stay apart.
  return id.index ^ (id.device * 0x9E3779B97F4A7C15ull);
}

void MadeEntries::add(int depth, const FileIdentity& id) {
  if (count_ == kMadeEntriesCapacity) return lose(depth);
  entries_[count_++] = Entry{key_of(id), static_cast<std::uint8_t>(depth)};
}

// Only called for a name that exists already, which is rare: a scan of the
// current directory's entries costs nothing on the common path.
bool MadeEntries::contains(int depth, const FileIdentity& id) const {
  if (overflow_depth_ <= depth) return true;
  const std::uint64_t key = key_of(id);
  for (std::uint32_t i = count_; i > 0 && entries_[i - 1].depth >= depth; --i) {
    if (entries_[i - 1].depth == depth && entries_[i - 1].key == key) return true;
  }
  return false;
}

void MadeEntries::leave_below(int depth) {
  while (count_ > 0 && entries_[count_ - 1].depth > depth) --count_;
  if (overflow_depth_ > depth) overflow_depth_ = kDepthLevels;
}
