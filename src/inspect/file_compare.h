// The comparison of one file whose size is its record's: open it as the
// restore opens it (never through a link), read its word where the look by
// name could not tell it, its body beside the record's, and tell what
// differs. It keeps nothing between files, so each writer has its own and
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
  Platform& platform_;
  EntryGate gate_;
  CompareLines& lines_;
  LineWriter& err_;
  BodyBlocks blocks_;
};
