// How the program meets the signals that end or disturb a run (POSIX).
#pragma once

// A closed standard output (SIGPIPE) and a file-size limit (SIGXFSZ) no
// longer end the process: the failing write reports them instead. SIGINT,
// SIGTERM and SIGHUP end the console line with a line feed and then end the
// process as the signal would, so the shell sees 128 + the signal number.
// The log needs nothing here: every line is already in the file.
void catch_interruptions();
