#include "platform/platform_win32.h"

#include <fcntl.h>
#include <io.h>
#include <winternl.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "platform/interruption.h"
#include "platform/time_stamp_counter.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 names are handed to the system as they are");

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The NT status codes the platform tells apart (<ntstatus.h> clashes with
// <windows.h>).
constexpr NTSTATUS kStatusNameCollision = static_cast<NTSTATUS>(0xC0000035);
constexpr NTSTATUS kStatusNameNotFound = static_cast<NTSTATUS>(0xC0000034);
constexpr NTSTATUS kStatusPathNotFound = static_cast<NTSTATUS>(0xC000003A);
constexpr NTSTATUS kStatusNoMoreFiles = static_cast<NTSTATUS>(0x80000006);
constexpr FILE_INFORMATION_CLASS kFileBasicInformation = static_cast<FILE_INFORMATION_CLASS>(4);
constexpr FILE_INFORMATION_CLASS kFileStandardInformation = static_cast<FILE_INFORMATION_CLASS>(5);
constexpr FILE_INFORMATION_CLASS kFileNamesInformation = static_cast<FILE_INFORMATION_CLASS>(12);
constexpr FILE_INFORMATION_CLASS kFileInternalInformation = static_cast<FILE_INFORMATION_CLASS>(6);
constexpr FILE_INFORMATION_CLASS kFileRenameInformation = static_cast<FILE_INFORMATION_CLASS>(10);
constexpr DWORD kExitInterrupted = 0xC000013A;  // the status of a program ended by Ctrl+C

// A directory handle that can hold entries made inside it and serve as the
// root of relative opens.
constexpr ACCESS_MASK kDirLookup = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
// A directory made by the restore: also its times and attributes are set
// through the handle.
constexpr ACCESS_MASK kDirMade = kDirLookup | FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_WRITE_ATTRIBUTES;
constexpr ACCESS_MASK kFileMade = GENERIC_WRITE | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE;

// The attribute bits a program may set; the rest (directory, reparse point,
// compressed, encrypted, ...) the system keeps for itself.
constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                      FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY |
                                      FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

HANDLE native(Handle h) { return reinterpret_cast<HANDLE>(h.raw); }
Handle wrap(HANDLE h) { return Handle{reinterpret_cast<std::intptr_t>(h)}; }
const wchar_t* wide(const char16_t* s) { return reinterpret_cast<const wchar_t*>(s); }

FILETIME filetime(FileTime t) {
  FILETIME f;
  f.dwLowDateTime = static_cast<DWORD>(t);
  f.dwHighDateTime = static_cast<DWORD>(t >> 32);
  return f;
}

// A handle's name as the system knows it, of any length the system reports.
struct ObjectName {
  union {
    OBJECT_NAME_INFORMATION info;
    unsigned char bytes[sizeof(OBJECT_NAME_INFORMATION) + 65536];
  };
  bool query(HANDLE h) {
    ULONG length = 0;
    return NtQueryObject(h, ObjectNameInformation, bytes, sizeof bytes, &length) >= 0 && info.Name.Buffer != nullptr;
  }
};

// Not declared by <winternl.h>; exported by ntdll.
extern "C" NTSTATUS NTAPI NtQueryDirectoryFile(HANDLE file, HANDLE event, PIO_APC_ROUTINE apc, PVOID apc_context,
                                               PIO_STATUS_BLOCK io, PVOID buffer, ULONG length,
                                               FILE_INFORMATION_CLASS information_class, BOOLEAN single_entry,
                                               PUNICODE_STRING file_name, BOOLEAN restart_scan);

// One entry of a directory as its listing shows it: the entry itself, not
// what a link there leads to, at any depth.
struct ListedEntry {
  union {
    FILE_ID_BOTH_DIR_INFORMATION info;
    unsigned char bytes[sizeof(FILE_ID_BOTH_DIR_INFORMATION) + 2 * 32768];
  };
  // A directory handle keeps the name pattern of its first listing, so each
  // query lists through a handle of its own, reopened from dir.
  bool query(HANDLE dir, const wchar_t* name) {
    wchar_t dot[] = L".";
    UNICODE_STRING none = {2, 4, dot};
    OBJECT_ATTRIBUTES object;
    InitializeObjectAttributes(&object, &none, 0, dir, nullptr);
    IO_STATUS_BLOCK io;
    HANDLE listing = nullptr;
    if (NtCreateFile(&listing, FILE_LIST_DIRECTORY | SYNCHRONIZE, &object, &io, nullptr, 0,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
                     FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0) < 0) {
      return false;
    }
    UNICODE_STRING mask;
    mask.Buffer = const_cast<wchar_t*>(name);
    mask.Length = static_cast<USHORT>(wcslen(name) * sizeof(wchar_t));
    mask.MaximumLength = mask.Length;
    const NTSTATUS status = NtQueryDirectoryFile(listing, nullptr, nullptr, nullptr, &io, bytes, sizeof bytes,
                                                 FileIdBothDirectoryInformation, TRUE, &mask, TRUE);
    CloseHandle(listing);
    return status >= 0;
  }
};

// The failure of the last failed call, per thread.
thread_local DWORD last_error_ = 0;
// Whether the last failed creation met an existing name, per thread.
thread_local bool exists_ = false;

// The listing being read: a block of FILE_NAMES_INFORMATION entries.
struct NamesListing {
  struct Entry {
    ULONG next;  // bytes to the next entry, 0 for the last of the block
    ULONG index;
    ULONG name_bytes;
    WCHAR name[1];
  };
  HANDLE handle = nullptr;
  ULONG at = 0;
  bool held = false;  // the block holds entries not yet taken
  alignas(8) unsigned char bytes[65536];
};
NamesListing g_listing;

// The times, attributes, size and kind of an open handle, asked of the
// handle alone: Wine answers these at any depth, where the calls that also
// name the file give up past about 4,000 characters of path.
struct HandleFacts {
  struct {
    LARGE_INTEGER creation, access, write, change;
    ULONG attributes;
  } basic;  // FILE_BASIC_INFORMATION
  struct {
    LARGE_INTEGER allocation, end;
    ULONG links;
    BOOLEAN delete_pending, directory;
  } standard;  // FILE_STANDARD_INFORMATION
  NTSTATUS query(HANDLE h) {
    IO_STATUS_BLOCK io;
    NTSTATUS status = NtQueryInformationFile(h, &io, &basic, sizeof basic, kFileBasicInformation);
    if (status >= 0) status = NtQueryInformationFile(h, &io, &standard, sizeof standard, kFileStandardInformation);
    return status;
  }
};

// The main thread, stopped while the handler speaks for the run.
HANDLE g_main_thread = nullptr;

// Runs on a thread of its own: the main thread is stopped first, so the
// last words see the run as a signal handler would and nothing writes after
// them.
BOOL WINAPI end_on_interruption(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
  if (g_main_thread != nullptr) SuspendThread(g_main_thread);
  say_last_words();
  // Straight to the handle, past the runtime's buffer: the main thread may
  // be inside it. Every log line is already on disk, so nothing is flushed.
  if (take_console_line()) {
    DWORD written;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "\n", 1, &written, nullptr);
  }
  TerminateProcess(GetCurrentProcess(), kExitInterrupted);
  return TRUE;
}

}  // namespace

Win32Platform::Win32Platform(int argc, wchar_t** argv) : argc_(argc), argv_(argv) {
  // Line ends go out as single line feeds, the same bytes on every system.
  _setmode(_fileno(stdout), _O_BINARY);
  DWORD mode;
  stdout_is_console_ = GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

void Win32Platform::catch_interruptions() {
  DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &g_main_thread,
                  THREAD_SUSPEND_RESUME, FALSE, 0);
  SetConsoleCtrlHandler(end_on_interruption, TRUE);
}
bool Win32Platform::failed_because_exists() { return exists_; }

SystemError Win32Platform::last_error() { return {static_cast<std::uint32_t>(last_error_)}; }

// The processors of the process's affinity mask (one processor group).
int Win32Platform::processor_count() {
  DWORD_PTR process = 0, system = 0;
  if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system) || process == 0) {
    const DWORD active = GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
    return active > 0 ? static_cast<int>(active) : 1;
  }
  int count = 0;
  for (; process != 0; process &= process - 1) ++count;
  return count;
}


int Win32Platform::arg_count() { return argc_ > 1 ? argc_ - 1 : 0; }

bool Win32Platform::arg_is(int i, const char* ascii) {
  const wchar_t* a = argv_[i + 1];
  for (; *ascii != 0; ++a, ++ascii) {
    if (*a != static_cast<wchar_t>(*ascii)) return false;
  }
  return *a == 0;
}

std::uint32_t Win32Platform::arg_to_name(int i, char16_t* out, std::uint32_t capacity) {
  const std::size_t length = wcslen(argv_[i + 1]);
  if (length + 1 > capacity) return 0;
  std::memcpy(out, argv_[i + 1], (length + 1) * sizeof(wchar_t));
  return static_cast<std::uint32_t>(length + 1);
}

void Win32Platform::console_write(const char* text, std::uint32_t length) {
  console_written(std::fwrite(text, 1, length, stdout) == length);
}

// On a console the argument is shown exactly; redirected, in the console's
// code page.
void Win32Platform::console_write_arg(int i) {
  const wchar_t* arg = argv_[i + 1];
  if (stdout_is_console_) {
    std::fflush(stdout);
    DWORD written;
    WriteConsoleW(GetStdHandle(STD_OUTPUT_HANDLE), arg, static_cast<DWORD>(wcslen(arg)), &written, nullptr);
    return;
  }
  static thread_local char text[4 * 32768];
  const int n = WideCharToMultiByte(CP_OEMCP, 0, arg, -1, text, sizeof text, nullptr, nullptr);
  if (n <= 1) return;
  const std::size_t length = static_cast<std::size_t>(n - 1);
  console_written(std::fwrite(text, 1, length, stdout) == length);
}

// Always pushed out, also when redirected: prints are rare, and an
// interrupted run then leaves everything shown so far.
void Win32Platform::console_flush() { console_written(std::fflush(stdout) == 0); }

// The runtime keeps the system's code of the failed write in _doserrno.
void Win32Platform::console_written(bool ok) {
  if (ok || console_error_ != 0) return;
  const DWORD code = static_cast<DWORD>(_doserrno);
  if (code == ERROR_BROKEN_PIPE || code == ERROR_NO_DATA || code == ERROR_PIPE_NOT_CONNECTED) return;
  console_error_ = code != 0 ? code : ERROR_WRITE_FAULT;
}

bool Win32Platform::console_failed(SystemError* why) {
  why->code = static_cast<std::uint32_t>(console_error_);
  return console_error_ != 0;
}

void Win32Platform::error_write(const char* text, std::uint32_t length) {
  const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  while (length > 0) {
    DWORD written = 0;
    if (!WriteFile(err, text, length, &written, nullptr) || written == 0) return;
    text += written;
    length -= written;
  }
}

bool Win32Platform::fail() { return fail_with(GetLastError()); }

bool Win32Platform::fail_with(DWORD error) {
  last_error_ = error;
  return false;
}

Handle Win32Platform::handle_or_fail(HANDLE h) {
  if (h == INVALID_HANDLE_VALUE || h == nullptr) {
    fail();
    return Handle::none();
  }
  return wrap(h);
}

// A directory the user named: links on the way are followed.
Handle Win32Platform::open_directory(const wchar_t* path) {
  const Handle dir = handle_or_fail(
      CreateFileW(path, kDirLookup, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!dir.valid()) return dir;
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileInformationByHandle(native(dir), &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return dir;
  }
  CloseHandle(native(dir));
  fail_with(ERROR_DIRECTORY);
  return Handle::none();
}

Handle Win32Platform::open_start_dir() { return open_directory(L"."); }

Handle Win32Platform::open_target(int i) { return open_directory(argv_[i + 1]); }

Handle Win32Platform::open_stream(const char16_t* path) {
  return handle_or_fail(CreateFileW(wide(path), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
}

// Either slash separates, and a drive's colon ends the directory part
// ("C:log" is "log" in drive C's current directory); the part keeps its
// separator, so "\log" opens the root. Only the thread that starts the run
// opens one.
Handle Win32Platform::open_parent(const char16_t* path, const char16_t** last) {
  static wchar_t parent[32768];
  std::size_t keep = 0;
  for (std::size_t i = 0; path[i] != 0; ++i) {
    if (path[i] == u'\\' || path[i] == u'/' || (i == 1 && path[i] == u':')) keep = i + 1;
  }
  *last = path + keep;
  if (keep >= sizeof parent / sizeof parent[0]) {
    fail_with(ERROR_FILENAME_EXCED_RANGE);
    return Handle::none();
  }
  std::memcpy(parent, path, keep * sizeof(wchar_t));
  parent[keep] = 0;
  return open_directory(keep > 0 ? parent : L".");
}

// Names are matched without regard to case, as the Win32 calls match them.
Handle Win32Platform::open_relative(Handle dir, const char16_t* name, ACCESS_MASK access, ULONG attributes,
                                    ULONG disposition, ULONG options) {
  exists_ = false;
  const std::size_t length = wcslen(wide(name));
  if (length == 0 || length > 0x7FFF) {
    fail_with(ERROR_INVALID_NAME);
    return Handle::none();
  }
  UNICODE_STRING unicode_name;
  unicode_name.Buffer = const_cast<wchar_t*>(wide(name));
  unicode_name.Length = static_cast<USHORT>(length * sizeof(wchar_t));
  unicode_name.MaximumLength = unicode_name.Length;
  OBJECT_ATTRIBUTES object;
  InitializeObjectAttributes(&object, &unicode_name, OBJ_CASE_INSENSITIVE, native(dir), nullptr);
  IO_STATUS_BLOCK io;
  HANDLE h = nullptr;
  const NTSTATUS status = NtCreateFile(&h, access, &object, &io, nullptr, attributes, kShareAll, disposition,
                                       options | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
  if (status >= 0) return wrap(h);
  exists_ = status == kStatusNameCollision;
  last_error_ = RtlNtStatusToDosError(status);
  return Handle::none();
}

Handle Win32Platform::create_file(Handle dir, const char16_t* name) {
  return open_relative(dir, name, kFileMade, FILE_ATTRIBUTE_NORMAL, FILE_CREATE,
                       FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT);
}

// Made and opened in one call: the handle is the new directory.
Handle Win32Platform::make_dir(Handle dir, const char16_t* name, bool* made) {
  const Handle h = open_relative(dir, name, kDirMade, FILE_ATTRIBUTE_NORMAL, FILE_CREATE,
                                 FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT);
  *made = h.valid();
  return h;
}

// The opened handle's own attributes tell a junction or directory link from
// a directory: a link is not opened as a directory.
Handle Win32Platform::open_dir(Handle dir, const char16_t* name) {
  constexpr ULONG kOptions = FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT;
  Handle opened = open_relative(dir, name, kDirLookup | FILE_WRITE_ATTRIBUTES, 0, FILE_OPEN, kOptions);
  // Where the times may not be set, the directory can still be entered.
  if (!opened.valid() && last_error_ == ERROR_ACCESS_DENIED) {
    opened = open_relative(dir, name, kDirLookup, 0, FILE_OPEN, kOptions);
  }
  if (!opened.valid()) return opened;
  HandleFacts facts;
  if (facts.query(native(opened)) >= 0 && !(facts.basic.attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return opened;
  CloseHandle(native(opened));
  fail_with(ERROR_CANT_ACCESS_FILE);
  return Handle::none();
}

Handle Win32Platform::open_file_read(Handle dir, const char16_t* name) {
  return open_relative(dir, name, GENERIC_READ | SYNCHRONIZE, 0, FILE_OPEN,
                       FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT | FILE_SEQUENTIAL_ONLY);
}

// The settable bits are the ones set_attr applies; the rest the system keeps.
bool Win32Platform::describe_open(Handle h, OpenState* out) {
  HandleFacts facts;
  const NTSTATUS status = facts.query(native(h));
  if (status < 0) return fail_with(RtlNtStatusToDosError(status));
  *out = OpenState{};
  out->directory = facts.standard.directory != 0 || (facts.basic.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (!out->directory) out->size = static_cast<std::uint64_t>(facts.standard.end.QuadPart);
  out->write_time = filetime_to_unix(static_cast<std::uint64_t>(facts.basic.write.QuadPart));
  out->attributes = static_cast<std::uint16_t>(facts.basic.attributes & kSettableAttributes);
  out->attributes_kept = static_cast<std::uint16_t>(kSettableAttributes);
  return true;
}

// Each listing goes through a handle of its own (a directory handle keeps
// the name pattern of its first listing): an empty name relative to dir
// opens that directory again.
Handle Win32Platform::open_listing(Handle dir) {
  wchar_t none[] = L"";
  UNICODE_STRING self = {0, 2, none};
  OBJECT_ATTRIBUTES object;
  InitializeObjectAttributes(&object, &self, 0, native(dir), nullptr);
  IO_STATUS_BLOCK io;
  HANDLE listing = nullptr;
  const NTSTATUS status = NtCreateFile(&listing, FILE_LIST_DIRECTORY | SYNCHRONIZE, &object, &io, nullptr, 0,
                                       kShareAll, FILE_OPEN, FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT,
                                       nullptr, 0);
  if (status < 0) {
    fail_with(RtlNtStatusToDosError(status));
    return Handle::none();
  }
  g_listing.handle = listing;
  g_listing.held = false;
  return wrap(listing);
}

Listed Win32Platform::next_listed(Handle listing, char16_t* name, std::uint32_t capacity) {
  NamesListing& l = g_listing;
  if (l.handle != native(listing)) {
    l.handle = native(listing);
    l.held = false;
  }
  for (;;) {
    if (!l.held) {
      IO_STATUS_BLOCK io;
      const NTSTATUS status = NtQueryDirectoryFile(l.handle, nullptr, nullptr, nullptr, &io, l.bytes, sizeof l.bytes,
                                                   kFileNamesInformation, FALSE, nullptr, FALSE);
      if (status == kStatusNoMoreFiles) return Listed::kEnd;
      if (status < 0) return fail_with(RtlNtStatusToDosError(status)), Listed::kFailed;
      l.at = 0;
      l.held = true;
    }
    const auto* entry = reinterpret_cast<const NamesListing::Entry*>(l.bytes + l.at);
    if (entry->next == 0) {
      l.held = false;
    } else {
      l.at += entry->next;
    }
    const std::uint32_t units = entry->name_bytes / 2;
    const bool dots = (units == 1 && entry->name[0] == L'.') ||
                      (units == 2 && entry->name[0] == L'.' && entry->name[1] == L'.');
    if (dots) continue;
    if (units + 1 > capacity) {
      if (capacity > 0) name[0] = 0;
    } else {
      std::memcpy(name, entry->name, units * sizeof(char16_t));
      name[units] = 0;
    }
    return Listed::kName;
  }
}

// Where the system follows a link anyway (Wine), the handle opened by the
// name is the link's target. The parent's listing shows the entry itself:
// a link there is a reparse point, and a directory swapped in has another
// file id. Where the listing cannot be read, the handles' names are
// compared instead.
Shown Win32Platform::shows_entry(Handle dir, const char16_t* name, Handle entry) {
  static thread_local ListedEntry listed;
  FileIdentity id;
  DWORD attributes;
  bool pipe;
  if (!listed.query(native(dir), wide(name))) return named_as_entry(dir, name, entry);
  if (listed.info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return Shown::kOther;
  if (!describe(entry, &id, &attributes, &pipe)) return Shown::kUnknown;
  return id.index == static_cast<std::uint64_t>(listed.info.FileId.QuadPart) ? Shown::kItself : Shown::kOther;
}

// Wine cannot open a link itself (it follows it, and reports no reparse
// point): there the opened entry's name is the link's target, and the entry
// is reported as not shown as itself. So is an entry that opens but cannot
// be described or named (Wine, past about 4,000 characters of path).
bool Win32Platform::inspect(Handle dir, const char16_t* name, EntryInfo* info) {
  *info = EntryInfo{};
  const Handle entry =
      open_relative(dir, name, FILE_READ_ATTRIBUTES | SYNCHRONIZE, 0, FILE_OPEN, FILE_OPEN_REPARSE_POINT);
  if (!entry.valid()) {
    const DWORD not_found = RtlNtStatusToDosError(kStatusNameNotFound);
    const DWORD path_not_found = RtlNtStatusToDosError(kStatusPathNotFound);
    return last_error_ == not_found || last_error_ == path_not_found;
  }
  DWORD attributes = 0;
  bool pipe = false;
  const bool known = describe(entry, &info->identity, &attributes, &pipe);
  info->shown_as_itself = known && shows_entry(dir, name, entry) == Shown::kItself;
  HandleFacts facts;
  if (!pipe && facts.query(native(entry)) >= 0) {
    info->size = static_cast<std::uint64_t>(facts.standard.end.QuadPart);
    info->write_time = filetime_to_unix(static_cast<std::uint64_t>(facts.basic.write.QuadPart));
    info->links = facts.standard.links;
    info->attributes_told = static_cast<std::uint16_t>(kSettableAttributes);
  }
  CloseHandle(native(entry));
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    info->kind = EntryKind::kLink;
  } else if (pipe) {
    info->kind = EntryKind::kOther;
  } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    info->kind = EntryKind::kDirectory;
  } else {
    info->kind = EntryKind::kFile;
  }
  info->attributes = attributes;
  return true;
}

// The system's own names of both handles are compared (Win32's final-path
// call gives up beyond 260 characters under Wine). A name past the longest
// the system can report cannot be verified.
Shown Win32Platform::named_as_entry(Handle dir, const char16_t* name, Handle entry) {
  static thread_local ObjectName here, there;
  if (!here.query(native(dir)) || !there.query(native(entry))) return Shown::kUnknown;
  const UNICODE_STRING& d = here.info.Name;
  const UNICODE_STRING& e = there.info.Name;
  const int dir_units = d.Length / 2;
  const int name_units = static_cast<int>(wcslen(wide(name)));
  const bool separated = dir_units > 0 && d.Buffer[dir_units - 1] == L'\\';
  const int at = separated ? dir_units : dir_units + 1;
  if (e.Length / 2 != at + name_units) return Shown::kOther;
  if (!separated && e.Buffer[dir_units] != L'\\') return Shown::kOther;
  const bool same = CompareStringOrdinal(d.Buffer, dir_units, e.Buffer, dir_units, TRUE) == CSTR_EQUAL &&
                    CompareStringOrdinal(e.Buffer + at, name_units, wide(name), name_units, TRUE) == CSTR_EQUAL;
  return same ? Shown::kItself : Shown::kOther;
}

// The name goes when the handle closes; a link goes itself, and a file with
// other names keeps them.
bool Win32Platform::remove_file(Handle dir, const char16_t* name) {
  const Handle entry = open_relative(dir, name, DELETE | SYNCHRONIZE, 0, FILE_OPEN,
                                     FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT);
  if (!entry.valid()) return false;
  FILE_DISPOSITION_INFO disposition;
  disposition.DeleteFile = TRUE;
  bool marked = SetFileInformationByHandle(native(entry), FileDispositionInfo, &disposition, sizeof disposition);
  if (!marked) {
    // Wine opens a FIFO as a pipe and cannot remove it through the handle.
    const DWORD error = GetLastError();
    fail_with(GetFileType(native(entry)) == FILE_TYPE_PIPE ? ERROR_CANT_ACCESS_FILE : error);
  }
  const bool closed = CloseHandle(native(entry)) != 0 || fail();
  return marked && closed;
}

// Renamed through a handle of its own, relative to dir: the new name is a
// bare name there, and a link that had it is replaced, not followed. Asked
// of the NT call itself: Wine's SetFileInformationByHandle makes the name
// a path from the current directory, which the root handle then refuses.
bool Win32Platform::rename_file(Handle dir, const char16_t* from, const char16_t* to) {
  struct Rename {
    union {
      FILE_RENAME_INFO info;  // laid out as FILE_RENAME_INFORMATION
      unsigned char bytes[sizeof(FILE_RENAME_INFO) + 2 * 32768];
    };
  };
  static Rename rename;  // only the thread that starts the run renames
  const std::size_t length = wcslen(wide(to));
  if (length == 0 || length > 0x7FFF) return fail_with(ERROR_INVALID_NAME);
  const Handle entry = open_relative(dir, from, DELETE | SYNCHRONIZE, 0, FILE_OPEN,
                                     FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT);
  if (!entry.valid()) return false;
  std::memset(&rename.info, 0, sizeof rename.info);
  rename.info.ReplaceIfExists = TRUE;
  rename.info.RootDirectory = native(dir);
  rename.info.FileNameLength = static_cast<DWORD>(length * sizeof(wchar_t));
  std::memcpy(rename.info.FileName, to, (length + 1) * sizeof(wchar_t));
  const ULONG size = static_cast<ULONG>(sizeof rename.info + length * sizeof(wchar_t));
  IO_STATUS_BLOCK io;
  const NTSTATUS status = NtSetInformationFile(native(entry), &io, &rename.info, size, kFileRenameInformation);
  CloseHandle(native(entry));
  return status >= 0 || fail_with(RtlNtStatusToDosError(status));
}

bool Win32Platform::identity(Handle h, FileIdentity* out) {
  DWORD attributes;
  bool pipe;
  return describe(h, out, &attributes, &pipe);
}

// A FIFO (which Wine opens as a pipe) has no file information to give, but
// its volume and file index tell it apart all the same, the same numbers a
// file's information holds.
bool Win32Platform::describe(Handle h, FileIdentity* id, DWORD* attributes, bool* pipe) {
  BY_HANDLE_FILE_INFORMATION info;
  *pipe = false;
  if (GetFileInformationByHandle(native(h), &info)) {
    *attributes = info.dwFileAttributes;
    *id = {info.dwVolumeSerialNumber, (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
    return true;
  }
  const DWORD error = GetLastError();
  if (GetFileType(native(h)) != FILE_TYPE_PIPE) return fail_with(error);
  DWORD serial = 0;
  if (!GetVolumeInformationByHandleW(native(h), nullptr, 0, &serial, nullptr, nullptr, nullptr, 0)) return fail();
  IO_STATUS_BLOCK io;
  LARGE_INTEGER index;  // FILE_INTERNAL_INFORMATION
  const NTSTATUS status =
      NtQueryInformationFile(native(h), &io, &index, sizeof index, kFileInternalInformation);
  if (status < 0) return fail_with(RtlNtStatusToDosError(status));
  *attributes = 0;
  *pipe = true;
  *id = {serial, static_cast<std::uint64_t>(index.QuadPart)};
  return true;
}

// One ReadFile: a pipe delivers what has arrived. A pipe whose writer has
// gone and a file at its end both read as the end.
std::uint32_t Win32Platform::read(Handle h, void* buffer, std::uint32_t count) {
  DWORD got = 0;
  if (ReadFile(native(h), buffer, count, &got, nullptr)) return got;
  const DWORD error = GetLastError();
  if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF) return 0;
  fail_with(error);
  return kReadFailed;
}

bool Win32Platform::write(Handle h, const void* data, std::uint32_t count) {
  const char* p = static_cast<const char*>(data);
  while (count > 0) {
    DWORD written = 0;
    if (!WriteFile(native(h), p, count, &written, nullptr)) return fail();
    if (written == 0) return fail_with(ERROR_DISK_FULL);
    p += written;
    count -= written;
  }
  return true;
}

CopyResult Win32Platform::copy_block(Handle from, Handle to, void* buffer, std::uint32_t count) {
  CopyResult result;
  result.taken = read_full(from, buffer, count);
  result.written = write(to, buffer, result.taken);
  return result;
}

bool Win32Platform::reads_at_offsets(Handle h) { return GetFileType(native(h)) == FILE_TYPE_DISK; }

// ReadFile at the offset the OVERLAPPED gives. On a handle opened without
// FILE_FLAG_OVERLAPPED the call still waits, and moves the handle's own
// position, which no reader at offsets uses.
std::uint32_t Win32Platform::read_at(Handle h, std::uint64_t offset, void* buffer, std::uint32_t count) {
  std::uint32_t done = 0;
  while (done < count) {
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset + done);
    at.OffsetHigh = static_cast<DWORD>((offset + done) >> 32);
    DWORD got = 0;
    if (!ReadFile(native(h), static_cast<char*>(buffer) + done, count - done, &got, &at)) {
      const DWORD error = GetLastError();
      if (error == ERROR_HANDLE_EOF) break;
      fail_with(error);
      return done == 0 ? kReadFailed : done;
    }
    if (got == 0) break;
    done += got;
  }
  return done;
}

CopyResult Win32Platform::copy_at(Handle from, std::uint64_t offset, Handle to, void* buffer, std::uint32_t count) {
  CopyResult result = move_at(from, offset, Handle::none(), buffer, count);
  result.written = write(to, buffer, result.taken);
  return result;
}

bool Win32Platform::close(Handle h) {
  if (!h.valid()) return true;
  return CloseHandle(native(h)) != 0 || fail();
}

void Win32Platform::set_times(Handle h, FileTime creation, FileTime access, FileTime write) {
  const FILETIME c = filetime(creation), a = filetime(access), w = filetime(write);
  SetFileTime(native(h), &c, &a, &w);
}

// Zero times leave the times just set alone. A word with no settable bit
// clears them all.
void Win32Platform::set_attr(Handle h, std::uint16_t attr) {
  FILE_BASIC_INFO basic = {};
  basic.FileAttributes = attr & kSettableAttributes;
  if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  SetFileInformationByHandle(native(h), FileBasicInfo, &basic, sizeof basic);
}

void Win32Platform::error_text(SystemError error, char* out, std::uint32_t capacity) {
  wchar_t* message = nullptr;
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, error.code, 0x400, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
  int written = 0;
  if (length > 0) {
    written = WideCharToMultiByte(CP_OEMCP, 0, message, -1, out, static_cast<int>(capacity), nullptr, nullptr);
  }
  if (message != nullptr) LocalFree(message);
  // No text from the system: say which code it was.
  if (written == 0) std::snprintf(out, capacity, "system error %lu", static_cast<unsigned long>(error.code));
}

namespace {

struct ThreadStart {
  void (*body)(void*);
  void* arg;
};

DWORD WINAPI run_thread(void* start) {
  const ThreadStart s = *static_cast<ThreadStart*>(start);
  delete static_cast<ThreadStart*>(start);
  s.body(s.arg);
  return 0;
}

}  // namespace

bool Win32Platform::start_thread(void (*body)(void*), void* arg, ThreadRef* out) {
  ThreadStart* start = new (std::nothrow) ThreadStart{body, arg};
  if (start == nullptr) return fail_with(ERROR_NOT_ENOUGH_MEMORY);
  const HANDLE thread = CreateThread(nullptr, 0, run_thread, start, 0, nullptr);
  if (thread == nullptr) {
    const DWORD error = GetLastError();
    delete start;
    return fail_with(error);
  }
  out->raw = reinterpret_cast<std::intptr_t>(thread);
  return true;
}

void Win32Platform::join_thread(ThreadRef thread) {
  const HANDLE h = reinterpret_cast<HANDLE>(thread.raw);
  WaitForSingleObject(h, INFINITE);
  CloseHandle(h);
}

std::uint32_t Win32Platform::tick_ms() { return GetTickCount(); }

std::uint64_t Win32Platform::cycles() { return read_time_stamp_counter(); }

bool Win32Platform::path_is_directory(const char16_t* path) {
  const DWORD attributes = GetFileAttributesW(wide(path));
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}
