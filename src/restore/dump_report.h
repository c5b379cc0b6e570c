// The lines --list and --check write about a dump's faults, in the words of
// the restore's log, each naming the entry by its path inside the dump.
#pragma once

#include <cstdint>

#include "report/line_out.h"
#include "restore/dump_walk.h"

// A depth the restore cannot follow as the tree's order: one line, or none
// when the depth is in order.
void report_depth_fault(const DumpWalk& walk, LineOut& err);
// A name the restore would refuse here, with the head of the line the log
// would hold for the entry.
void report_refused_name(const DumpWalk& walk, LineOut& err);
void report_content_short(const DumpWalk& walk, std::uint64_t missing, LineOut& err);
void report_names_ended(LineOut& err);
void report_nodes_stray(const DumpWalk& walk, LineOut& err);
