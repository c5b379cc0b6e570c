// fsrestore --list BASEPATH: one line per record on standard output, what
// the restore would stumble over on standard error; nothing is written to
// disk, not even the log.
#pragma once

#include "platform/platform.h"
#include "report/line_writer.h"
#include "inspect/dump_walk.h"

// Returns the exit status: 0 when the dump was read to its end, 1 when it
// could not be opened.
int list_dump(Platform& platform, DumpWalk& walk, int base_arg, LineWriter& out, LineWriter& err);
