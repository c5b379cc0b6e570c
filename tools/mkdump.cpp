// mkdump DIR BASEPATH: writes a dump of the tree under DIR to BASEPATH +
// "$fsnodes", "$fsnames" and "$content".
//
// The streams are opened in the order fsrestore opens them ($content,
// $fsnames, $fsnodes) and, when they are FIFOs, flushed entry by entry, so
// fsrestore can restore the dump while it is written. A failed write or
// close of a stream is reported naming it, with a non-zero exit status.
//
// The walk is depth-first in pre-order with each directory's names sorted
// bytewise, so the same tree always gives the same dump. Bodies are streamed
// in 1 MiB chunks. Symbolic links and other entries that are neither
// directories nor regular files are left out with a warning; entries that
// cannot be read are left out with an error and a non-zero exit status.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "dump_builder.h"
#include "main/command_line.h"
#include "platform/platform_posix.h"
#include "platform/utf8_path.h"

namespace {

constexpr std::size_t kChunk = 1 << 20;
constexpr int kMaxDepth = 255;
constexpr std::uint16_t kAttrReadOnly = 0x01;
constexpr std::uint16_t kAttrDir = 0x10;
constexpr std::uint16_t kAttrArchive = 0x20;
// Seconds from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kEpochGap = 11644473600;

struct Walk {
  DumpBuilder* dump = nullptr;
  std::vector<char> chunk;
  // The three streams being written, so a dump placed inside DIR does not
  // try to include itself.
  std::vector<std::pair<dev_t, ino_t>> own_files;
  bool failed = false;
};

void warn(const std::string& path, const char* what) {
  std::fprintf(stderr, "mkdump: %s: %s\n", path.c_str(), what);
}

void fail(Walk& walk, const std::string& path, const char* what, int err) {
  std::fprintf(stderr, "mkdump: error: %s: %s: %s\n", path.c_str(), what, std::strerror(err));
  walk.failed = true;
}

FileTime file_time(const struct statx_timestamp& t) {
  std::int64_t seconds = t.tv_sec + kEpochGap;
  if (seconds < 0) return 0;
  return static_cast<FileTime>(seconds) * 10000000u + t.tv_nsec / 100;
}

// File-system names are bytes; well-formed UTF-8 becomes its UTF-16 form and
// every byte that is not part of a well-formed sequence becomes U+DC80 + byte,
// so no name is lost or merged with another. This is the conversion fsrestore
// applies to its own arguments.
std::u16string fs_name_to_utf16(const std::string& bytes) {
  std::u16string out(bytes.size() + 1, u'\0');
  const std::uint32_t units = path_to_utf16(bytes.c_str(), out.data(), static_cast<std::uint32_t>(out.size()));
  out.resize(units == 0 ? 0 : units - 1);
  return out;
}

// Reads "0x" + hex from user.DOSATTRIB; false when absent or not in that form.
bool dos_attrib(int fd, std::uint16_t& word) {
  char text[64];
  ssize_t len = fgetxattr(fd, "user.DOSATTRIB", text, sizeof text - 1);
  if (len < 3) return false;
  text[len] = '\0';
  if (text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) return false;
  char* end = nullptr;
  unsigned long value = std::strtoul(text + 2, &end, 16);
  if (end == text + 2 || (*end != '\0' && *end != '\n')) return false;
  word = static_cast<std::uint16_t>(value);
  return true;
}

// Type bits from the file system; the xattr may add any other bit but never
// turns a file into a directory or back.
std::uint16_t attr_word(int fd, const struct statx& st, bool is_dir) {
  std::uint16_t word = is_dir ? kAttrDir : kAttrArchive;
  std::uint16_t stored = 0;
  if (dos_attrib(fd, stored)) word |= stored;
  if (is_dir) {
    word |= kAttrDir;
  } else {
    word &= static_cast<std::uint16_t>(~kAttrDir);
    if ((st.stx_mode & 0222) == 0) word |= kAttrReadOnly;
  }
  return word;
}

bool stat_fd(int fd, struct statx& st) {
  return statx(fd, "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME, &st) == 0;
}

FileTime creation_time(const struct statx& st) {
  return file_time((st.stx_mask & STATX_BTIME) ? st.stx_btime : st.stx_mtime);
}

bool is_own_file(const Walk& walk, const struct statx& st) {
  for (const auto& f : walk.own_files)
    if (makedev(st.stx_dev_major, st.stx_dev_minor) == f.first && st.stx_ino == f.second)
      return true;
  return false;
}

void dump_file(Walk& walk, int fd, const struct statx& st, int depth, const std::string& path,
               const std::u16string& name) {
  std::uint64_t size = st.stx_size;
  walk.dump->file_header(static_cast<std::uint8_t>(depth), name, size, attr_word(fd, st, false),
                         creation_time(st), file_time(st.stx_mtime));
  // A reader of FIFOs needs the record and the name before the body.
  walk.dump->end_entry();
  std::uint64_t remaining = size;
  while (remaining > 0) {
    std::size_t want = remaining < kChunk ? static_cast<std::size_t>(remaining) : kChunk;
    ssize_t got = read(fd, walk.chunk.data(), want);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      // The record already promises size bytes: keep the content stream
      // aligned with zeros and report the file.
      if (got < 0) fail(walk, path, "read", errno);
      else fail(walk, path, "file shrank while being read", EIO);
      std::memset(walk.chunk.data(), 0, walk.chunk.size());
      while (remaining > 0) {
        std::size_t pad = remaining < kChunk ? static_cast<std::size_t>(remaining) : kChunk;
        walk.dump->content(walk.chunk.data(), pad);
        remaining -= pad;
      }
      return;
    }
    walk.dump->content(walk.chunk.data(), static_cast<std::size_t>(got));
    remaining -= static_cast<std::uint64_t>(got);
  }
}

void dump_dir(Walk& walk, int dir_fd, int depth, const std::string& dir_path) {
  DIR* dir = fdopendir(dir_fd);
  if (dir == nullptr) {
    fail(walk, dir_path, "opendir", errno);
    close(dir_fd);
    return;
  }
  std::vector<std::string> names;
  errno = 0;
  while (struct dirent* e = readdir(dir)) {
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
      names.emplace_back(e->d_name);
    errno = 0;
  }
  if (errno != 0) fail(walk, dir_path, "readdir", errno);
  std::sort(names.begin(), names.end());

  for (const std::string& name : names) {
    std::string path = dir_path + "/" + name;
    if (name.find('\n') != std::string::npos) {
      warn(path, "skipped: a name with a line feed cannot be stored");
      continue;
    }
    struct statx st;
    if (statx(dirfd(dir), name.c_str(), AT_SYMLINK_NOFOLLOW, STATX_TYPE, &st) != 0) {
      fail(walk, path, "stat", errno);
      continue;
    }
    bool is_dir = S_ISDIR(st.stx_mode);
    if (!is_dir && !S_ISREG(st.stx_mode)) {
      warn(path, S_ISLNK(st.stx_mode) ? "skipped: symbolic link" : "skipped: not a regular file");
      continue;
    }
    if (is_dir && depth + 1 > kMaxDepth) {
      std::fprintf(stderr, "mkdump: error: %s: deeper than %d levels, left out\n", path.c_str(),
                   kMaxDepth);
      walk.failed = true;
      continue;
    }
    int flags = O_RDONLY | O_NOFOLLOW | O_CLOEXEC | (is_dir ? O_DIRECTORY : 0);
    int fd = openat(dirfd(dir), name.c_str(), flags);
    if (fd < 0) {
      fail(walk, path, "open", errno);
      continue;
    }
    // Everything recorded comes from the open entry itself, so a name swapped
    // between the two calls cannot mix two entries.
    if (!stat_fd(fd, st)) {
      fail(walk, path, "stat", errno);
      close(fd);
      continue;
    }
    if (is_own_file(walk, st)) {
      warn(path, "skipped: this is one of the dump's own streams");
      close(fd);
      continue;
    }
    std::u16string name16 = fs_name_to_utf16(name);
    if (is_dir) {
      walk.dump->dir(static_cast<std::uint8_t>(depth), name16, attr_word(fd, st, true),
                     creation_time(st), file_time(st.stx_mtime));
      walk.dump->end_entry();
      dump_dir(walk, fd, depth + 1, path);  // takes over fd
    } else {
      dump_file(walk, fd, st, depth, path, name16);
      walk.dump->end_entry();
      close(fd);
    }
  }
  closedir(dir);
}

void remember_stream(Walk& walk, const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0) walk.own_files.emplace_back(st.st_dev, st.st_ino);
}

const char kUsage[] =
    "usage: mkdump [--] DIR BASEPATH\n"
    "\n"
    "Writes a dump of the tree under DIR for fsrestore: BASEPATH$fsnodes,\n"
    "BASEPATH$fsnames and BASEPATH$content. End BASEPATH with / to name a directory.\n"
    "The streams may be FIFOs that fsrestore reads while they are written.\n"
    "\n"
    "Options may stand before, between or after DIR and BASEPATH; \"--\" ends them.\n"
    "  -h, --help     show this text\n"
    "  -V, --version  show the version\n"
    "\n"
    "Exit status: 0 the dump was written; 1 an entry could not be read or the dump\n"
    "could not be written (the reason is on stderr); 2 the command line is wrong.\n";

int usage_error(const char* what) {
  std::fprintf(stderr, "mkdump: %s\nTry 'mkdump --help'.\n", what);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  // The same conventions as fsrestore's: options anywhere, "--" ends them.
  static PosixPlatform platform(argc, argv);
  enum { kHelp, kVersion };
  const OptionSpec options[] = {{kHelp, 'h', "help", false}, {kVersion, 'V', "version", false}};
  OptionParser parser(platform, options, 2);
  int operands[2] = {};
  int operand_count = 0;
  int id = 0;
  ArgSlice value;
  while (parser.next(&id, &value)) {
    if (id == kOperand) {
      if (operand_count < 2) operands[operand_count] = value.arg + 1;  // in argv
      ++operand_count;
      continue;
    }
    if (id == kHelp) {
      std::fputs(kUsage, stdout);
      return std::fflush(stdout) == 0 ? 0 : 1;
    }
    std::printf("mkdump %s\n", FSRESTORE_VERSION);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  if (*parser.error() != 0) return usage_error(parser.error());
  if (operand_count != 2) return usage_error("expected DIR and BASEPATH");
  std::string root = argv[operands[0]];
  std::string base = argv[operands[1]];
  int root_fd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (root_fd < 0) {
    std::fprintf(stderr, "mkdump: error: %s: %s\n", root.c_str(), std::strerror(errno));
    return 1;
  }
  DumpBuilder dump(base);
  if (!dump.streams_ok()) {
    std::fprintf(stderr, "mkdump: error: %s%s: %s\n", base.c_str(), dump.failed_stream(),
                 std::strerror(dump.failed_errno()));
    close(root_fd);
    return 1;
  }
  Walk walk;
  walk.dump = &dump;
  walk.chunk.resize(kChunk);
  for (const char* suffix : {"$fsnodes", "$fsnames", "$content"}) remember_stream(walk, base + suffix);
  dump_dir(walk, root_fd, 0, root);
  if (!dump.close()) {
    std::fprintf(stderr, "mkdump: error: writing %s%s: %s\n", base.c_str(),
                 dump.failed_stream() ? dump.failed_stream() : "the dump",
                 std::strerror(dump.failed_errno() ? dump.failed_errno() : EIO));
    return 1;
  }
  return walk.failed ? 1 : 0;
}
