#include "restore/held_dirs.h"

std::int32_t HeldDirs::hold(Handle dir, FileTime creation, FileTime write, bool folds) {
  if (held_.load(std::memory_order_acquire) >= limit_) return -1;
  for (std::uint32_t tries = 0; tries < kHeldDirs; ++tries) {
    const std::uint32_t i = next_;
    next_ = (next_ + 1) % kHeldDirs;
    HeldDir& d = dirs_[i];
    if (d.busy.load(std::memory_order_acquire)) continue;
    d.handle = dir;
    d.creation = creation;
    d.write = write;
    d.order.reset(folds);
    for (std::uint32_t lane = 0; lane < kLanes; ++lane) {
      d.created[lane].store(0, std::memory_order_relaxed);
      d.waiting[lane].store(0, std::memory_order_relaxed);
    }
    d.count.store(1, std::memory_order_relaxed);  // the walk's own hold
    d.busy.store(true, std::memory_order_relaxed);
    held_.fetch_add(1, std::memory_order_relaxed);
    return static_cast<std::int32_t>(i);
  }
  return -1;
}

void HeldDirs::release(std::int32_t dir, std::int32_t holds) {
  HeldDir& d = dirs_[dir];
  if (d.count.fetch_sub(holds, std::memory_order_acq_rel) != holds) return;
  platform_.set_times(d.handle, d.creation, d.write, d.write);
  platform_.close(d.handle);
  d.busy.store(false, std::memory_order_release);
  held_.fetch_sub(1, std::memory_order_release);
}
