// fsrestore --check BASEPATH: reads the whole dump without writing anything
// and tells whether it would restore cleanly. Each problem is one line on
// standard error; standard output gets the summary line
// "dirs=D files=F bytes=B problems=P".
#pragma once

#include "platform/platform.h"
#include "report/line_out.h"
#include "restore/dump_walk.h"

// Returns the exit status: 0 when the dump is consistent, 1 when it cannot
// be opened, 3 when problems were found.
int check_dump(Platform& platform, DumpWalk& walk, LineOut& out, LineOut& err);
