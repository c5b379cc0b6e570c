#include "restore/dump_report.h"

namespace {

void file_head(const char* what, const DumpWalk& walk, LineOut& err) {
  err.text(what).text(" error with <");
  walk.write_path(err);
  err.text(">, attr=").hex4(walk.node().attr).text(", size=");
  err.decimal(static_cast<std::int64_t>(walk.node().size)).text(": ");
}

}  // namespace

void report_depth_fault(const DumpWalk& walk, LineOut& err) {
  const DepthFault fault = walk.depth_fault();
  if (fault == DepthFault::kNone) return;
  err.text("order error with <");
  walk.write_path(err);
  err.text(">: ");
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

void report_refused_name(const DumpWalk& walk, LineOut& err) {
  if (walk.node().is_directory()) {
    err.text("chdir error with <");
    walk.write_path(err);
    err.text("> attr=").hex4(walk.node().attr).text(": ");
  } else {
    file_head("createfile", walk, err);
  }
  err.text("the name is refused on this system").end_line();
}

void report_content_short(const DumpWalk& walk, std::uint64_t missing, LineOut& err) {
  file_head("content", walk, err);
  err.decimal(static_cast<std::int64_t>(missing)).text(" bytes missing").end_line();
}

void report_names_ended(LineOut& err) { err.text("names error: $fsnames ended before $fsnodes").end_line(); }

void report_nodes_stray(const DumpWalk& walk, LineOut& err) {
  err.text("nodes error: $fsnodes ends with ").decimal(walk.stray_bytes()).text(" stray bytes").end_line();
}
