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

namespace {

// "collision warning with <path>": the start of a line about a dump that
// restores whole here, yet not everywhere.
LineWriter& warning_head(LineWriter& err, const char* what, const EntryText& entry) {
  return err.text(what).text(" warning with <").bytes(entry.bytes, entry.length).text(entry.tail);
}

}  // namespace

bool report_collision(Platform& platform, const DumpWalk& walk, Collision collision, bool windows_warnings,
                      LineWriter& err) {
  switch (collision) {
    case Collision::kNone:
      return false;
    case Collision::kSameName:
      entry_head(err, "collision", walk.path()).text(">: an earlier entry in this directory has the same name");
      err.end_line();
      return true;
    case Collision::kCaseOnly:
      if (platform.name_rules() == NameRules::kWindows) {
        entry_head(err, "collision", walk.path());
        err.text(">: an earlier entry in this directory has this name in another case").end_line();
        return true;
      }
      if (!windows_warnings) return false;
      warning_head(err, "collision", walk.path());
      err.text(">: an earlier entry in this directory has this name in another case; Windows takes them for one");
      err.end_line();
      return false;
    case Collision::kNotChecked:
      warning_head(err, "collision", walk.path()).text(">: the open directories hold more than ");
      err.decimal(kCollisionNames).text(" names; the rest of this directory is not checked for collisions");
      err.end_line();
      return false;
  }
  return false;
}

void report_names_stop(Platform& platform, const DumpWalk& walk, LineWriter& err) {
  switch (walk.name_read()) {
    case NameRead::kFailed: {
      static char reason[1024];
      failure_text(platform, Failure::of_last_call(platform), reason, sizeof reason);
      stream_failed_line(err, "names", reason);
      break;
    }
    case NameRead::kEndless:
      err.text("names error: a line of $fsnames runs on past ").decimal(static_cast<std::int64_t>(kNameLineLimit));
      err.text(" bytes").end_line();
      break;
    case NameRead::kName:
    case NameRead::kEnded:
      names_ended_line(err);
      break;
  }
}

void report_nodes_failed(Platform& platform, LineWriter& err) {
  static char reason[1024];
  failure_text(platform, Failure::of_last_call(platform), reason, sizeof reason);
  stream_failed_line(err, "nodes", reason);
}

void report_content_short(const DumpWalk& walk, std::uint64_t missing, LineWriter& err) {
  content_short_line(err, walk.path(), walk.node().attr, walk.node().size, missing);
}
