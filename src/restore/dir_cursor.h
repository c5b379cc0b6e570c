// Keeps the process's current directory in step with the depth of the
// records: enters the directory just created on a rise, steps up on a fall,
// and holds each directory open until everything inside it is written, so its
// times are set last. It also decides which entries cannot be restored
// because the directory meant to hold them could not be entered.
#pragma once

#include <cstdint>

#include "dump/name_reader.h"
#include "platform/platform.h"
#include "report/error_log.h"

constexpr int kDepthLevels = 256;

struct DirSlot {
  Handle handle;  // the directory created last at this depth, until its contents are done
  FileTime creation_time = 0;
  FileTime write_time = 0;
  // The directory holding this depth's entries was not entered: its entries
  // are skipped and leaving this depth needs no step up.
  bool not_entered = false;
};

class DirCursor {
 public:
  DirCursor(Platform& platform, NameReader& names, ErrorLog& log)
      : platform_(platform), names_(names), log_(log) {}

  // Moves to the depth of the record just read (attr is that record's, for
  // the log). The name buffer still holds the previous entry's name: the
  // directory a rise enters.
  void move_to(std::uint8_t depth, std::uint16_t attr);
  // Holds a directory just created at depth (handle may be none) until the
  // cursor leaves it; then its times are set and it is closed.
  void hold_directory(std::uint8_t depth, Handle handle, FileTime creation, FileTime write);
  bool skipping() const { return skipping_; }
  std::uint8_t depth() const { return depth_; }

 private:
  void rise(int depth, std::uint16_t attr);
  void fall(int depth);
  void mark_not_entered(int from, int to);

  Platform& platform_;
  NameReader& names_;
  ErrorLog& log_;
  std::uint8_t depth_ = 0;
  bool skipping_ = false;
  DirSlot slots_[kDepthLevels];
};
