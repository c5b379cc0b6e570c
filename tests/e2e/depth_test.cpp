// The deepest tree a dump can hold with long names: 255 levels of
// 200-character names, about 51,000 characters of path, far past PATH_MAX
// and past any Windows path limit. Everything is checked by walking handles.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "e2e_support.h"

namespace e2e {
namespace {

const FileTime kT = DumpBuilder::filetime(1720000000, 5555555);

std::string level_name(int depth) {
  std::string n = std::to_string(depth) + "_";
  n.append(200 - n.size(), static_cast<char>('a' + depth % 26));
  return n;
}

std::string read_at(int dir, const std::string& name) {
  const int fd = openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return "<missing>";
  std::string out;
  char buf[4096];
  for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) out.append(buf, static_cast<std::size_t>(n));
  close(fd);
  return out;
}

void expect_times_at(int dir, const std::string& name, int depth) {
  struct stat st;
  ASSERT_EQ(fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW), 0) << "level " << depth;
  const struct timespec want = unix_time(kT);
  EXPECT_EQ(st.st_mtim.tv_sec, want.tv_sec) << "level " << depth;
  EXPECT_EQ(st.st_mtim.tv_nsec, want.tv_nsec) << "level " << depth;
  EXPECT_EQ(st.st_atim.tv_nsec, want.tv_nsec) << "level " << depth;
}

TEST(Depth, TwoHundredFiftyFiveLevelsOfLongNames) {
  Restore f(kT);
  CountingDump& d = f.d;
  constexpr int kLevels = 255;
  const std::vector<int> with_file = {0, 1, 100, 200, 253};
  for (int depth = 0; depth < kLevels; ++depth) {
    d.dir(depth, DumpBuilder::utf16(level_name(depth)));
    for (int f : with_file) {
      if (f == depth) d.file(depth + 1, u"file.txt", "at level " + std::to_string(depth + 1), 0x21);
    }
  }
  d.file(kLevels, u"bottom.bin", pattern(300000, 255));
  f.run();
  f.expect_finished();

  // Times first (reading moves the access time), then the bodies.
  std::vector<int> dirs = {open(f.s.at("t").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
  ASSERT_GE(dirs.back(), 0);
  for (int depth = 0; depth < kLevels; ++depth) {
    const std::string name = level_name(depth);
    expect_times_at(dirs.back(), name, depth);
    const int next = openat(dirs.back(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0) {
      ADD_FAILURE() << "level " << depth << " is missing";
      break;
    }
    dirs.push_back(next);
  }
  if (dirs.size() == kLevels + 1) {
    for (int f : with_file) expect_times_at(dirs[f + 1], "file.txt", f + 1);
    expect_times_at(dirs.back(), "bottom.bin", kLevels);
    for (int f : with_file) {
      EXPECT_EQ(read_at(dirs[f + 1], "file.txt"), "at level " + std::to_string(f + 1));
      struct stat st;
      ASSERT_EQ(fstatat(dirs[f + 1], "file.txt", &st, AT_SYMLINK_NOFOLLOW), 0);
      EXPECT_EQ(st.st_mode & 0222, 0u) << "read-only at level " << f + 1;
    }
    EXPECT_EQ(read_at(dirs.back(), "bottom.bin"), pattern(300000, 255));
  }
  for (int fd : dirs) close(fd);
}

}  // namespace
}  // namespace e2e
