// Reads a dump from start to end without restoring anything, for --list,
// --check and --compare: the records in order, each with its name decoded exactly as the
// restore decodes it, the entry's path inside the dump as text, and what
// about the record the restore would stumble over.
#pragma once

#include <cstdint>

#include "dump/buffer_sizes.h"
#include "dump/dump_reader.h"
#include "dump/fs_node.h"
#include "dump/name_reader.h"
#include "inspect/name_collisions.h"
#include "platform/platform.h"
#include "report/entry_lines.h"
#include "report/line_writer.h"
#include "report/path_text.h"

// A name line longer than this is taken for one that never ends: no name
// that long is kept or restored, so the walk stops there instead of waiting.
constexpr std::uint64_t kNameLineLimit = 16 * std::uint64_t{kLineBytes};

enum class DepthFault {
  kNone,
  kFirstNotAtTop,  // the first record is not at depth 0
  kJump,           // the depth rises by more than one
  kBelowFile,      // the depth rises below a file
};

class DumpWalk {
 public:
  DumpWalk(Platform& platform, NameReader& names, LineWriter& err)
      : platform_(platform), names_(names), dump_(platform, names), err_(err) {}

  // Opens the three streams of the base path in argument `arg` (-1: the
  // current directory's). Each stream that cannot be opened is told on
  // standard error with the system's text. True when all opened.
  bool open(int arg);

  // Reads the next record; false at the end of the node stream or where
  // reading it fails (nodes_failed()), with the bytes of a partial last
  // record in stray_bytes().
  bool next_record();
  bool nodes_failed() const { return nodes_failed_; }
  // Reads the current record's name; false when the names ran out, their
  // reading failed, or a line ran on past kNameLineLimit bytes: name_read()
  // tells which.
  bool next_name();
  NameRead name_read() const { return name_read_; }
  // Works out where the current record stands in the tree: its path (from
  // its name, or an empty name when it has none) and its depth fault.
  void locate(bool has_name);
  // Reads the body of the current record; returns the bytes missing.
  std::uint64_t skip_body();
  // Reads up to count bytes of the content stream; returns the bytes read.
  std::uint64_t skip_content(std::uint64_t count);
  // True when the content stream holds another byte; reads just that one.
  bool content_goes_on();
  // True when the names stream holds another byte after the lines read.
  bool names_go_on() { return names_.has_more(dump_.handle(DumpReader::kNames)); }

  const FsNode& node() const { return dump_.node(); }
  // The current record's name, as the restore decodes it.
  const char16_t* name() { return names_.name(); }
  Handle stream(DumpReader::Stream which) const { return dump_.handle(which); }
  std::uint32_t stray_bytes() const { return dump_.stray_bytes(); }
  DepthFault depth_fault() const { return fault_; }
  // The depth of the record before the current one.
  std::uint8_t previous_depth() const { return depth_before_; }
  // The current name would be refused by create_file or make_dir here.
  bool name_refused();
  // Takes the current name into the names of its directory (a refused name
  // only leaves the directories below it).
  Collision collision(bool refused);

  // The current entry's path, for a line: cut, with the cut mark behind it.
  EntryText path() const { return paths_.last(); }
  // The path of the directory that holds the entries at `depth` (the one
  // last seen at depth - 1; empty for depth 0). Valid until locate() moves
  // to a record at that depth or above.
  EntryText directory_path(int depth) const { return paths_.directory(depth); }
  // Whether the directory holding the entries at `depth` has an entry of
  // this name in the dump so far (with `fold`, in any case).
  bool dump_holds(int depth, const char16_t* name, bool fold) const { return collisions_.holds(depth, name, fold); }
  // Reads up to count bytes of the content stream into buffer, waiting for
  // them; fewer only at its end or a failed read.
  std::uint32_t read_content(void* buffer, std::uint32_t count) {
    return platform_.read_full(dump_.handle(DumpReader::kContent), buffer, count);
  }

 private:
  void report_open_failure();

  Platform& platform_;
  NameReader& names_;
  DumpReader dump_;
  LineWriter& err_;
  bool nodes_failed_ = false;
  NameRead name_read_ = NameRead::kName;
  bool first_ = true;
  bool previous_is_directory_ = false;
  std::uint8_t previous_depth_ = 0;
  std::uint8_t depth_before_ = 0;
  DepthFault fault_ = DepthFault::kNone;
  PathText paths_;
  std::uint8_t content_block_[kSkipBlockBytes];
  NameCollisions collisions_;
};
