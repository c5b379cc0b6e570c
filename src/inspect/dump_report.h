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
void report_content_short(const DumpWalk& walk, std::uint64_t missing, LineWriter& err);
