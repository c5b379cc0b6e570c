#include "restore/dir_cursor.h"

void DirCursor::move_to(std::uint8_t depth, std::uint16_t attr, std::uint64_t record, bool below_directory) {
  if (depth > depth_) {
    rise(depth, attr, record, below_directory);
  } else {
    fall(depth);
  }
  depth_ = depth;
}

void DirCursor::start(Handle target) {
  slots_[0].container = target;
  slots_[0].container_folds = pool_ == nullptr || platform_.folds_names(target);
}

void DirCursor::hold_directory(std::uint8_t depth, Handle handle, bool made_by_run, FileTime creation,
                               FileTime write) {
  DirSlot& slot = slots_[depth];
  slot.handle = handle;
  slot.handle_made_by_run = made_by_run;
  slot.handle_folds = made_by_run ? slots_[depth].container_folds : pool_ == nullptr || platform_.folds_names(handle);
  slot.creation_time = creation;
  slot.write_time = write;
  slot.pending = -1;
}

// A full table is emptied by waiting for every file in flight: then only
// the directories the walk holds keep their slots.
bool DirCursor::hold_for_writers() {
  const int at = slots_[depth_].container_holder;
  if (at < 0) return false;
  DirSlot& holder = slots_[at];
  if (holder.pending < 0) {
    holder.pending = pool_->dirs().hold(holder.handle, holder.creation_time, holder.write_time, holder.handle_folds);
    if (holder.pending < 0) {
      pool_->wait_turn();
      holder.pending = pool_->dirs().hold(holder.handle, holder.creation_time, holder.write_time, holder.handle_folds);
    }
  }
  return holder.pending >= 0;
}

std::int32_t DirCursor::hand_child(const char16_t* name, bool create, std::uint32_t* lane, std::uint32_t* ticket) {
  const int at = slots_[depth_].container_holder;
  if (at < 0 || !hold_for_writers()) return -1;
  DirSlot& holder = slots_[at];
  pool_->dirs().add_child(holder.pending);
  if (create) {
    const NameTurn turn = pool_->dirs()[holder.pending].order.issue(name);
    *lane = turn.lane;
    *ticket = turn.ticket;
  }
  return holder.pending;
}

void DirCursor::wait_for_lane(const char16_t* name) {
  const int at = slots_[depth_].container_holder;
  if (at >= 0 && slots_[at].pending >= 0) pool_->wait_lane(slots_[at].pending, name);
}

// Exactly one directory is entered per rise: the one the previous record
// made or reused. A first record below the top, or a record below a file,
// has no directory of this dump to go into, so nothing already in the
// target is ever entered for it. A rise of several levels (which a
// well-formed dump never has) is logged and marks the levels passed over as
// not entered, so their entries are skipped when a fall reaches them.
void DirCursor::rise(int depth, std::uint16_t attr, std::uint64_t record, bool below_directory) {
  const int first = depth_ + 1;
  if (record == 1) {
    log_.first_record_deep(depth);
    return skip(first, depth);
  }
  if (depth > first) log_.depth_jump(depth_, depth, record);
  if (skipping_) return mark_not_entered(first, depth);
  const DirSlot& above = slots_[depth_];
  if (!below_directory || !above.handle.valid()) {
    log_.chdir_failed(attr, below_directory ? above.no_handle : Failure::refused(Refusal::kNotBelowDirectory));
    return skip(first, depth);
  }
  DirSlot& inside = slots_[depth];
  inside.container = above.handle;
  inside.container_made_by_run = above.handle_made_by_run;
  inside.container_folds = above.handle_folds;
  inside.container_holder = depth_;
  mark_not_entered(first, depth - 1);
  inside.not_entered = false;
}

void DirCursor::skip(int from, int to) {
  skipping_ = true;
  mark_not_entered(from, to);
}

// Innermost first: each directory's times are set after everything inside
// it is written and closed.
void DirCursor::fall(int depth) {
  guard_.leave_below(depth);
  for (int k = depth_; k >= depth; --k) {
    DirSlot& slot = slots_[k];
    if (slot.handle.valid() && slot.pending >= 0) {
      pool_->dirs().release(slot.pending);
      slot.pending = -1;
      slot.handle = Handle::none();
    } else if (slot.handle.valid()) {
      platform_.set_times(slot.handle, slot.creation_time, slot.write_time, slot.write_time);
      platform_.close(slot.handle);
      slot.handle = Handle::none();
    }
    slot.no_handle = Failure{};
    if (k > depth && !slot.not_entered) slot.container = Handle::none();
  }
  skipping_ = slots_[depth].not_entered;
}

void DirCursor::mark_not_entered(int from, int to) {
  for (int k = from; k <= to; ++k) {
    slots_[k].not_entered = true;
    slots_[k].container = Handle::none();
  }
}
