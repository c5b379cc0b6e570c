#include "target/made_entries.h"

#include <cstdlib>
#include <new>

MadeEntries::~MadeEntries() {
  delete[] entries_;
  std::free(slots_);
}

// The index starts empty: calloc takes zeroed pages from the system without
// touching them, so an index never used costs no memory.
bool MadeEntries::reserve() {
  if (entries_ == nullptr) entries_ = new (std::nothrow) Entry[kMadeEntriesCapacity];
  if (slots_ == nullptr) slots_ = static_cast<std::uint32_t*>(std::calloc(kSlots, sizeof(std::uint32_t)));
  return entries_ != nullptr && slots_ != nullptr;
}

std::uint64_t MadeEntries::key_of(const FileIdentity& id) {
  // The file index is unique on its device; the device is mixed in so equal
  // indexes on two devices stay apart.
  return id.index ^ (id.device * 0x9E3779B97F4A7C15ull);
}

void MadeEntries::add(int depth, const FileIdentity& id) {
  if ((slots_ == nullptr && !reserve()) || count_ == kMadeEntriesCapacity) return lose(depth);
  if (2 * (count_ + 1) > mask_ + 1 && mask_ + 1 < kSlots) grow();
  entries_[count_++] = Entry{key_of(id), static_cast<std::uint8_t>(depth)};
  insert(count_);
}

void MadeEntries::insert(std::uint32_t place) {
  std::uint32_t at = home_of(entries_[place - 1].key);
  while (slots_[at] != 0) at = (at + 1) & mask_;
  slots_[at] = place;
}

void MadeEntries::grow() {
  for (std::uint32_t i = 0; i <= mask_; ++i) slots_[i] = 0;
  mask_ = 2 * mask_ + 1;
  for (std::uint32_t place = 1; place <= count_; ++place) insert(place);
}

bool MadeEntries::contains(int depth, const FileIdentity& id) const {
  if (overflow_depth_ <= depth) return true;
  const std::uint64_t key = key_of(id);
  for (std::uint32_t at = home_of(key); slots_ != nullptr && slots_[at] != 0; at = (at + 1) & mask_) {
    const Entry& e = entries_[slots_[at] - 1];
    if (e.key == key && e.depth == depth) return true;
  }
  return false;
}

// The slot is emptied by moving back each later slot of its run whose home
// does not lie after the gap, so every entry stays reachable from its home.
void MadeEntries::pop() {
  const std::uint32_t place = count_--;
  std::uint32_t gap = home_of(entries_[place - 1].key);
  while (slots_[gap] != place) gap = (gap + 1) & mask_;
  for (std::uint32_t next = (gap + 1) & mask_; slots_[next] != 0; next = (next + 1) & mask_) {
    const std::uint32_t home = home_of(entries_[slots_[next] - 1].key);
    // Whether home lies cyclically in (gap, next]: then the entry stays.
    const bool stays = gap <= next ? (home > gap && home <= next) : (home > gap || home <= next);
    if (stays) continue;
    slots_[gap] = slots_[next];
    gap = next;
  }
  slots_[gap] = 0;
}

void MadeEntries::leave_below(int depth) {
  while (count_ > 0 && entries_[count_ - 1].depth > depth) pop();
  if (overflow_depth_ > depth) overflow_depth_ = kDepthLevels;
}
