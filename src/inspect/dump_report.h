// The lines --list and --check write about a dump's faults, in the words of
// the restore's log, each naming the entry by its path inside the dump.
#pragma once

#include <cstdint>

#include "inspect/dump_walk.h"
#include "report/line_writer.h"

// A depth the restore cannot follow as the tree's order: one line, or none
// when the depth is in order.
void report_depth_fault(const DumpWalk& walk, LineWriter& err);
// A name the restore would refuse here, in the line the log would hold for
// the entry.
void report_refused_name(Platform& platform, const DumpWalk& walk, LineWriter& err);
// A name that meets an earlier one in its directory. Returns true when that
// is a problem here: the same name anywhere, names that differ only in case
// on Windows (elsewhere, where the dump restores whole, a warning, told only
// with `windows_warnings`). A directory whose names are no longer kept is a
// warning, told once.
bool report_collision(Platform& platform, const DumpWalk& walk, Collision collision, bool windows_warnings,
                      LineWriter& err);
// Why the names ran out before the records: ended, failed or a line that
// never ends. One line in every case.
void report_names_stop(Platform& platform, const DumpWalk& walk, LineWriter& err);
// Reading the node stream failed: the restore ends there too.
void report_nodes_failed(Platform& platform, LineWriter& err);
void report_content_short(const DumpWalk& walk, std::uint64_t missing, LineWriter& err);
