// The program's exit statuses, for every mode.
#pragma once

constexpr int kExitDone = 0;          // the dump was read to its end; with --check: consistent
constexpr int kExitStartFailed = 1;   // a stream, the log or the target could not be opened
constexpr int kExitLogIncomplete = 2;  // a line could not be written to "$errors"
constexpr int kExitDumpProblems = 3;  // --check found problems
