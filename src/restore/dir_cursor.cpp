#include "restore/dir_cursor.h"

void DirCursor::move_to(std::uint8_t depth, std::uint16_t attr, std::uint64_t record) {
  if (depth > depth_) {
    rise(depth, attr, record);
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
// a well-formed dump never has) is logged and marks the levels passed over as
// not entered, so their entries are skipped when a fall reaches them.
void DirCursor::rise(int depth, std::uint16_t attr, std::uint64_t record) {
  const int first = depth_ + 1;
  if (depth > first) log_.depth_jump(depth_, depth, record);
  if (skipping_) {
    mark_not_entered(first, depth);
    return;
  }
  DirSlot& above = slots_[depth_];
  DirSlot& inside = slots_[depth];
  if (above.handle.valid()) {
    // The directory created by the previous record: entered through the
    // handle held for its times, with no second look-up of its name.
    inside.container = above.handle;
    inside.owns_container = false;
  } else {
    inside.container = guard_.open_dir(above.container, name_reader_.name());
    inside.owns_container = inside.container.valid();
    if (!inside.container.valid()) {
      log_.chdir_failed(attr, guard_.failure());
      skipping_ = true;
      mark_not_entered(first, depth);
      return;
    }
  }
  mark_not_entered(first, depth - 1);
  inside.not_entered = false;
}

// Innermost first: each directory's times are set after everything inside
// it is written and closed.
void DirCursor::fall(int depth) {
  for (int k = depth_; k >= depth; --k) {
    DirSlot& slot = slots_[k];
    if (slot.handle.valid()) {
      platform_.set_times(slot.handle, slot.creation_time, slot.write_time, slot.write_time);
      platform_.close(slot.handle);
      slot.handle = Handle::none();
    }
    if (k > depth && !slot.not_entered) {
      if (slot.owns_container) platform_.close(slot.container);
      slot.container = Handle::none();
      slot.owns_container = false;
    }
  }
  skipping_ = slots_[depth].not_entered;
}

void DirCursor::mark_not_entered(int from, int to) {
  for (int k = from; k <= to; ++k) {
    DirSlot& slot = slots_[k];
    slot.not_entered = true;
    if (slot.owns_container) platform_.close(slot.container);
    slot.container = Handle::none();
    slot.owns_container = false;
  }
}
