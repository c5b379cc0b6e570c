// The narrow set of operating-system services the restorer uses. Everything
// the program knows about files, directories, the command line, the console,
// clocks and error texts goes through this interface, so the restore logic is
// the same on every system and can run against an in-memory fake in tests.
#pragma once

#include <cstdint>

#include "platform/entry_name.h"

// 100-nanosecond intervals since 1601-01-01 UTC.
using FileTime = std::uint64_t;

// An open file or directory, or none. Every failed open yields none.
struct Handle {
  std::intptr_t raw = -1;
  bool valid() const { return raw != -1; }
  static Handle none() { return Handle{}; }
};

class Platform {
 public:
  virtual ~Platform() = default;

  // Command line: the arguments after the program name.
  virtual int arg_count() = 0;
  // True when argument i is exactly the given ASCII text.
  virtual bool arg_is(int i, const char* ascii) = 0;
  // Converts argument i to UTF-16 with its terminator into out. Returns the
  // units written, terminator included, or 0 when it does not fit.
  virtual std::uint32_t arg_to_name(int i, char16_t* out, std::uint32_t capacity) = 0;
  // Makes the directory named by argument i the current directory.
  virtual bool enter_target(int i) = 0;

  // Console output. Text is written as given; console_write_arg writes
  // argument i as the user typed it. console_flush pushes the output out when
  // standard output is a terminal and does nothing when it is redirected.
  virtual void console_write(const char* text, std::uint32_t length) = 0;
  virtual void console_write_arg(int i) = 0;
  virtual void console_flush() = 0;

  // Opens a dump stream for reading. The path may be absolute or relative.
  // Streams opened here, and the log, are protected: create_file refuses to
  // replace them.
  virtual Handle open_stream(const char16_t* path) = 0;
  // Creates the log file "$errors" in the current directory, discarding any
  // earlier content.
  virtual Handle create_log() = 0;
  // Creates a file by bare name in the current directory for writing,
  // replacing an existing file or link of that name (never writing through a
  // link). Fails for a directory of that name and for an invalid name.
  virtual Handle create_file(const char16_t* name) = 0;
  // Opens an existing directory by bare name so its times can be set.
  // A link is never followed.
  virtual Handle open_dir(const char16_t* name) = 0;

  // Reads up to count bytes; returns the bytes delivered, 0 at the end or on
  // failure.
  virtual std::uint32_t read(Handle h, void* buffer, std::uint32_t count) = 0;
  virtual void write(Handle h, const void* data, std::uint32_t count) = 0;
  // Moves up to count bytes from one open file to another, using buffer as
  // scratch where the system cannot move them itself. Returns the bytes taken
  // from `from`; fewer than count only at its end. Failures to write are not
  // reported, as with write.
  virtual std::uint32_t copy_block(Handle from, Handle to, void* buffer, std::uint32_t count) = 0;
  virtual void close(Handle h) = 0;

  // Creates a directory by bare name. Fails when anything of that name exists
  // and for an invalid name.
  virtual bool make_dir(const char16_t* name) = 0;
  // Applies a 16-bit attribute word to the entry of that name.
  virtual void set_attr(const char16_t* name, std::uint16_t attr) = 0;
  virtual void set_times(Handle h, FileTime creation, FileTime access, FileTime write) = 0;
  // Enters a directory by bare name. A link is never followed, and an
  // invalid name (".." among them) is refused without touching the disk.
  virtual bool enter_dir(const char16_t* name) = 0;
  // Enters the parent of the current directory.
  virtual bool leave_dir() = 0;

  // The system's text for the last failure of an operation above, in the
  // console's encoding, zero-terminated and cut to fit capacity.
  virtual void error_text(char* out, std::uint32_t capacity) = 0;

  // Milliseconds since an arbitrary start, wrapping at 2^32.
  virtual std::uint32_t tick_ms() = 0;
  // A fast, monotonic processor cycle count.
  virtual std::uint64_t cycles() = 0;
  // True when cycles() is read_time_stamp_counter(), which a per-record path
  // may then call inline instead.
  virtual bool cycles_are_time_stamp_counter() = 0;

  // Extra spelling of the help switch on this system ("/?"), or nullptr.
  virtual const char* native_help_switch() = 0;

  // For looking into a dump without restoring it:
  // the rules by which create_file, make_dir and enter_dir refuse a name;
  virtual NameRules name_rules() = 0;
  // the separator shown between the components of a path;
  virtual char path_separator() = 0;
  // whether a path (absolute or relative) names an existing directory;
  virtual bool path_is_directory(const char16_t* path) = 0;
  // text for standard error, written as given and at once.
  virtual void error_write(const char* text, std::uint32_t length) = 0;
};
