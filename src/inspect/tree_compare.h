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
// behind it is read or listed. Names meet where the restore's would: where
// a directory folds names (folds_names) or two names reach one entry. An
// entry costs one look by its name; a file is opened only to read its body
// (once, beside the dump's) or a word the look cannot tell.
#pragma once

#include <cstdint>

#include "dump/buffer_sizes.h"
#include "dump/fs_node.h"
#include "inspect/compare_batch.h"
#include "inspect/compare_lines.h"
#include "inspect/compare_writers.h"
#include "inspect/dump_walk.h"
#include "inspect/file_compare.h"
#include "platform/platform.h"
#include "report/failure.h"
#include "report/line_writer.h"
#include "target/body_match.h"
#include "target/entry_gate.h"
#include "target/made_entries.h"
#include "target/record_match.h"

class TreeCompare {
 public:
  TreeCompare(Platform& platform, DumpWalk& walk, LineWriter& out, LineWriter& err)
      : platform_(platform),
        gate_(platform),
        walk_(walk),
        out_(out),
        err_(err),
        lines_(platform, out),
        one_file_(platform, lines_, err) {}

  // Compares with `writers` writer threads reading the bodies (1: this
  // thread alone; the output is the same). Returns the exit status: 0 when
  // the tree agrees with the dump, 1 when the dump or the target cannot be
  // opened, 3 when they differ.
  int run(int base_arg, int target_arg, int writers = 1);
  // The writers to compare with when run with more than one (tests; else
  // the run takes its own).
  void compare_with(CompareWriters* writers) { pool_ = writers; }

 private:
  // Takes the records until the dump ends; false when its names ran out.
  void compare_records();
  void compare_record();
  void compare_directory(Handle holder);
  // The directory of the record could not be opened: why, in its line.
  void directory_not_opened(Handle holder, const Failure& why);
  // The record's entry is missing or of another kind.
  void not_there(EntryKind kind);
  void compare_file(Handle holder);
  // Whether the entry found for the record is one an earlier record of its
  // directory reached (then the record is told refused and read past).
  bool meets_earlier_entry(const EntryInfo& info);
  // The body of the current file beside the open file of the same size.
  void compare_body(Handle file);
  // A file whose body a batch can carry, with what the look by name found
  // (nullptr: the writer looks): to the writers, or compared here the same
  // way without them.
  void hand_over(Handle holder, const EntryInfo* looked);
  // Copies up to size bytes of the content stream; how many it held.
  std::uint32_t copy_body(std::uint8_t* to, std::uint64_t size);
  // Before a line on standard error: its turn.
  void err_turn() { lines_.turn(); }
  // Reads past the current record's body, or count bytes of the stream,
  // telling what the stream lacks.
  void skip_body();
  void skip_content(std::uint64_t count);
  // The content line of the current record, missing bytes short.
  void content_short(std::uint64_t missing);
  void refill();
  bool folds(int depth);
  // Lists and closes the directories that hold entries deeper than depth.
  void leave_below(int depth);
  void report_extras(int depth);
  bool own_file(const char16_t* name);

  LineWriter& line(const char* kind) { return lines_.line(kind, walk_.path()); }
  void difference(LineWriter& w) { lines_.difference(w); }
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
  // Whether that directory takes two names for one, once asked.
  enum class Folds : std::uint8_t { kUnknown, kNo, kYes };
  Folds folds_[kDepthLevels + 1] = {};
  // The entries the records reached along the path, by identity.
  MadeEntries met_;
  int deepest_ = 0;  // the deepest depth whose directory is held
  std::int64_t entries_ = 0;
  std::int64_t refused_ = 0;
  CompareLines lines_;
  FileCompare one_file_;  // without writers
  CompareWriters* pool_ = nullptr;
  CompareBatch one_batch_;  // without writers
  char16_t name_[kNameUnits];
  char name_text_[kPathTextBytes];
  BodyBlocks blocks_;
  // The content stream read ahead: the bytes from ahead_begin_ to
  // ahead_end_ come next.
  std::uint8_t ahead_[kReadAheadBytes];
  std::uint32_t ahead_begin_ = 0;
  std::uint32_t ahead_end_ = 0;
};
