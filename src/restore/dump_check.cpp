#include "restore/dump_check.h"

#include "restore/dump_report.h"

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
void check_records(DumpWalk& walk, LineOut& err, CheckTotals& totals) {
  bool have_names = true;
  while (walk.next_record()) {
    ++totals.records;
    if (have_names) have_names = walk.next_name();
    if (have_names) ++totals.lines;
    walk.place(have_names);
    if (walk.depth_fault() != DepthFault::kNone) {
      report_depth_fault(walk, err);
      ++totals.problems;
    }
    if (have_names && walk.name_refused()) {
      report_refused_name(walk, err);
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

int check_dump(Platform& platform, DumpWalk& walk, LineOut& out, LineOut& err) {
  if (!walk.open(1)) return kExitDumpUnreadable;
  CheckTotals totals;
  check_records(walk, err, totals);
  if (walk.stray_bytes() > 0) {
    report_nodes_stray(walk, err);
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
  return totals.problems > 0 ? kExitDumpProblems : 0;
}
