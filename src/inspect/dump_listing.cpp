#include "inspect/dump_listing.h"

#include "report/iso_time.h"
#include "inspect/dump_report.h"
#include "report/entry_lines.h"
#include "report/exit_status.h"

namespace {

// "d 0010 0 2024-03-01T10:46:40.5550000Z Documents": type, attribute word,
// size, last-write time, path. The path comes last, so a reader can split
// the line at its first four spaces. Its components are joined by "/" on
// every system; within them "\" only ever starts an escape (name_text.h).
void write_entry(const DumpWalk& walk, LineWriter& out) {
  const FsNode& node = walk.node();
  char time[kIsoTimeChars];
  out.text(node.is_directory() ? "d " : "- ").hex4(node.attr).text(" ");
  out.decimal(node.is_directory() ? 0 : static_cast<std::int64_t>(node.size)).text(" ");
  out.bytes(time, format_iso_time(node.write_time, time)).text(" ");
  const EntryText path = walk.path();
  out.bytes(path.bytes, path.length).text(path.tail).end_line();
}

}  // namespace

int list_dump(Platform& platform, DumpWalk& walk, int base_arg, LineWriter& out, LineWriter& err) {
  if (!walk.open(base_arg)) return kExitStartFailed;
  while (walk.next_record()) {
    // As in the restore, the names running out ends the run.
    if (!walk.next_name()) {
      report_names_stop(platform, walk, err);
      return kExitDone;
    }
    walk.locate(true);
    report_depth_fault(walk, err);
    const bool refused = walk.name_refused();
    if (refused) report_refused_name(platform, walk, err);
    // Names that meet only on Windows are --check's to tell: the listing
    // shows the dump as it restores here.
    report_collision(platform, walk, walk.collision(refused), false, err);
    write_entry(walk, out);
    const std::uint64_t missing = walk.skip_body();
    if (missing > 0) report_content_short(walk, missing, err);
  }
  if (walk.nodes_failed()) report_nodes_failed(platform, err);
  if (walk.stray_bytes() > 0) nodes_stray_line(err, walk.stray_bytes());
  platform.console_flush();
  return kExitDone;
}
