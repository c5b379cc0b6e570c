#include "inspect/dump_check.h"

#include "inspect/dump_report.h"
#include "report/entry_lines.h"
#include "report/exit_status.h"

namespace {

struct CheckTotals {
  std::int64_t dirs = 0;
  std::int64_t files = 0;
  std::uint64_t bytes = 0;  // the files' sizes added up
  std::int64_t records = 0;
  std::int64_t problems = 0;
};

// Takes the records as the restore does, each with its name: where the
// names run out the restore stops, and so does the check, so that no
// stream is read further than the restore would read it. Returns true when
// the node stream ended, with every record named.
bool check_records(Platform& platform, DumpWalk& walk, bool quiet, LineWriter& err, CheckTotals& totals) {
  while (walk.next_record()) {
    ++totals.records;
    if (!walk.next_name()) {
      report_names_stop(platform, walk, err);
      ++totals.problems;
      return false;
    }
    walk.locate(true);
    if (walk.depth_fault() != DepthFault::kNone) {
      report_depth_fault(walk, err);
      ++totals.problems;
    }
    const bool refused = walk.name_refused();
    if (refused) {
      report_refused_name(platform, walk, err);
      ++totals.problems;
    }
    if (report_collision(platform, walk, walk.collision(refused), !quiet, err)) ++totals.problems;
    if (walk.node().is_directory()) {
      ++totals.dirs;
    } else {
      ++totals.files;
      totals.bytes += walk.node().size;
    }
  }
  if (walk.nodes_failed()) {
    report_nodes_failed(platform, err);
    ++totals.problems;
    return false;
  }
  return true;
}

// The streams past the last record: stray node bytes, name lines no record
// takes, content the bodies do not take. Each surplus is proved by one more
// byte read, never by reading to the end: a stream may never end.
void check_ends(DumpWalk& walk, bool every_record_named, LineWriter& err, CheckTotals& totals) {
  if (every_record_named && walk.stray_bytes() > 0) {
    nodes_stray_line(err, walk.stray_bytes());
    ++totals.problems;
  }
  if (every_record_named && walk.names_go_on()) {
    err.text("names error: $fsnames goes on after the line of the last record (record ");
    err.decimal(totals.records).text(")").end_line();
    ++totals.problems;
  }
  const std::uint64_t content = walk.skip_content(totals.bytes);
  if (content < totals.bytes) {
    err.text("content error: the files' sizes add up to ").decimal(static_cast<std::int64_t>(totals.bytes));
    err.text(" bytes, $content holds ").decimal(static_cast<std::int64_t>(content)).end_line();
    ++totals.problems;
  } else if (every_record_named && walk.content_goes_on()) {
    err.text("content error: $content holds more than the ").decimal(static_cast<std::int64_t>(totals.bytes));
    err.text(" bytes the files' sizes add up to").end_line();
    ++totals.problems;
  }
}

}  // namespace

int check_dump(Platform& platform, DumpWalk& walk, int base_arg, LineWriter& out, LineWriter& err, bool quiet) {
  if (!walk.open(base_arg)) return kExitStartFailed;
  CheckTotals totals;
  const bool every_record_named = check_records(platform, walk, quiet, err, totals);
  check_ends(walk, every_record_named, err, totals);
  out.text("dirs=").decimal(totals.dirs).text(" files=").decimal(totals.files);
  out.text(" bytes=").decimal(static_cast<std::int64_t>(totals.bytes));
  out.text(" problems=").decimal(totals.problems).end_line();
  platform.console_flush();
  return totals.problems > 0 ? kExitDumpProblems : kExitDone;
}
