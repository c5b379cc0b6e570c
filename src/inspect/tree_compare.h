// fsrestore --compare BASEPATH [TARGET]: reads the dump and the tree under
// TARGET side by side and tells, one line each on standard output, every
// entry the tree holds otherwise than a restore of the dump would leave it:
//
//   missing <path>
//   extra <path>
//   kind <path>: directory in the dump, file on disk
//   size <path>: 90 in the dump, 12 on disk
//   bytes <path>: differ from byte 4096
//   time <path>: <dump time> in the dump, <disk time> on disk
//   attr <path>: 0021 in the dump, 0020 on disk
//   unreadable <path>: <system text>
//   refused <path>: <the restore's words>
//
// then "entries=N refused=R differences=D". Paths are written as --list
// writes them. The tree is walked through open directory handles, as the
// restore walks it, and every entry is reached through EntryGate, as the
// restore reaches it: a link is told as "kind ... link on disk" and nothing
// behind it is read or listed. Each body is read once, beside the dump's.
#pragma once

#include <cstdint>

#include "dump/buffer_sizes.h"
#include "dump/fs_node.h"
#include "inspect/dump_walk.h"
#include "platform/platform.h"
#include "report/failure.h"
#include "report/line_writer.h"
#include "target/entry_gate.h"

class TreeCompare {
 public:
  TreeCompare(Platform& platform, DumpWalk& walk, LineWriter& out, LineWriter& err)
      : platform_(platform), gate_(platform), walk_(walk), out_(out), err_(err) {}

  // Returns the exit status: 0 when the tree agrees with the dump, 1 when
  // the dump or the target cannot be opened, 3 when they differ.
  int run(int base_arg, int target_arg);

 private:
  bool open_target(int target_arg);
  // Takes the records until the dump ends; false when its names ran out.
  void compare_records();
  void compare_record();
  void compare_directory(Handle holder);
  void compare_file(Handle holder);
  // The body of the current file beside the open file of the same size.
  void compare_body(Handle file);
  void compare_state(const OpenState& disk);
  // Lists and closes the directories that hold entries deeper than depth.
  void leave_below(int depth);
  void report_extras(int depth);
  bool own_file(const char16_t* name);

  LineWriter& line(const char* kind);  // "<kind> <path of the current record>"
  void difference(LineWriter& w);      // ends a line that counts as a difference
  // The last call failed on the current entry, or on the listing of the
  // directory holding the entries at depth.
  void unreadable();
  void unreadable(const Failure& why);
  void directory_unreadable(int depth);
  void refused(Failure why);

  Platform& platform_;
  EntryGate gate_;
  DumpWalk& walk_;
  LineWriter& out_;
  LineWriter& err_;
  // The directory on disk that holds the entries at each depth, while the
  // walk is inside it; none where the entries at that depth are not looked
  // at (their directory is missing, refused or not a directory).
  Handle level_[kDepthLevels + 1];
  // The names of that directory were not all kept: its extras are not told.
  bool names_lost_[kDepthLevels + 1] = {};
  int deepest_ = 0;  // the deepest depth whose directory is held
  Handle target_;
  std::int64_t entries_ = 0;
  std::int64_t refused_ = 0;
  std::int64_t differences_ = 0;
  char16_t name_[kNameUnits];
  char name_text_[kPathTextBytes];
  std::uint8_t dump_block_[kReadAheadBytes];
  std::uint8_t disk_block_[kReadAheadBytes];
};
