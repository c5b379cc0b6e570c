// The lines --compare writes about one entry, by whoever compares it (the
// reading thread, or a writer comparing a file's body): each is
// "<kind> <path>[: <what>]" on standard output, and each difference is
// counted. Before a line, the line's turn (with writers, once every entry
// before it is told).
#pragma once

#include <cstdint>

#include "dump/fs_node.h"
#include "platform/platform.h"
#include "report/error_log.h"
#include "report/failure.h"
#include "report/line_writer.h"
#include "report/path_text.h"
#include "target/record_match.h"

class CompareLines {
 public:
  CompareLines(Platform& platform, LineWriter& out) : platform_(platform), out_(out) {}
  void set_turn(LineTurn* turn) { turn_ = turn; }

  // "<kind> <path>", to be ended with difference() or end_line().
  LineWriter& line(const char* kind, const EntryText& path);
  // Ends a line that tells a difference.
  void difference(LineWriter& w);
  // "unreadable <path>: <the system's words>".
  void unreadable(const EntryText& path, const Failure& why);
  // The time and word lines for the differences found.
  void state(const EntryText& path, const FsNode& node, const EntryState& disk, std::uint8_t differs);
  // "kind <path>: file in the dump, link on disk" and its directory twin.
  void link_on_disk(const EntryText& path, bool directory);
  // The record's entry is missing ("missing <path>") or of another kind
  // ("kind <path>: directory in the dump, file on disk").
  void not_there(const EntryText& path, bool directory, EntryKind kind);
  // Waits for the turn of a line written otherwise (standard error, extras).
  void turn() {
    if (turn_ != nullptr) turn_->wait_turn();
  }
  void line_done() {
    if (turn_ != nullptr) turn_->line_done();
  }
  std::int64_t differences() const { return differences_; }

 private:
  Platform& platform_;
  LineWriter& out_;
  LineTurn* turn_ = nullptr;
  std::int64_t differences_ = 0;
  char words_[1024];
};
