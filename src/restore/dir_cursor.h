// Keeps track of where in the target the records are: the open directory
// that holds the entries of each depth, from the target itself at depth 0
// down to the directory entered last. A rise enters the directory just
// created through the handle already open for its times (or opens an
// existing one without following links); a fall goes back to the handle
// kept for the shallower depth, never to a name such as "..". Each
// directory created is held open until everything inside it is written, so
// its times are set last. The cursor also decides which entries cannot be
// restored because the directory meant to hold them could not be entered.
#pragma once

#include <cstdint>

#include "dump/fs_node.h"
#include "dump/name_reader.h"
#include "platform/platform.h"
#include "report/error_log.h"
#include "restore/entry_guard.h"


struct DirSlot {
  Handle handle;  // the directory created last at this depth, until its contents are done
  FileTime creation_time = 0;
  FileTime write_time = 0;
  // The directory holding this depth's entries was not entered: its entries
  // are skipped and nothing needs closing when this depth is left.
  bool not_entered = false;
  // The directory holding this depth's entries, while it is entered. When it
  // is the directory held one depth up, it is borrowed from that slot and
  // closed there.
  Handle container;
  bool owns_container = false;
};

class DirCursor {
 public:
  DirCursor(Platform& platform, EntryGuard& guard, NameReader& name_reader, ErrorLog& log)
      : platform_(platform), guard_(guard), name_reader_(name_reader), log_(log) {}

  // The target directory, which holds the entries of depth 0. It stays open
  // for the whole run and is not the cursor's to close.
  void start(Handle target) { slots_[0].container = target; }
  // Moves to the depth of the record just read (attr and its number,
  // counted from 1, are that record's, for the log). The name buffer still
  // holds the previous entry's name: the directory a rise enters.
  void move_to(std::uint8_t depth, std::uint16_t attr, std::uint64_t record);
  // Holds a directory just created at depth (handle may be none) until the
  // cursor leaves it; then its times are set and it is closed.
  void hold_directory(std::uint8_t depth, Handle handle, FileTime creation, FileTime write);
  bool skipping() const { return skipping_; }
  std::uint8_t depth() const { return depth_; }
  // The open directory that holds the entries of the current depth; only
  // meaningful while not skipping.
  Handle here() const { return slots_[depth_].container; }

 private:
  void rise(int depth, std::uint16_t attr, std::uint64_t record);
  void fall(int depth);
  void mark_not_entered(int from, int to);

  Platform& platform_;
  EntryGuard& guard_;
  NameReader& name_reader_;
  ErrorLog& log_;
  std::uint8_t depth_ = 0;
  bool skipping_ = false;
  DirSlot slots_[kDepthLevels];
};
