#include "inspect/dump_check.h"

#include "inspect/dump_report.h"
#include "report/entry_lines.h"
#include "report/exit_status.h"

namespace {

struct CheckTotals {
  std::int64_t dirs = 0;
  std::int64_t files = 0;
  std::uint64_t bytes = 0;  // the files' sizes added up
  std::uint64_t records = 0;
  std::uint64_t lines = 0;
  std::int64_t problems = 0;
};

// Takes every record, also those past the end of the names, so the counts
// cover the whole node stream.
void check_records(Platform& platform, DumpWalk& walk, LineWriter& err, CheckTotals& totals) {
  bool have_names = true;
  while (walk.next_record()) {
    ++totals.records;
    if (have_names) have_names = walk.next_name();
    if (have_names) ++totals.lines;
    walk.locate(have_names);
    if (walk.depth_fault() != DepthFault::kNone) {
      report_depth_fault(walk, err);
      ++totals.problems;
    }
    if (have_names && walk.name_refused()) {
      report_refused_name(platform, walk, err);
      ++totals.problems;
    }
    if (walk.node().is_directory()) {
      ++totals.dirs;
    } else {
      ++totals.files;
      totals.bytes += walk.node().size;
    }
  }
  if (have_names) totals.lines += walk.count_rest_of_names();
}

}  // namespace

int check_dump(Platform& platform, DumpWalk& walk, int base_arg, LineWriter& out, LineWriter& err) {
  if (!walk.open(base_arg)) return kExitStartFailed;
  CheckTotals totals;
  check_records(platform, walk, err, totals);
  if (walk.stray_bytes() > 0) {
    nodes_stray_line(err, walk.stray_bytes());
    ++totals.problems;
  }
  if (totals.lines != totals.records) {
    err.text("names error: $fsnames holds ").decimal(static_cast<std::int64_t>(totals.lines));
    err.text(" lines for ").decimal(static_cast<std::int64_t>(totals.records)).text(" records in $fsnodes");
    err.end_line();
    ++totals.problems;
  }
  const std::uint64_t content = walk.skip_rest_of_content();
  if (content != totals.bytes) {
    err.text("content error: the files' sizes add up to ").decimal(static_cast<std::int64_t>(totals.bytes));
    err.text(" bytes, $content holds ").decimal(static_cast<std::int64_t>(content)).end_line();
    ++totals.problems;
  }
  out.text("dirs=").decimal(totals.dirs).text(" files=").decimal(totals.files);
  out.text(" bytes=").decimal(static_cast<std::int64_t>(totals.bytes));
  out.text(" problems=").decimal(totals.problems).end_line();
  platform.console_flush();
  return totals.problems > 0 ? kExitDumpProblems : kExitDone;
}
