#include "restore/dir_cursor.h"

void DirCursor::move_to(std::uint8_t depth, std::uint16_t attr) {
  if (depth > depth_) {
    rise(depth, attr);
  } else {
    fall(depth);
  }
  depth_ = depth;
}

void DirCursor::hold_directory(std::uint8_t depth, Handle handle, FileTime creation, FileTime write) {
  DirSlot& slot = slots_[depth];
  slot.handle = handle;
  slot.creation_time = creation;
  slot.write_time = write;
}

// Exactly one directory is entered per rise. A rise of several levels (which
// a well-formed dump never has) marks the levels passed over as not entered,
// so the falls that follow step up once for the one directory entered and
// the process never climbs above the target.
void DirCursor::rise(int depth, std::uint16_t attr) {
  const int first = depth_ + 1;
  if (skipping_) {
    mark_not_entered(first, depth);
    return;
  }
  if (platform_.enter_dir(names_.name())) {
    mark_not_entered(first, depth - 1);
    slots_[depth].not_entered = false;
    skipping_ = false;
  } else {
    log_.chdir_failed(attr);
    skipping_ = true;
    mark_not_entered(first, depth);
  }
}

void DirCursor::fall(int depth) {
  for (int k = depth_; k >= depth; --k) {
    DirSlot& slot = slots_[k];
    if (slot.handle.valid()) {
      platform_.set_times(slot.handle, slot.creation_time, slot.write_time, slot.write_time);
      platform_.close(slot.handle);
      slot.handle = Handle::none();
    }
    if (k > depth && !slot.not_entered) {
      if (!platform_.leave_dir()) {
        log_.step_up_failed();
        // Where the process stands is unknown now: never step up again and
        // skip everything that follows.
        mark_not_entered(0, k);
      }
    }
  }
  skipping_ = slots_[depth].not_entered;
}

void DirCursor::mark_not_entered(int from, int to) {
  for (int k = from; k <= to; ++k) slots_[k].not_entered = true;
}
