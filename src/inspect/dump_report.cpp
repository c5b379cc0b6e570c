#include "inspect/dump_report.h"

#include "report/failure.h"

void report_depth_fault(const DumpWalk& walk, LineWriter& err) {
  const DepthFault fault = walk.depth_fault();
  if (fault == DepthFault::kNone) return;
  entry_head(err, "order", walk.path()).text(">: ");
  switch (fault) {
    case DepthFault::kFirstNotAtTop:
      err.text("the first record has depth ").decimal(walk.node().depth).text(", not 0");
      break;
    case DepthFault::kJump:
      err.text("depth rises from ").decimal(walk.previous_depth()).text(" to ").decimal(walk.node().depth);
      break;
    case DepthFault::kBelowFile:
      err.text("depth rises below a file");
      break;
    case DepthFault::kNone:
      break;
  }
  err.end_line();
}

void report_refused_name(Platform& platform, const DumpWalk& walk, LineWriter& err) {
  char words[128];
  failure_text(platform, Failure::refused(Refusal::kInvalidName), words, sizeof words);
  const FsNode& node = walk.node();
  if (node.is_directory()) {
    chdir_line(err, walk.path(), node.attr, words);
  } else {
    file_line(err, "createfile", walk.path(), node.attr, node.size, words);
  }
}

void report_content_short(const DumpWalk& walk, std::uint64_t missing, LineWriter& err) {
  content_short_line(err, walk.path(), walk.node().attr, walk.node().size, missing);
}
