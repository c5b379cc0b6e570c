// fsrestore --check BASEPATH: reads the whole dump without writing anything
// and tells whether it would restore cleanly. Each problem is one line on
// standard error; standard output gets the summary line
// "dirs=D files=F bytes=B problems=P".
#pragma once

#include "platform/platform.h"
#include "report/line_writer.h"
#include "inspect/dump_walk.h"

// Returns the exit status: 0 when the dump is consistent, 1 when it cannot
// be opened, 3 when problems were found. Quiet leaves out the warnings
// about what would not restore on another system (they never count).
int check_dump(Platform& platform, DumpWalk& walk, int base_arg, LineWriter& out, LineWriter& err,
               bool quiet = false);
