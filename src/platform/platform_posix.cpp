#include "platform/platform_posix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/entry_name.h"
#include "platform/filetime.h"
#include "platform/utf8_path.h"

namespace {

constexpr std::uint16_t kAttrReadOnly = 0x01;
constexpr std::uint16_t kAttrDirectory = 0x10;
// Bits with a meaning mode bits already carry, or none at all: read-only,
// directory, archive, normal. Any other bit goes to the extended attribute.
constexpr std::uint16_t kAttrKeptByMode = 0x01 | 0x10 | 0x20 | 0x80;

int fd_of(Handle h) { return static_cast<int>(h.raw); }

}  // namespace

PosixPlatform::PosixPlatform(int argc, char** argv) : argc_(argc), argv_(argv) {
  const mode_t mask = umask(0);
  umask(mask);
  file_mode_ = 0666 & ~mask;
  stdout_is_terminal_ = isatty(STDOUT_FILENO) == 1;
}

int PosixPlatform::arg_count() { return argc_ > 1 ? argc_ - 1 : 0; }

bool PosixPlatform::arg_is(int i, const char* ascii) { return std::strcmp(argv_[i + 1], ascii) == 0; }

std::uint32_t PosixPlatform::arg_to_name(int i, char16_t* out, std::uint32_t capacity) {
  return path_to_utf16(argv_[i + 1], out, capacity);
}

bool PosixPlatform::enter_target(int i) { return chdir(argv_[i + 1]) == 0 || fail(); }

void PosixPlatform::console_write(const char* text, std::uint32_t length) { std::fwrite(text, 1, length, stdout); }

void PosixPlatform::console_write_arg(int i) { std::fputs(argv_[i + 1], stdout); }

void PosixPlatform::console_flush() {
  if (stdout_is_terminal_) std::fflush(stdout);
}

bool PosixPlatform::fail() {
  last_errno_ = errno;
  return false;
}

bool PosixPlatform::entry_path(const char16_t* name) {
  if (!is_valid_entry_name(name, NameRules::kPosix)) {
    errno = EINVAL;
    return fail();
  }
  utf16_to_path(name, path_, LoneSurrogates::kEncode);
  return true;
}

Handle PosixPlatform::protect(int fd) {
  if (fd < 0) {
    fail();
    return Handle::none();
  }
  struct stat st;
  if (protected_count_ < 4 && fstat(fd, &st) == 0) protected_[protected_count_++] = {st.st_dev, st.st_ino};
  return Handle{fd};
}

bool PosixPlatform::is_protected(dev_t device, ino_t inode) const {
  for (int i = 0; i < protected_count_; ++i) {
    if (protected_[i].device == device && protected_[i].inode == inode) return true;
  }
  return false;
}

Handle PosixPlatform::open_stream(const char16_t* path) {
  utf16_to_path(path, path_, LoneSurrogates::kRawEscapes);
  return protect(open(path_, O_RDONLY | O_CLOEXEC));
}

Handle PosixPlatform::create_log() {
  return protect(open("$errors", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
}

int PosixPlatform::create_exclusive() {
  return open(path_, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
}

// Exclusive creation costs one call on a fresh target. Whatever already has
// the name is removed, not opened: a link then never carries the body out of
// the target, and a file shared by hard links keeps its old content.
Handle PosixPlatform::create_file(const char16_t* name) {
  if (!entry_path(name)) return Handle::none();
  int fd = create_exclusive();
  if (fd < 0 && errno == EEXIST) {
    struct stat st;
    if (fstatat(AT_FDCWD, path_, &st, AT_SYMLINK_NOFOLLOW) != 0) return fail(), Handle::none();
    if (S_ISDIR(st.st_mode)) {
      errno = EISDIR;
      return fail(), Handle::none();
    }
    if (is_protected(st.st_dev, st.st_ino)) {
      errno = EBUSY;  // one of the dump's own streams, or the log
      return fail(), Handle::none();
    }
    if (unlink(path_) != 0) return fail(), Handle::none();
    fd = create_exclusive();
  }
  if (fd < 0) return fail(), Handle::none();
  return Handle{fd};
}

Handle PosixPlatform::open_dir(const char16_t* name) {
  if (!entry_path(name)) return Handle::none();
  const int fd = open(path_, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return fail(), Handle::none();
  return Handle{fd};
}

std::uint32_t PosixPlatform::read(Handle h, void* buffer, std::uint32_t count) {
  std::uint32_t done = 0;
  while (done < count) {
    const ssize_t n = ::read(fd_of(h), static_cast<char*>(buffer) + done, count - done);
    if (n <= 0) {
      if (n < 0) fail();
      break;
    }
    done += static_cast<std::uint32_t>(n);
  }
  return done;
}

void PosixPlatform::write(Handle h, const void* data, std::uint32_t count) {
  const char* p = static_cast<const char*>(data);
  while (count > 0) {
    const ssize_t n = ::write(fd_of(h), p, count);
    if (n <= 0) return;
    p += n;
    count -= static_cast<std::uint32_t>(n);
  }
}

// The kernel moves the bytes itself where it can (no copy through user
// space); where it refuses, or the output fails, the rest of the block goes
// through the buffer so the content stream is still consumed exactly once.
std::uint32_t PosixPlatform::copy_block(Handle from, Handle to, void* buffer, std::uint32_t count) {
  std::uint32_t done = 0;
  while (copy_in_kernel_ && done < count) {
    const ssize_t n = copy_file_range(fd_of(from), nullptr, fd_of(to), nullptr, count - done, 0);
    if (n == 0) return done;  // end of the content stream
    if (n < 0) {
      if (done == 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) {
        copy_in_kernel_ = false;
      }
      break;
    }
    done += static_cast<std::uint32_t>(n);
  }
  if (done == count) return done;
  const std::uint32_t got = read(from, buffer, count - done);
  write(to, buffer, got);
  return done + got;
}

void PosixPlatform::close(Handle h) {
  if (h.valid()) ::close(fd_of(h));
}

bool PosixPlatform::make_dir(const char16_t* name) {
  if (!entry_path(name)) return false;
  return mkdir(path_, 0777) == 0 || fail();
}

// Hidden, system and the other bits without a mode bit are kept where Wine
// and Samba look for them. Read-only takes the write bits away; on a
// directory it means nothing, and the directory must stay writable.
void PosixPlatform::set_attr(const char16_t* name, std::uint16_t attr) {
  if (!entry_path(name)) return;
  if ((attr & ~kAttrKeptByMode) != 0) {
    char text[8];
    const int length = std::snprintf(text, sizeof text, "0x%x", attr);
    lsetxattr(path_, "user.DOSATTRIB", text, static_cast<size_t>(length), 0);
  }
  if ((attr & kAttrReadOnly) != 0 && (attr & kAttrDirectory) == 0) {
    fchmodat(AT_FDCWD, path_, file_mode_ & ~0222, 0);
  }
}

void PosixPlatform::set_times(Handle h, FileTime, FileTime access, FileTime write) {
  const UnixTime a = filetime_to_unix(access), w = filetime_to_unix(write);
  const struct timespec times[2] = {{a.seconds, a.nanoseconds}, {w.seconds, w.nanoseconds}};
  futimens(fd_of(h), times);
}

// Opening with O_NOFOLLOW first means a symbolic link placed in the target
// is never followed out of it.
bool PosixPlatform::enter_dir(const char16_t* name) {
  if (!entry_path(name)) return false;
  const int fd = open(path_, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return fail();
  const bool entered = fchdir(fd) == 0 || fail();
  ::close(fd);
  return entered;
}

bool PosixPlatform::leave_dir() { return chdir("..") == 0 || fail(); }

void PosixPlatform::error_text(char* out, std::uint32_t capacity) {
  std::snprintf(out, capacity, "%s", std::strerror(last_errno_));
}

std::uint32_t PosixPlatform::tick_ms() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000);
}

// Without a time-stamp counter, monotonic nanoseconds stand in for cycles.
std::uint64_t PosixPlatform::cycles() {
  if (kHasTimeStampCounter) return read_time_stamp_counter();
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000000000u + static_cast<std::uint64_t>(now.tv_nsec);
}

bool PosixPlatform::path_is_directory(const char16_t* path) {
  utf16_to_path(path, path_, LoneSurrogates::kRawEscapes);
  struct stat st;
  return stat(path_, &st) == 0 && S_ISDIR(st.st_mode);
}

void PosixPlatform::error_write(const char* text, std::uint32_t length) { std::fwrite(text, 1, length, stderr); }
