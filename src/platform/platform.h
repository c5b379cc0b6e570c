// The narrow set of operating-system services the restorer uses. Everything
// the program knows about files, directories, the command line, the console,
// clocks and error texts goes through this interface, so the restore logic is
// the same on every system and can run against an in-memory fake in tests.
//
// Entries of the target are reached only through open directory handles:
// every operation on an entry names it by its bare name inside a directory
// that was opened before, never by a path and never through the process's
// current directory. The rules of what may be created, replaced or entered
// live above this interface (EntryGuard): the operations here report what
// the system did and what it says an entry is, and decide nothing.
#pragma once

#include <cstdint>

#include "platform/entry_name.h"
#include "platform/filetime.h"

// An open file or directory, or none. Every failed open yields none.
struct Handle {
  std::intptr_t raw = -1;
  bool valid() const { return raw != -1; }
  static Handle none() { return Handle{}; }
};

// Which file an open handle or a name refers to: equal identities are the
// same file, whatever names lead to it.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t index = 0;
  bool operator==(const FileIdentity&) const = default;
};

// What a name in a directory is, looked at without following it.
enum class EntryKind {
  kAbsent,
  kFile,
  kDirectory,
  kLink,   // a symbolic link or junction; removing it removes the link itself
  kOther,  // a FIFO, socket or device: removable, never opened
};

struct EntryInfo {
  EntryKind kind = EntryKind::kAbsent;
  FileIdentity identity;
  // The attribute word the system keeps for the entry (Windows: read-only,
  // hidden, system, ...); 0 where the system keeps none.
  std::uint32_t attributes = 0;
  // False when the system showed something else than the entry itself: it
  // followed a link to describe it.
  bool shown_as_itself = true;
  // For a file: its size, last-write time and number of names, as the
  // system keeps them; and which bits of `attributes` it could tell without
  // opening the file (Windows: every settable one; POSIX: the read-only bit,
  // from the write permissions).
  std::uint64_t size = 0;
  UnixTime write_time = {0, 0};
  std::uint32_t links = 1;
  std::uint16_t attributes_told = 0;
};

// A thread the process started, for join_thread().
struct ThreadRef {
  std::intptr_t raw = 0;
};

// Whether a handle opened by a name shows that entry itself.
enum class Shown {
  kItself,
  kOther,    // what a link there leads to, or another entry swapped in
  kUnknown,  // the system cannot tell (Wine, past about 4,000 characters of path)
};

// What an open file or directory holds, as far as a restore sets it: for
// looking at a tree without changing it.
struct OpenState {
  bool directory = false;
  std::uint64_t size = 0;  // 0 for a directory
  UnixTime write_time = {0, 0};
  // The attribute word read back the way set_attr applies one, and the bits
  // of it the system can tell (0 where it keeps none of them).
  std::uint16_t attributes = 0;
  std::uint16_t attributes_kept = 0;
};

// One step through a directory's listing.
enum class Listed { kName, kEnd, kFailed };

// The system's code for a failed operation, as last_error() gives it; only
// error_text() makes sense of it.
struct SystemError {
  std::uint32_t code = 0;
};

// read() returns this when the read failed, as opposed to the stream ending.
constexpr std::uint32_t kReadFailed = 0xFFFFFFFFu;

// Moving one block of a body: how many bytes were taken from the source and
// whether all of them reached the destination.
struct CopyResult {
  std::uint32_t taken = 0;
  bool written = true;
};

// Every operation is pure: an implementation, and a test's wrapper around
// one, says what each does, so none is dropped by a default.
//
// Threads. The reading thread may call every operation. While a restore has
// writer threads, they call these at the same time as the reading thread
// and as one another: create_file in a directory held open for them, with
// failed_because_exists and inspect after a failed one; write, set_attr,
// set_times and close on their own files, and set_times and close on a held
// directory once its last file is done; read_at and copy_at (move_at) on the
// content stream, which all of them read at once; write to the log and the
// report, one thread at a time in turn; error_write, beside the reading
// thread's console_write; and last_error, error_text and error_code_system.
// Each of those must be safe at once. What last_error and
// failed_because_exists tell is the calling thread's own last failure: a
// call on another thread never changes it. Everything else, threads and
// interruptions included, only the reading thread calls.
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

  // Console output. Text is written as given; console_write_arg writes
  // argument i as the user typed it; console_flush pushes the output out.
  // Failures (a closed pipe, a console that went away) are dropped: the
  // restore never stops for its console.
  virtual void console_write(const char* text, std::uint32_t length) = 0;
  virtual void console_write_arg(int i) = 0;
  virtual void console_flush() = 0;
  // Standard error, unbuffered; failures are dropped.
  virtual void error_write(const char* text, std::uint32_t length) = 0;
  // True when writing to standard output failed for another reason than a
  // reader that went away (a closed pipe ends the output quietly): a full
  // disk, say; *why is the first such failure. Only the inspection asks.
  virtual bool console_failed(SystemError* why) = 0;

  // The directory the program was started in, and the directory named by
  // argument i (followed if it is a link: the user named it), opened so
  // entries can be made in them.
  virtual Handle open_start_dir() = 0;
  virtual Handle open_target(int i) = 0;
  // Opens a dump stream for reading. The path may be absolute or relative
  // to the starting directory.
  virtual Handle open_stream(const char16_t* path) = 0;
  // Opens the directory that holds the last component of path (absolute,
  // or relative to the starting directory) as open_target opens one, links
  // on the way followed, and points *last at that component inside path:
  // empty when path ends with a separator.
  virtual Handle open_parent(const char16_t* path, const char16_t** last) = 0;

  // Creates a new file in dir for writing. Fails when anything of that name
  // exists (then failed_because_exists() is true), and never follows a link.
  virtual Handle create_file(Handle dir, const char16_t* name) = 0;
  // Creates a new directory in dir and opens it. Fails when anything of that
  // name exists (then failed_because_exists() is true). *made tells whether
  // the directory was created, also when it could then not be opened.
  virtual Handle make_dir(Handle dir, const char16_t* name, bool* made) = 0;
  // Opens an existing directory in dir, so entries can be made in it and,
  // where the system allows, its times set. Fails for a link or anything
  // that is not a directory: a link is never followed.
  virtual Handle open_dir(Handle dir, const char16_t* name) = 0;
  // Opens an existing file in dir for reading only. Fails for a link: a
  // link is never followed. A directory may open (POSIX), and then its first
  // read fails ("Is a directory"), so a caller that reads learns it at no
  // cost to every file.
  virtual Handle open_file_read(Handle dir, const char16_t* name) = 0;
  // The size, last-write time and attribute word of an open file or
  // directory, as the system keeps them.
  virtual bool describe_open(Handle h, OpenState* out) = 0;
  // The names in dir, "." and ".." left out, one per next_listed(), through
  // a handle of its own that close() ends. One listing is read at a time.
  virtual Handle open_listing(Handle dir) = 0;
  // Puts the next name, terminated, into name (empty when it does not fit
  // capacity).
  virtual Listed next_listed(Handle listing, char16_t* name, std::uint32_t capacity) = 0;
  // Looks at what a name in dir is, without following it. False only when
  // the system cannot tell; a missing name is kAbsent.
  virtual bool inspect(Handle dir, const char16_t* name, EntryInfo* info) = 0;
  // Removes a name in dir that is not a directory: a link itself, never its
  // target; a file with other names keeps them.
  virtual bool remove_file(Handle dir, const char16_t* name) = 0;
  // Gives the entry `from` in dir the name `to` in dir, replacing what had
  // it unless that is a directory: a link itself, never what it leads to.
  virtual bool rename_file(Handle dir, const char16_t* from, const char16_t* to) = 0;
  virtual bool identity(Handle h, FileIdentity* out) = 0;
  // Whether the open handle `entry`, opened by `name` in dir, is that entry
  // itself and not what a link there leads to. Always itself where opening
  // a name never follows a link.
  virtual Shown shows_entry(Handle dir, const char16_t* name, Handle entry) = 0;
  // True when the calling thread's last failed create_file or make_dir
  // failed because the name exists.
  virtual bool failed_because_exists() = 0;
  // The rules for names of entries on this system.
  virtual NameRules name_rules() = 0;
  // Whether two different names may reach one entry of dir (case folding,
  // normalization): true unless the system is known to compare names byte
  // for byte there. Directories made in dir compare names as dir does.
  virtual bool folds_names(Handle dir) = 0;

  // Reads what has arrived, up to count bytes: at least one byte unless the
  // stream has ended (0) or the read failed (kReadFailed). Before the end it
  // may return fewer than count (a pipe); it never waits for more than the
  // first byte.
  virtual std::uint32_t read(Handle h, void* buffer, std::uint32_t count) = 0;
  // Reads count bytes, waiting for all of them: fewer only when the stream
  // ends or a read fails first.
  std::uint32_t read_full(Handle h, void* buffer, std::uint32_t count) {
    std::uint32_t done = 0;
    while (done < count) {
      const std::uint32_t n = read(h, static_cast<char*>(buffer) + done, count - done);
      if (n == 0 || n == kReadFailed) break;
      done += n;
    }
    return done;
  }
  // Writes all count bytes; false when that fails or comes up short.
  virtual bool write(Handle h, const void* data, std::uint32_t count) = 0;
  // Moves up to count bytes from one open file to another, with buffer as
  // scratch where the system cannot move them itself. Takes from `from` as
  // read_full does, even when writing fails part-way, so the source stays
  // aligned; written is false when any byte did not reach `to`.
  virtual CopyResult copy_block(Handle from, Handle to, void* buffer, std::uint32_t count) = 0;
  // A file (not a pipe) can be read at any offset, by several threads at
  // once, with read_at and copy_at (the content stream, by the writers).
  // Those never rely on the handle's own position, and a reader that uses
  // them must use nothing else: on some systems they move that position.
  virtual bool reads_at_offsets(Handle h) = 0;
  // Reads count bytes starting at offset: fewer only at the end of the file
  // or when a read fails after some arrived; kReadFailed when the first
  // read fails.
  virtual std::uint32_t read_at(Handle h, std::uint64_t offset, void* buffer, std::uint32_t count) = 0;
  // copy_block of the count bytes of `from` starting at offset.
  virtual CopyResult copy_at(Handle from, std::uint64_t offset, Handle to, void* buffer, std::uint32_t count) = 0;
  // copy_at, or where `to` is none only read_at into the buffer: what a body
  // whose file failed still takes, to learn what the stream holds.
  CopyResult move_at(Handle from, std::uint64_t offset, Handle to, void* buffer, std::uint32_t count) {
    if (to.valid()) return copy_at(from, offset, to, buffer, count);
    const std::uint32_t got = read_at(from, offset, buffer, count);
    return CopyResult{got == kReadFailed ? 0 : got, true};
  }
  // Closes a handle; false when the system reports an error deferred to the
  // close (a write that failed late). Closing none does nothing.
  virtual bool close(Handle h) = 0;

  // Applied through the open handle. The access time is given apart from
  // the write time; the creation time is dropped where it cannot be set.
  virtual void set_times(Handle h, FileTime creation, FileTime access, FileTime write) = 0;
  // Applies a 16-bit attribute word to the open file or directory.
  virtual void set_attr(Handle h, std::uint16_t attr) = 0;

  // The failure of the operation above that failed last on the calling
  // thread, and the system's text for a failure, in the console's encoding,
  // zero-terminated and cut to fit capacity.
  virtual SystemError last_error() = 0;
  virtual void error_text(SystemError error, char* out, std::uint32_t capacity) = 0;
  // Whose codes SystemError holds, for a report a script reads: "errno"
  // or "win32".
  virtual const char* error_code_system() = 0;

  // This process's id: no other process running at the same time has it.
  virtual std::uint32_t process_id() = 0;
  // How many processors the process may run on, at least 1.
  virtual int processor_count() = 0;
  // How many handles the process may hold open at once, once it has raised
  // its own limit as far as the system lets it; 0: no limit that matters.
  virtual std::uint32_t handle_limit() = 0;
  // Starts a thread running body(arg): false, with last_error(), when the
  // system cannot start one (a process or memory limit). join_thread waits
  // for a started thread to end.
  virtual bool start_thread(void (*body)(void*), void* arg, ThreadRef* out) = 0;
  virtual void join_thread(ThreadRef thread) = 0;
  // While held, an interruption is not taken on this thread, nor on the
  // threads it starts: held around starting helper threads, so the thread
  // that speaks the run's last words is the one that owns their buffers.
  virtual void hold_interruptions(bool held) = 0;

  // Milliseconds since an arbitrary start, wrapping at 2^32.
  virtual std::uint32_t tick_ms() = 0;
  // A fast, monotonic processor cycle count.
  virtual std::uint64_t cycles() = 0;

  // Extra spelling of the help switch on this system ("/?"), or nullptr.
  virtual const char* native_help_switch() = 0;

  // For looking into a dump without restoring it: the separator shown
  // between the components of a path, and whether a path (absolute or
  // relative) names an existing directory.
  virtual char path_separator() = 0;
  virtual bool path_is_directory(const char16_t* path) = 0;
};
