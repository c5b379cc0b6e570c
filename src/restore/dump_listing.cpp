#include "restore/dump_listing.h"

#include "report/iso_time.h"
#include "restore/dump_report.h"

namespace {

// "d 0010 0 2024-03-01T10:46:40.5550000Z Documents": type, attribute word,
// size, last-write time, path. The path comes last, so a reader can split
// the line at its first four spaces.
void write_entry(const DumpWalk& walk, LineOut& out) {
  const FsNode& node = walk.node();
  char time[kIsoTimeChars];
  out.text(node.is_directory() ? "d " : "- ").hex4(node.attr).text(" ");
  out.decimal(node.is_directory() ? 0 : static_cast<std::int64_t>(node.size)).text(" ");
  out.bytes(time, format_iso_time(node.write_time, time)).text(" ");
  walk.write_path(out);
  out.end_line();
}

}  // namespace

int list_dump(Platform& platform, DumpWalk& walk, LineOut& out, LineOut& err) {
  if (!walk.open(1)) return kExitDumpUnreadable;
  while (walk.next_record()) {
    // As in the restore, the names running out ends the run.
    if (!walk.next_name()) {
      report_names_ended(err);
      return 0;
    }
    walk.place(true);
    report_depth_fault(walk, err);
    if (walk.name_refused()) report_refused_name(walk, err);
    write_entry(walk, out);
    const std::uint64_t missing = walk.skip_body();
    if (missing > 0) report_content_short(walk, missing, err);
  }
  if (walk.stray_bytes() > 0) report_nodes_stray(walk, err);
  platform.console_flush();
  return 0;
}
