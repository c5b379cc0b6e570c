#include "platform/platform_win32.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstring>

#include "platform/entry_name.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 names are handed to the system as they are");

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE native(Handle h) { return reinterpret_cast<HANDLE>(h.raw); }
const wchar_t* wide(const char16_t* s) { return reinterpret_cast<const wchar_t*>(s); }

FILETIME filetime(FileTime t) {
  FILETIME f;
  f.dwLowDateTime = static_cast<DWORD>(t);
  f.dwHighDateTime = static_cast<DWORD>(t >> 32);
  return f;
}

}  // namespace

Win32Platform::Win32Platform(int argc, wchar_t** argv) : argc_(argc), argv_(argv) {
  // Line ends go out as single line feeds, the same bytes on every system.
  _setmode(_fileno(stdout), _O_BINARY);
  DWORD mode;
  stdout_is_console_ = GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
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

bool Win32Platform::enter_target(int i) { return SetCurrentDirectoryW(argv_[i + 1]) || fail(); }

void Win32Platform::console_write(const char* text, std::uint32_t length) { std::fwrite(text, 1, length, stdout); }

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
  static char text[4 * 32768];
  const int n = WideCharToMultiByte(CP_OEMCP, 0, arg, -1, text, sizeof text, nullptr, nullptr);
  if (n > 1) std::fwrite(text, 1, static_cast<std::size_t>(n - 1), stdout);
}

void Win32Platform::console_flush() {
  if (stdout_is_console_) std::fflush(stdout);
}

bool Win32Platform::fail() {
  last_error_ = GetLastError();
  return false;
}

Handle Win32Platform::handle_or_fail(HANDLE h) {
  if (h == INVALID_HANDLE_VALUE || h == nullptr) {
    fail();
    return Handle::none();
  }
  return Handle{reinterpret_cast<std::intptr_t>(h)};
}

Handle Win32Platform::protect(HANDLE h) {
  const Handle handle = handle_or_fail(h);
  BY_HANDLE_FILE_INFORMATION info;
  if (handle.valid() && protected_count_ < 4 && GetFileInformationByHandle(h, &info)) {
    protected_[protected_count_++] = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
  }
  return handle;
}

bool Win32Platform::is_protected(const BY_HANDLE_FILE_INFORMATION& info) const {
  for (int i = 0; i < protected_count_; ++i) {
    const Identity& p = protected_[i];
    if (p.volume == info.dwVolumeSerialNumber && p.index_high == info.nFileIndexHigh &&
        p.index_low == info.nFileIndexLow) {
      return true;
    }
  }
  return false;
}

bool Win32Platform::refuse_invalid(const wchar_t* name) {
  if (is_valid_entry_name(reinterpret_cast<const char16_t*>(name), NameRules::kWindows)) return false;
  last_error_ = ERROR_INVALID_NAME;
  return true;
}

Handle Win32Platform::open_stream(const char16_t* path) {
  return protect(CreateFileW(wide(path), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
}

Handle Win32Platform::create_log() {
  return protect(CreateFileW(L"$errors", GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr));
}

// True when `existing`, opened by name in the current directory without
// following links, is that entry itself. Wine cannot open a file link itself
// (it follows it, and reports no reparse point): there the final path names
// the link's target, so the entry is refused rather than written through or
// deleted at its target.
bool Win32Platform::is_entry_itself(HANDLE existing, const wchar_t* name) {
  static wchar_t here[kPathChars], there[kPathChars];
  HANDLE dot = CreateFileW(L".", FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (dot == INVALID_HANDLE_VALUE) return false;
  DWORD length = GetFinalPathNameByHandleW(dot, here, kPathChars, 0);
  CloseHandle(dot);
  const DWORD name_length = static_cast<DWORD>(wcslen(name));
  if (length == 0 || length + 1 + name_length >= kPathChars) return false;
  if (here[length - 1] != L'\\') here[length++] = L'\\';
  std::memcpy(here + length, name, (name_length + 1) * sizeof(wchar_t));
  length = GetFinalPathNameByHandleW(existing, there, kPathChars, 0);
  if (length == 0 || length >= kPathChars) return false;
  return CompareStringOrdinal(here, -1, there, -1, TRUE) == CSTR_EQUAL;
}

// A new name costs one call. An existing entry is looked at first: a
// directory, one of the run's own files, and a file that is read-only,
// hidden or system (which replacing in place would refuse too) are refused.
// Anything else is deleted and created anew rather than opened, so a link or
// a file with several names never carries the body out of the target.
Handle Win32Platform::create_file(const char16_t* name16) {
  const wchar_t* name = wide(name16);
  if (refuse_invalid(name)) return Handle::none();
  HANDLE h = CreateFileW(name, GENERIC_WRITE, kShareAll, nullptr, CREATE_NEW, 0, nullptr);
  if (h != INVALID_HANDLE_VALUE) return Handle{reinterpret_cast<std::intptr_t>(h)};
  const DWORD error = GetLastError();
  if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return fail(), Handle::none();

  HANDLE existing = CreateFileW(name, FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (existing == INVALID_HANDLE_VALUE) return fail(), Handle::none();
  BY_HANDLE_FILE_INFORMATION info;
  const bool known = GetFileInformationByHandle(existing, &info) != 0 || fail();
  const bool itself = known && is_entry_itself(existing, name);
  CloseHandle(existing);
  if (!known) return Handle::none();
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    last_error_ = ERROR_ACCESS_DENIED;
    return Handle::none();
  }
  if (is_protected(info)) {
    last_error_ = ERROR_SHARING_VIOLATION;
    return Handle::none();
  }
  if (!itself) {
    last_error_ = ERROR_CANT_ACCESS_FILE;
    return Handle::none();
  }
  const DWORD kept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  if ((info.dwFileAttributes & kept) && !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    last_error_ = ERROR_ACCESS_DENIED;
    return Handle::none();
  }
  if (!DeleteFileW(name)) return fail(), Handle::none();
  return handle_or_fail(CreateFileW(name, GENERIC_WRITE, kShareAll, nullptr, CREATE_NEW, 0, nullptr));
}

Handle Win32Platform::open_dir(const char16_t* name) {
  if (refuse_invalid(wide(name))) return Handle::none();
  return handle_or_fail(CreateFileW(wide(name), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                    nullptr));
}

std::uint32_t Win32Platform::read(Handle h, void* buffer, std::uint32_t count) {
  DWORD got = 0;
  if (!ReadFile(native(h), buffer, count, &got, nullptr)) fail();
  return got;
}

void Win32Platform::write(Handle h, const void* data, std::uint32_t count) {
  DWORD written = 0;
  WriteFile(native(h), data, count, &written, nullptr);
}

std::uint32_t Win32Platform::copy_block(Handle from, Handle to, void* buffer, std::uint32_t count) {
  const std::uint32_t got = read(from, buffer, count);
  if (got > 0) write(to, buffer, got);
  return got;
}

void Win32Platform::close(Handle h) {
  if (h.valid()) CloseHandle(native(h));
}

bool Win32Platform::make_dir(const char16_t* name) {
  if (refuse_invalid(wide(name))) return false;
  return CreateDirectoryW(wide(name), nullptr) || fail();
}

void Win32Platform::set_attr(const char16_t* name, std::uint16_t attr) {
  if (refuse_invalid(wide(name))) return;
  SetFileAttributesW(wide(name), attr);
}

void Win32Platform::set_times(Handle h, FileTime creation, FileTime access, FileTime write) {
  const FILETIME c = filetime(creation), a = filetime(access), w = filetime(write);
  SetFileTime(native(h), &c, &a, &w);
}

// A junction or directory link is never entered: it may lead out of the
// target.
bool Win32Platform::enter_dir(const char16_t* name16) {
  const wchar_t* name = wide(name16);
  if (refuse_invalid(name)) return false;
  const DWORD attributes = GetFileAttributesW(name);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    last_error_ = ERROR_CANT_ACCESS_FILE;
    return false;
  }
  return SetCurrentDirectoryW(name) || fail();
}

bool Win32Platform::leave_dir() { return SetCurrentDirectoryW(L"..") || fail(); }

void Win32Platform::error_text(char* out, std::uint32_t capacity) {
  wchar_t* message = nullptr;
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, last_error_, 0x400, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
  int written = 0;
  if (length > 0) {
    written = WideCharToMultiByte(CP_OEMCP, 0, message, -1, out, static_cast<int>(capacity), nullptr, nullptr);
  }
  if (message != nullptr) LocalFree(message);
  // No text from the system: say which code it was.
  if (written == 0) std::snprintf(out, capacity, "system error %lu", static_cast<unsigned long>(last_error_));
}

std::uint32_t Win32Platform::tick_ms() { return GetTickCount(); }

std::uint64_t Win32Platform::cycles() { return read_time_stamp_counter(); }

bool Win32Platform::path_is_directory(const char16_t* path) {
  const DWORD attributes = GetFileAttributesW(wide(path));
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Straight to the handle, so line ends stay single line feeds.
void Win32Platform::error_write(const char* text, std::uint32_t length) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, length, &written, nullptr);
}
