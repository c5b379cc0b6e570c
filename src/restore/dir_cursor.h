// Keeps track of where in the target the records are: the open directory
// that holds the entries of each depth, from the target itself at depth 0
// down to the directory entered last. A rise enters the directory the
// previous record made (or reused) through the handle opened for it, so no
// name is looked up twice; a fall goes back to the handle kept for the
// shallower depth, never to a name such as "..". Each directory is held
// open until everything inside it is written, so its times are set last.
// The cursor also decides which entries cannot be restored because the
// directory meant to hold them could not be entered.
#pragma once

#include <cstdint>

#include "dump/fs_node.h"
#include "dump/name_reader.h"
#include "platform/platform.h"
#include "report/error_log.h"
#include "report/failure.h"
#include "restore/entry_guard.h"
#include "restore/writer_pool.h"

struct DirSlot {
  // The directory made (or reused) by the record last seen at this depth,
  // until its contents are done, and whether this run made it; or why that
  // record left no directory to enter.
  Handle handle;
  bool handle_made_by_run = false;
  // With writers: whether the system may take two names for one entry in
  // it (asked of a directory that was there; one made inherits it).
  bool handle_folds = true;
  Failure no_handle;
  FileTime creation_time = 0;
  FileTime write_time = 0;
  // With writers: the pool's slot for this directory once a file inside it
  // was handed to them; the pool closes it after its last file.
  std::int32_t pending = -1;
  // The directory holding this depth's entries was not entered: its entries
  // are skipped and nothing needs closing when this depth is left.
  bool not_entered = false;
  // The directory holding this depth's entries, while it is entered: the
  // target at depth 0, else the handle held one depth up (closed there).
  Handle container;
  bool container_made_by_run = false;
  bool container_folds = true;
  // The depth whose slot holds the container; -1: the target.
  int container_holder = -1;
};

class DirCursor {
 public:
  DirCursor(Platform& platform, EntryGuard& guard, ErrorLog& log) : platform_(platform), guard_(guard), log_(log) {}

  // The target directory, which holds the entries of depth 0. It stays open
  // for the whole run and is not the cursor's to close.
  void start(Handle target);
  // Files handed to writers keep their directory open until they are done.
  void use_pool(WriterPool* pool) { pool_ = pool; }
  // The current record's file goes to the writers: its directory's pool
  // slot (which hold_for_writers() gave it), or -1 for the target, whose
  // times are not set. With `create`, the writer creates it: *lane and
  // *ticket give its turn.
  std::int32_t hand_child(const char16_t* name, bool create, std::uint32_t* lane, std::uint32_t* ticket);
  // Before the reading thread makes an entry by this name in the current
  // directory: the writers' creations of its lane handed out before it.
  void wait_for_lane(const char16_t* name);
  // Gives the current directory a pool slot if it has none: false for the
  // target, or when none is free even after every file in flight is done.
  bool hold_for_writers();
  // Moves to the depth of the record just read (attr and its number,
  // counted from 1, are that record's, for the log). The name buffer still
  // holds the previous entry's name; below_directory tells whether that
  // entry was a directory record.
  void move_to(std::uint8_t depth, std::uint16_t attr, std::uint64_t record, bool below_directory);
  // Holds the directory the record at depth made or reused until the cursor
  // leaves it; then its times are set and it is closed.
  void hold_directory(std::uint8_t depth, Handle handle, bool made_by_run, FileTime creation, FileTime write);
  // The record at depth left no directory: a rise below it is logged with
  // this reason.
  void hold_failure(std::uint8_t depth, const Failure& why) { slots_[depth].no_handle = why; }
  bool skipping() const { return skipping_; }
  std::uint8_t depth() const { return depth_; }
  // Where the current record's entry goes; only meaningful while not
  // skipping.
  EntryPlace entry_place() const {
    const DirSlot& slot = slots_[depth_];
    return EntryPlace{slot.container, depth_, slot.container_made_by_run};
  }

 private:
  void rise(int depth, std::uint16_t attr, std::uint64_t record, bool below_directory);
  void fall(int depth);
  // Skips the entries from depth `from` to depth `to` (the levels a rise
  // passed over or could not enter).
  void skip(int from, int to);
  void mark_not_entered(int from, int to);

  Platform& platform_;
  EntryGuard& guard_;
  ErrorLog& log_;
  WriterPool* pool_ = nullptr;
  std::uint8_t depth_ = 0;
  bool skipping_ = false;
  DirSlot slots_[kDepthLevels];
};
