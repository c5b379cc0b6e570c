// The comparison of one file: look at it by name (unless the reading thread
// did), open it as the restore opens it (never through a link) where its
// body or word must be read, read its word where the look could not tell
// it, its body beside the record's, and tell what differs. It keeps nothing between files, so each writer has its own and
// the reading thread does the same work without writers.
#pragma once

#include "inspect/compare_batch.h"
#include "inspect/compare_lines.h"
#include "platform/platform.h"
#include "report/line_writer.h"
#include "target/body_match.h"
#include "target/entry_gate.h"

class FileCompare {
 public:
  FileCompare(Platform& platform, CompareLines& lines, LineWriter& err)
      : platform_(platform), gate_(platform), lines_(lines), err_(err) {}
  void compare(const CompareBatch& batch, const CompareJob& job);

 private:
  void compare_body(const CompareBatch& batch, const CompareJob& job, Handle file);
  // The size, time and word lines, without the body's.
  void told(const EntryText& path, const CompareJob& job, const EntryState& disk, std::uint8_t differs);
  // The content line of a body the stream ended inside.
  void stream_short(const EntryText& path, const CompareJob& job);

  Platform& platform_;
  EntryGate gate_;
  CompareLines& lines_;
  LineWriter& err_;
  BodyBlocks blocks_;
};
