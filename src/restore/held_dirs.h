// Directories held open while files inside them are in flight. The walk
// holds a directory's slot from the first file it hands out in it until it
// leaves it; every file handed out holds it too, until that file is
// finished. Whoever lets go last (the reading thread or a writer) sets the
// directory's times and closes it, so its times come after everything
// inside it, as on one thread.
//
// Threads: hold, add_child, issue and may_meet are the reading thread's; a
// slot's handle, times and name order are written by it before the slot's
// first file is handed out (the hand-out is the release that publishes
// them) and only read by writers. `count` is the slot's holds (acq_rel: the
// last release sees every write of the others). `created` counts a lane's
// creations (release by the writer that made one, acquire by a waiter, so
// a waiter that sees the count sees the entry); `waiting` tells a creator
// that someone sleeps on it. `busy` and `held` are the slot's and table's
// occupancy (release on free, acquire on reuse).
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"
#include "restore/name_order.h"

// Directories left by the walk while files inside them are in flight, plus
// those the walk holds.
constexpr std::uint32_t kHeldDirs = 1024;

struct HeldDir {
  std::atomic<std::int32_t> count{0};
  std::atomic<bool> busy{false};
  std::atomic<std::uint32_t> created[kLanes];
  std::atomic<std::uint32_t> waiting[kLanes];  // threads waiting for a lane's creation
  NameOrder order;
  Handle handle;
  FileTime creation = 0;
  FileTime write = 0;
};

class HeldDirs {
 public:
  explicit HeldDirs(Platform& platform) : platform_(platform) {}

  // At most this many held at once (the handle bound; at least 1).
  void limit_to(std::uint32_t dirs) { limit_ = dirs < 1 ? 1 : dirs < kHeldDirs ? dirs : kHeldDirs; }
  std::uint32_t limit() const { return limit_; }
  // A directory the walk holds from now on, whose names fold or not, with
  // the times it gets at the end: its slot, or -1 when none is free.
  std::int32_t hold(Handle dir, FileTime creation, FileTime write, bool folds);
  // One more file handed out in the directory.
  void add_child(std::int32_t dir) { dirs_[dir].count.fetch_add(1, std::memory_order_relaxed); }
  // `files` files of the directory are finished, or (1) the walk left it:
  // the last hold let go sets its times and closes it.
  void release(std::int32_t dir, std::int32_t holds = 1);
  HeldDir& operator[](std::int32_t dir) { return dirs_[dir]; }

 private:
  Platform& platform_;
  std::uint32_t next_ = 0;
  std::uint32_t limit_ = kHeldDirs;
  std::atomic<std::uint32_t> held_{0};
  HeldDir dirs_[kHeldDirs];
};
