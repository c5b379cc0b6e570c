// One writer and eight (also under a tight limit on open files) give the
// same tree and the same log, byte for byte, over a dump of more than
// 100,000 entries with failures mixed in: refused
// names, the same name twice, a directory that cannot be entered, long
// bodies among the small ones, and a "$content" that ends early.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "e2e_support.h"

namespace e2e {
namespace {

std::string body_of(int i) {
  std::string body(static_cast<std::size_t>((i * 37) % 300), 'a');
  for (std::size_t k = 0; k < body.size(); ++k) body[k] = static_cast<char>('a' + (i + k) % 26);
  return body;
}

std::u16string u16(const std::string& s) { return std::u16string(s.begin(), s.end()); }

std::string numbered(const char* format, int i) {
  char text[32];
  std::snprintf(text, sizeof text, format, i);
  return text;
}

void build(const std::string& basepath) {
  DumpBuilder d(basepath);
  int n = 0;
  const auto t = [&](int k) { return DumpBuilder::filetime(1600000000 + k, static_cast<std::uint32_t>(k % 9999999)); };
  for (int dir = 0; dir < 1000; ++dir) {
    // Directory 500 meets a file of its name in the target: not entered.
    d.dir(0, u16(dir == 500 ? "blocked" : numbered("d%d", dir)), dir % 7 == 0 ? 0x12 : 0x10, t(n), t(n + 1));
    ++n;
    for (int f = 0; f < 99; ++f, ++n) {
      const std::uint16_t attr = f % 11 == 0 ? 0x21 : f % 13 == 0 ? 0x22 : 0x20;
      std::string name = numbered("f%d.dat", f);
      if (f == 40) name = "..";                           // refused
      if (f == 41) name = "f39.dat";                      // the same name twice
      if (f == 42 && dir % 50 == 0) name = "sub";         // a file where the next directory goes
      if (f == 60 && dir % 100 == 0) {
        d.file(1, u16(name), std::string(70000, static_cast<char>('A' + dir % 26)), attr, t(n), t(n + 2));
        continue;
      }
      d.file(1, u16(name), body_of(n), attr, t(n), t(n + 2));
    }
    d.dir(1, u"sub", 0x10, t(n), t(n + 3));
    ++n;
    d.file(2, u"inner.txt", body_of(n), 0x20, t(n), t(n + 4));
    ++n;
  }
  // The stream ends inside a long body in a directory of the dump (a writer
  // moves it), and the body after it finds nothing.
  d.dir(0, u"tail", 0x10, t(n), t(n + 1));
  d.file_header(1, u"cut.bin", 70000, 0x20, t(n), t(n + 1));
  d.content(std::string(1234, 'c').data(), 1234);
  d.file_header(1, u"after.bin", 20, 0x20, t(n), t(n + 1));
  ASSERT_TRUE(d.close());
}

struct Outcome {
  RunResult run;
  std::string log;
  TreeState tree;
};

Outcome restore(const Scratch& s, const std::string& jobs, const ChildOptions& options = {}) {
  const std::string target = "t" + jobs + (options.open_files_limit >= 0 ? "-limited" : "");
  make_dir(s.at(target));
  write_file(s.at(target + "/blocked"), "in the way");
  set_mtime(s.at(target + "/blocked"), 1000000000, 0);
  Outcome o;
  o.run = s.run({"-j", jobs, "dump/", target}, options);
  o.log = read_file(s.at("$errors"));
  o.tree = tree_state(s.at(target));
  o.tree.erase(".");  // the target itself, touched by the restore's own time
  return o;
}

TEST(Parallel, EightWritersLeaveWhatOneLeaves) {
  if (windows()) GTEST_SKIP() << "a Linux-sized run; the Windows suites cover the writers at -j 4";
  if (std::getenv("FSRESTORE_JOBS") != nullptr) GTEST_SKIP() << "it sets the writers itself";
  // On tmpfs where there is one: a disk file system slows the creation of
  // many files for minutes after as many were deleted, as each run does.
  if (exists("/dev/shm/.") && std::getenv("TMPDIR") == nullptr) setenv("TMPDIR", "/dev/shm", 1);
  Scratch s;
  make_dir(s.at("dump"));
  build(s.at("dump/"));
  const Outcome one = restore(s, "1");
  const Outcome eight = restore(s, "8");
  // Writers hold no handle beyond what the process may have: under 32
  // descriptors, where one thread needs about a dozen, eight give the same.
  ChildOptions few_handles;
  few_handles.open_files_limit = 32;
  const Outcome limited = restore(s, "8", few_handles);
  EXPECT_EQ(one.run.status, 0) << one.run.err;
  EXPECT_EQ(eight.run.status, one.run.status) << eight.run.err;
  EXPECT_EQ(eight.run.err, one.run.err);
  // The final counts, without the rate.
  const auto counts = [](const std::string& out) {
    const std::string line = out.substr(out.rfind("dirs="));
    return line.substr(0, line.find(" speed="));
  };
  EXPECT_EQ(counts(eight.run.out), counts(one.run.out));
  EXPECT_NE(one.log.find("an entry restored in this run has this name"), std::string::npos);
  EXPECT_NE(one.log.find("chdir error with <blocked>"), std::string::npos);
  EXPECT_NE(one.log.find("content error with <cut.bin>"), std::string::npos);
  EXPECT_NE(one.log.find("content error with <after.bin>"), std::string::npos);
  EXPECT_EQ(eight.log, one.log);
  EXPECT_GT(one.tree.size(), 90000u);
  expect_same_tree(one.tree, eight.tree);
  EXPECT_EQ(limited.run.err, one.run.err);
  EXPECT_EQ(limited.log, one.log);
  expect_same_tree(one.tree, limited.tree);
}

}  // namespace
}  // namespace e2e
