// The program's exit statuses, for every mode.
#pragma once

constexpr int kExitDone = 0;           // the dump was read to its end; with --check: consistent
constexpr int kExitStartFailed = 1;    // a stream, the log or the target could not be opened
constexpr int kExitUsage = 1;          // the command line is wrong (an unknown option, say)
constexpr int kExitLogIncomplete = 2;  // a line could not be written to "$errors"
constexpr int kExitOutputFailed = 2;   // --list, --check: standard output could not be written
// --check found problems, --compare found differences, an --only path
// matched nothing, or with --strict the log got lines.
constexpr int kExitDumpProblems = 3;
// Interrupted: 128 + the signal (130 SIGINT, 143 SIGTERM, 129 SIGHUP); on
// Windows the Ctrl+C exit code. Set by the system, see platform/interruption.h.
