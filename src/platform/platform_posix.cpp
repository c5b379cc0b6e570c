#include "platform/platform_posix.h"

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/sendfile.h>
#include <sys/vfs.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/file_attributes.h"
#include "platform/interruption.h"
#include "platform/time_stamp_counter.h"
#include "platform/utf8_path.h"

namespace {


int fd_of(Handle h) { return static_cast<int>(h.raw); }

// The failure of the last failed call, per thread.
thread_local int last_errno_ = 0;

// Names become paths here, one buffer per thread: writers create files too.
// Longest entry name in bytes: three bytes a UTF-16 unit of the longest
// name the restore keeps.
thread_local char path_[3 * 32768 + 1];

}  // namespace

PosixPlatform::PosixPlatform(int argc, char** argv) : argc_(argc), argv_(argv) {
  const mode_t mask = umask(0);
  umask(mask);
  file_mode_ = 0666 & ~mask;
  catch_interruptions();
}

int PosixPlatform::arg_count() { return argc_ > 1 ? argc_ - 1 : 0; }

bool PosixPlatform::arg_is(int i, const char* ascii) { return std::strcmp(argv_[i + 1], ascii) == 0; }

std::uint32_t PosixPlatform::arg_to_name(int i, char16_t* out, std::uint32_t capacity) {
  return path_to_utf16(argv_[i + 1], out, capacity);
}

void PosixPlatform::console_write(const char* text, std::uint32_t length) {
  console_written(std::fwrite(text, 1, length, stdout) == length);
}

void PosixPlatform::console_write_arg(int i) { console_written(std::fputs(argv_[i + 1], stdout) >= 0); }

// Always pushed out, also when redirected: prints are rare (at most every
// 500 ms), and an interrupted run then leaves everything shown so far.
void PosixPlatform::console_flush() { console_written(std::fflush(stdout) == 0); }

void PosixPlatform::console_written(bool ok) {
  if (!ok && errno != EPIPE && console_errno_ == 0) console_errno_ = errno != 0 ? errno : EIO;
}

bool PosixPlatform::console_failed(SystemError* why) {
  why->code = static_cast<std::uint32_t>(console_errno_);
  return console_errno_ != 0;
}

void PosixPlatform::error_write(const char* text, std::uint32_t length) {
  while (length > 0) {
    const ssize_t n = ::write(STDERR_FILENO, text, length);
    if (n <= 0) return;
    text += n;
    length -= static_cast<std::uint32_t>(n);
  }
}

bool PosixPlatform::fail() {
  last_errno_ = errno;
  return false;
}

Handle PosixPlatform::handle_or_fail(int fd) {
  if (fd < 0) {
    fail();
    return Handle::none();
  }
  return Handle{fd};
}

const char* PosixPlatform::entry_path(const char16_t* name) {
  utf16_to_path(name, path_, LoneSurrogates::kEncode);
  return path_;
}

Handle PosixPlatform::open_start_dir() { return handle_or_fail(open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)); }

Handle PosixPlatform::open_target(int i) {
  return handle_or_fail(open(argv_[i + 1], O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

Handle PosixPlatform::open_stream(const char16_t* path) {
  utf16_to_path(path, path_, LoneSurrogates::kRawEscapes);
  return handle_or_fail(open(path_, O_RDONLY | O_CLOEXEC));
}

// The directory part keeps its last '/', so "/x" opens "/".
Handle PosixPlatform::open_parent(const char16_t* path, const char16_t** last) {
  *last = path;
  for (const char16_t* p = path; *p != 0; ++p) {
    if (*p == u'/') *last = p + 1;
  }
  const std::uint32_t bytes = utf16_to_path(path, path_, LoneSurrogates::kRawEscapes);
  std::uint32_t keep = bytes;
  while (keep > 0 && path_[keep - 1] != '/') --keep;
  path_[keep] = 0;
  return handle_or_fail(open(keep > 0 ? path_ : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

Handle PosixPlatform::create_file(Handle dir, const char16_t* name) {
  return handle_or_fail(
      openat(fd_of(dir), entry_path(name), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
}

// The new directory is opened by name right after its creation; whatever
// has the name by then is opened only if it is a directory and not a link.
Handle PosixPlatform::make_dir(Handle dir, const char16_t* name, bool* made) {
  const char* path = entry_path(name);
  *made = mkdirat(fd_of(dir), path, 0777) == 0;
  if (!*made) return fail(), Handle::none();
  return handle_or_fail(openat(fd_of(dir), path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

Handle PosixPlatform::open_dir(Handle dir, const char16_t* name) {
  return handle_or_fail(openat(fd_of(dir), entry_path(name), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

// O_NONBLOCK: a FIFO put in a file's place is opened without waiting for a
// writer (it is told apart by describe_open, never read).
Handle PosixPlatform::open_file_read(Handle dir, const char16_t* name) {
  const int fd = openat(fd_of(dir), entry_path(name), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  return handle_or_fail(fd);
}

// The inverse of set_attr: the word from user.DOSATTRIB, or the plain word
// where there is none; for a file, the read-only bit from the write bits.
bool PosixPlatform::describe_open(Handle h, OpenState* out) {
  struct stat st;
  if (fstat(fd_of(h), &st) != 0) return fail();
  *out = OpenState{};
  out->directory = S_ISDIR(st.st_mode);
  out->size = out->directory ? 0 : static_cast<std::uint64_t>(st.st_size);
  out->write_time = {static_cast<std::int64_t>(st.st_mtim.tv_sec), static_cast<std::int32_t>(st.st_mtim.tv_nsec)};
  char text[32];
  const ssize_t n = fgetxattr(fd_of(h), "user.DOSATTRIB", text, sizeof text - 1);
  if (n >= 0) {
    text[n] = 0;
    char* end = nullptr;
    const unsigned long word = std::strtoul(text, &end, 16);
    if (n > 2 && text[0] == '0' && text[1] == 'x' && (*end == 0 || *end == '\n') && word <= 0xFFFF) {
      out->attributes = static_cast<std::uint16_t>(word);
      out->attributes_kept = 0xFFFF;
    }
  } else if (errno == ENODATA) {
    out->attributes = out->directory ? kAttrDirectory : kAttrArchive;
    out->attributes_kept = 0xFFFF;
  }
  if (!out->directory) {
    out->attributes = static_cast<std::uint16_t>(out->attributes & ~kAttrReadOnly);
    if ((st.st_mode & 0222) == 0) out->attributes |= kAttrReadOnly;
    out->attributes_kept |= kAttrReadOnly;
  }
  return true;
}

// A descriptor of its own, so the listing's position is its own.
Handle PosixPlatform::open_listing(Handle dir) {
  listing_fd_ = -1;
  return handle_or_fail(openat(fd_of(dir), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

Listed PosixPlatform::next_listed(Handle listing, char16_t* name, std::uint32_t capacity) {
  struct Entry {  // struct linux_dirent64
    std::uint64_t inode;
    std::int64_t offset;
    unsigned short length;
    unsigned char type;
    char name[1];
  };
  if (listing_fd_ != fd_of(listing)) {
    listing_fd_ = fd_of(listing);
    listing_at_ = listing_end_ = 0;
  }
  for (;;) {
    if (listing_at_ >= listing_end_) {
      const long n = syscall(SYS_getdents64, listing_fd_, listing_, sizeof listing_);
      if (n < 0) return fail(), Listed::kFailed;
      if (n == 0) return Listed::kEnd;
      listing_at_ = 0;
      listing_end_ = n;
    }
    const Entry* entry = reinterpret_cast<const Entry*>(listing_ + listing_at_);
    listing_at_ += entry->length;
    const char* bytes = entry->name;
    if (std::strcmp(bytes, ".") == 0 || std::strcmp(bytes, "..") == 0) continue;
    if (path_to_utf16(bytes, name, capacity, LoneSurrogates::kEncode) == 0 && capacity > 0) name[0] = 0;
    return Listed::kName;
  }
}

bool PosixPlatform::inspect(Handle dir, const char16_t* name, EntryInfo* info) {
  struct stat st;
  *info = EntryInfo{};
  if (fstatat(fd_of(dir), entry_path(name), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return true;
    return fail();
  }
  if (S_ISDIR(st.st_mode)) {
    info->kind = EntryKind::kDirectory;
  } else if (S_ISLNK(st.st_mode)) {
    info->kind = EntryKind::kLink;
  } else if (S_ISREG(st.st_mode)) {
    info->kind = EntryKind::kFile;
  } else {
    info->kind = EntryKind::kOther;
  }
  info->identity = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
  info->size = static_cast<std::uint64_t>(st.st_size);
  info->write_time = {static_cast<std::int64_t>(st.st_mtim.tv_sec), static_cast<std::int32_t>(st.st_mtim.tv_nsec)};
  info->links = static_cast<std::uint32_t>(st.st_nlink);
  // The read-only bit is what set_attr makes of it: no write permission.
  if (info->kind == EntryKind::kFile) {
    info->attributes = (st.st_mode & 0222) == 0 ? kAttrReadOnly : 0;
    info->attributes_told = kAttrReadOnly;
  }
  return true;
}

bool PosixPlatform::remove_file(Handle dir, const char16_t* name) {
  return unlinkat(fd_of(dir), entry_path(name), 0) == 0 || fail();
}

// Only the thread that starts the run renames, so one buffer serves.
bool PosixPlatform::rename_file(Handle dir, const char16_t* from, const char16_t* to) {
  static char from_path[3 * 32768 + 1];
  utf16_to_path(from, from_path, LoneSurrogates::kEncode);
  return renameat(fd_of(dir), from_path, fd_of(dir), entry_path(to)) == 0 || fail();
}

bool PosixPlatform::identity(Handle h, FileIdentity* out) {
  struct stat st;
  if (fstat(fd_of(h), &st) != 0) return fail();
  *out = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
  return true;
}

// Names are compared byte for byte on the file systems below unless a
// directory carries the case-folding flag (which the directories made in it
// inherit); an older kernel that cannot tell the flag has no case folding.
// Any other file system may fold names.
bool PosixPlatform::folds_names(Handle dir) {
  struct statfs fs;
  if (fstatfs(fd_of(dir), &fs) != 0) return true;
  switch (static_cast<unsigned long>(fs.f_type)) {
    case EXT4_SUPER_MAGIC:
    case TMPFS_MAGIC:
    case F2FS_SUPER_MAGIC: {
      int flags = 0;
      if (ioctl(fd_of(dir), FS_IOC_GETFLAGS, &flags) != 0) return errno != ENOTTY && errno != EOPNOTSUPP;
      return (flags & FS_CASEFOLD_FL) != 0;
    }
    case BTRFS_SUPER_MAGIC:
      return false;
    default:
      return true;
  }
}

bool PosixPlatform::failed_because_exists() { return last_errno_ == EEXIST; }

std::uint32_t PosixPlatform::read(Handle h, void* buffer, std::uint32_t count) {
  for (;;) {
    const ssize_t n = ::read(fd_of(h), buffer, count);
    if (n >= 0) return static_cast<std::uint32_t>(n);
    if (errno != EINTR) return fail(), kReadFailed;
  }
}

bool PosixPlatform::write(Handle h, const void* data, std::uint32_t count) {
  const char* p = static_cast<const char*>(data);
  while (count > 0) {
    const ssize_t n = ::write(fd_of(h), p, count);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return fail();
    if (n == 0) {
      errno = ENOSPC;
      return fail();
    }
    p += n;
    count -= static_cast<std::uint32_t>(n);
  }
  return true;
}

bool PosixPlatform::reads_at_offsets(Handle h) {
  struct stat st;
  return fstat(fd_of(h), &st) == 0 && S_ISREG(st.st_mode);
}

std::uint32_t PosixPlatform::read_at(Handle h, std::uint64_t offset, void* buffer, std::uint32_t count) {
  std::uint32_t done = 0;
  while (done < count) {
    const ssize_t n = pread(fd_of(h), static_cast<char*>(buffer) + done, count - done,
                            static_cast<off_t>(offset + done));
    if (n == 0) break;
    if (n > 0) {
      done += static_cast<std::uint32_t>(n);
    } else if (errno != EINTR) {
      fail();
      return done == 0 ? kReadFailed : done;
    }
  }
  return done;
}

CopyResult PosixPlatform::copy_block(Handle from, Handle to, void* buffer, std::uint32_t count) {
  return copy_from(from, nullptr, to, buffer, count);
}

CopyResult PosixPlatform::copy_at(Handle from, std::uint64_t offset, Handle to, void* buffer, std::uint32_t count) {
  return copy_from(from, &offset, to, buffer, count);
}

// The kernel moves the bytes itself where it can (no copy through user
// space); where it refuses, the rest of the block goes through the buffer.
// A write that fails part-way still leaves the whole block taken from the
// content stream, so the next body starts where it should.
CopyResult PosixPlatform::copy_from(Handle from, const std::uint64_t* at, Handle to, void* buffer,
                                    std::uint32_t count) {
  CopyResult result;
  // The rest of the block, read into the buffer.
  const auto read_rest = [&] {
    if (at == nullptr) return read_full(from, buffer, count - result.taken);
    const std::uint32_t got = read_at(from, *at + result.taken, buffer, count - result.taken);
    return got == kReadFailed ? 0 : got;
  };
  for (;;) {
    const KernelCopy way = kernel_copy_.load(std::memory_order_relaxed);
    if (way == KernelCopy::kNone || result.taken == count) break;
    const std::size_t want = count - result.taken;
    off_t offset = at != nullptr ? static_cast<off_t>(*at + result.taken) : 0;
    off_t* from_offset = at != nullptr ? &offset : nullptr;
    const ssize_t n = way == KernelCopy::kCopyFileRange
                          ? copy_file_range(fd_of(from), from_offset, fd_of(to), nullptr, want, 0)
                          : sendfile(fd_of(to), fd_of(from), from_offset, want);
    if (n == 0) return result;  // end of the content stream
    if (n > 0) {
      result.taken += static_cast<std::uint32_t>(n);
      continue;
    }
    if (errno == EINTR) continue;
    if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP || errno == EBADF) {
      // Refused, nothing moved by this call: the next way, now and from now on.
      KernelCopy expected = way;
      kernel_copy_.compare_exchange_strong(
          expected, way == KernelCopy::kCopyFileRange ? KernelCopy::kSendfile : KernelCopy::kNone);
      continue;
    }
    fail();  // the output failed: keep its reason, consume the rest
    result.written = false;
    const int reason = last_errno_;
    result.taken += read_rest();
    last_errno_ = reason;
    return result;
  }
  if (result.taken == count) return result;
  const std::uint32_t got = read_rest();
  result.written = write(to, buffer, got);
  result.taken += got;
  return result;
}

bool PosixPlatform::close(Handle h) {
  if (!h.valid()) return true;
  return ::close(fd_of(h)) == 0 || errno == EINTR || fail();
}

void PosixPlatform::set_times(Handle h, FileTime, FileTime access, FileTime write) {
  const UnixTime a = filetime_to_unix(access), w = filetime_to_unix(write);
  const struct timespec times[2] = {{a.seconds, a.nanoseconds}, {w.seconds, w.nanoseconds}};
  futimens(fd_of(h), times);
}

// The word is kept whole in user.DOSATTRIB, where Wine and Samba look for
// it, unless it is the plain word they assume when there is none (0x10 for
// a directory, 0x20 for a file). Read-only takes the write bits away from a
// file; a directory stays writable, as on Windows.
void PosixPlatform::set_attr(Handle h, std::uint16_t attr) {
  const bool directory = (attr & kAttrDirectory) != 0;
  if (attr != (directory ? kAttrDirectory : kAttrArchive)) {
    char text[8];
    const int length = std::snprintf(text, sizeof text, "0x%x", attr);
    fsetxattr(fd_of(h), "user.DOSATTRIB", text, static_cast<size_t>(length), 0);
  }
  if ((attr & kAttrReadOnly) != 0 && !directory) fchmod(fd_of(h), file_mode_ & ~0222);
}

void PosixPlatform::error_text(SystemError error, char* out, std::uint32_t capacity) {
  std::snprintf(out, capacity, "%s", std::strerror(static_cast<int>(error.code)));
}

SystemError PosixPlatform::last_error() { return {static_cast<std::uint32_t>(last_errno_)}; }

// The soft limit on descriptors is often far below the hard one (1,024
// against a million): raised to it, as a program that holds many open may.
std::uint32_t PosixPlatform::handle_limit() {
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  if (limit.rlim_cur < limit.rlim_max) {
    struct rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > 0x7FFFFFFF) return 0;
  return static_cast<std::uint32_t>(limit.rlim_cur);
}

void PosixPlatform::hold_interruptions(bool held) { hold_interruption_signals(held); }

namespace {

struct ThreadStart {
  void (*body)(void*);
  void* arg;
};

void* run_thread(void* start) {
  const ThreadStart s = *static_cast<ThreadStart*>(start);
  delete static_cast<ThreadStart*>(start);
  s.body(s.arg);
  return nullptr;
}

}  // namespace

bool PosixPlatform::start_thread(void (*body)(void*), void* arg, ThreadRef* out) {
  ThreadStart* start = new (std::nothrow) ThreadStart{body, arg};
  if (start == nullptr) {
    last_errno_ = ENOMEM;
    return false;
  }
  pthread_t thread;
  const int error = pthread_create(&thread, nullptr, run_thread, start);
  if (error != 0) {
    delete start;
    last_errno_ = error;
    return false;
  }
  out->raw = static_cast<std::intptr_t>(thread);
  return true;
}

void PosixPlatform::join_thread(ThreadRef thread) { pthread_join(static_cast<pthread_t>(thread.raw), nullptr); }

// The processors of the affinity mask, which taskset and cgroups narrow.
std::uint32_t PosixPlatform::process_id() { return static_cast<std::uint32_t>(getpid()); }

int PosixPlatform::processor_count() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  const int count = CPU_COUNT(&set);
  return count > 0 ? count : 1;
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

