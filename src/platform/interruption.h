// How the program meets the signals that end or disturb a run.
//
// SIGINT, SIGTERM and SIGHUP (on Windows Ctrl+C, Ctrl+Break and the console
// closing) end the process as the signal would, so the shell sees 128 + the
// signal number (Windows: the Ctrl+C exit code). Before that the handler
// says the run's last words, if the run has registered any, and ends the
// console line with a line feed while the run keeps one open. The log needs
// nothing more: every other line is already in the file.
//
// The last words run once, on POSIX inside the signal handler and on
// Windows on the console's handler thread with the main thread stopped, so
// the main thread never runs again afterwards and its buffers may be used.
// Helper threads are started with the signals held (hold_interruptions), so
// on POSIX the handler runs on the main thread too; they may go on running.
// The last words may only compute over memory the program owns and write through
// handles: no allocation, no standard I/O, no locks.
#pragma once

#include <atomic>

using LastWords = void (*)();

inline std::atomic<LastWords> g_last_words{nullptr};
inline std::atomic<bool> g_console_line_open{false};

// nullptr: none.
inline void set_last_words(LastWords words) { g_last_words.store(words); }
// Whether the console shows a line without its line feed (the progress line).
inline void set_console_line_open(bool open) { g_console_line_open.store(open); }

// For the handlers.
inline void say_last_words() {
  const LastWords words = g_last_words.exchange(nullptr);
  if (words != nullptr) words();
}
// True once, while the console line is open.
inline bool take_console_line() { return g_console_line_open.exchange(false); }

// POSIX: a closed standard output (SIGPIPE) and a file-size limit (SIGXFSZ)
// no longer end the process, the failing write reports them instead; and
// the three signals above are caught. (Windows: Win32Platform's own.)
void catch_interruptions();
// Blocks or unblocks the three signals on the calling thread.
void hold_interruption_signals(bool held);
