// Restoring over a target that already holds entries of the same names.
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

#include "e2e_support.h"

namespace e2e {
namespace {

const FileTime kT = DumpBuilder::filetime(1650000000, 5555555);

struct Counts {
  int dirs = 0, files = 0;
  long long bytes = 0;
};

void add_file(DumpBuilder& d, Counts& c, int depth, const std::u16string& name,
              const std::string& body, std::uint16_t attr = 0x20) {
  d.file(static_cast<std::uint8_t>(depth), name, body, attr, kT, kT);
  ++c.files;
  c.bytes += static_cast<long long>(body.size());
}

void add_dir(DumpBuilder& d, Counts& c, int depth, const std::u16string& name,
             std::uint16_t attr = 0x10) {
  d.dir(static_cast<std::uint8_t>(depth), name, attr, kT, kT);
  ++c.dirs;
}

TEST(ExistingEntries, FilesReplacedDirectoriesReusedBlockersLogged) {
  Scratch s;
  make_dir(s.at("dump"));
  make_dir(s.at("t"));
  write_file(s.at("t/replace.txt"), "OLD CONTENT, LONGER THAN THE NEW ONE");
  make_dir(s.at("t/keep"));
  make_dir(s.at("t/keep2"));
  write_file(s.at("t/keep2/present.txt"), "untouched");
  write_file(s.at("t/blocker"), "I am a file");
  make_dir(s.at("t/dirblock"));
  write_file(s.at("t/dirblock/inner.txt"), "inner");
  write_file(s.at("t/ro_old.txt"), "old read-only");
  ASSERT_EQ(chmod(s.at("t/ro_old.txt").c_str(), 0444), 0);
  set_mtime(s.at("t/keep"), 1500000000, 123456700);
  set_mtime(s.at("t/keep2"), 1500000000, 123456700);

  Counts c;
  {
    DumpBuilder d(s.at("dump/"));
    add_file(d, c, 0, u"replace.txt", "new");
    add_dir(d, c, 0, u"keep", 0x12);  // reused as it is: neither times nor attributes
    add_dir(d, c, 0, u"keep2");
    add_file(d, c, 1, u"added.txt", "added");
    add_dir(d, c, 0, u"blocker");
    add_file(d, c, 1, u"skipped.txt", "SKIPPED-BODY");
    add_dir(d, c, 1, u"skipdir");
    add_file(d, c, 2, u"deep.txt", "DEEP");
    add_file(d, c, 0, u"dirblock", "BODY-FOR-DIRBLOCK");
    add_file(d, c, 0, u"after.txt", "after-body");
    add_file(d, c, 0, u"ro_old.txt", "replaced read-only");
    add_file(d, c, 0, u"last.txt", "last");
    ASSERT_TRUE(d.close());
  }
  RunResult r = s.run({"dump/", "t"});
  expect_clean_output(r, "dump/", c.dirs, c.files, c.bytes);

  // Reused directories keep their own times; nothing was added to keep.
  struct stat st;
  ASSERT_EQ(lstat(s.at("t/keep").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, 1500000000);
  EXPECT_EQ(st.st_mtim.tv_nsec, 123456700);
  ASSERT_EQ(lstat(s.at("t/keep2").c_str(), &st), 0);
  EXPECT_NE(st.st_mtim.tv_sec, unix_time(kT).tv_sec);
  bool supported = true;
  EXPECT_EQ(dos_attrib(s.at("t/keep"), &supported), "");
  expect_times(s.at("t/replace.txt"), kT);
  expect_times(s.at("t/after.txt"), kT);

  std::vector<std::string> log = {
      "chdir error with <blocker> attr=0020: ",
      "createfile error with <dirblock>, attr=0020, size=17: ",
  };
  // Linux replaces a file left read-only. Windows may refuse to (Wine run by
  // root does replace it); then the refusal must be logged.
  const bool ro_kept = read_file(s.at("t/ro_old.txt")) == "old read-only";
  if (windows() && ro_kept) log.push_back("createfile error with <ro_old.txt>, attr=0020, size=18: ");
  expect_log(read_file(s.at("$errors")), log);

  EXPECT_EQ(read_file(s.at("t/replace.txt")), "new");
  EXPECT_EQ(list_dir(s.at("t/keep")), std::vector<std::string>{});
  EXPECT_EQ(list_dir(s.at("t/keep2")), (std::vector<std::string>{"added.txt", "present.txt"}));
  EXPECT_EQ(read_file(s.at("t/keep2/added.txt")), "added");
  EXPECT_EQ(read_file(s.at("t/keep2/present.txt")), "untouched");
  EXPECT_EQ(read_file(s.at("t/blocker")), "I am a file");
  EXPECT_EQ(list_dir(s.at("t/dirblock")), std::vector<std::string>{"inner.txt"});
  EXPECT_EQ(read_file(s.at("t/after.txt")), "after-body");
  if (!windows() || !ro_kept) {
    EXPECT_EQ(read_file(s.at("t/ro_old.txt")), "replaced read-only");
  }
  EXPECT_EQ(read_file(s.at("t/last.txt")), "last");
  EXPECT_EQ(list_dir(s.at("t")),
            (std::vector<std::string>{"after.txt", "blocker", "dirblock", "keep", "keep2",
                                      "last.txt", "replace.txt", "ro_old.txt"}));
  EXPECT_EQ(list_dir(s.work), (std::vector<std::string>{"$errors", "dump", "t"}));
}

// Links already in the target never carry a body or a directory walk outside it.
TEST(ExistingEntries, LinksInTheTargetAreNeverFollowed) {
  Scratch s;
  make_dir(s.at("dump"));
  make_dir(s.at("t"));
  make_dir(s.at("outside_dir"));
  write_file(s.at("outside.txt"), "PRECIOUS");
  write_file(s.at("outside2.txt"), "PRECIOUS TOO");
  ASSERT_EQ(symlink("../outside.txt", s.at("t/link.txt").c_str()), 0);
  ASSERT_EQ(link(s.at("outside2.txt").c_str(), s.at("t/hard.txt").c_str()), 0);
  ASSERT_EQ(symlink("../dangling_target", s.at("t/dangle").c_str()), 0);
  ASSERT_EQ(symlink("../outside_dir", s.at("t/dlink").c_str()), 0);

  Counts c;
  {
    DumpBuilder d(s.at("dump/"));
    add_file(d, c, 0, u"link.txt", "through a symlink?");
    add_file(d, c, 0, u"hard.txt", "through a hard link?");
    add_file(d, c, 0, u"dangle", "dangling");
    add_dir(d, c, 0, u"dlink");
    add_file(d, c, 1, u"escape.txt", "ESCAPE");
    add_file(d, c, 0, u"last.txt", "last");
    ASSERT_TRUE(d.close());
  }
  RunResult r = s.run({"dump/", "t"});
  expect_clean_output(r, "dump/", c.dirs, c.files, c.bytes);

  // Outside the target nothing changed, whatever the platform.
  EXPECT_EQ(read_file(s.at("outside.txt")), "PRECIOUS");
  EXPECT_EQ(read_file(s.at("outside2.txt")), "PRECIOUS TOO");
  EXPECT_TRUE(list_dir(s.at("outside_dir")).empty());
  EXPECT_FALSE(exists(s.at("dangling_target")));
  EXPECT_EQ(read_file(s.at("t/last.txt")), "last");
  EXPECT_EQ(list_dir(s.work), (std::vector<std::string>{"$errors", "dump", "outside.txt",
                                                        "outside2.txt", "outside_dir", "t"}));

  // Each link is replaced by the restored file. Windows may instead refuse a
  // symbolic link it cannot see as one, and must then log it.
  std::vector<std::string> log;
  const std::pair<const char*, const char*> links[] = {{"link.txt", "through a symlink?"},
                                                       {"hard.txt", "through a hard link?"},
                                                       {"dangle", "dangling"}};
  for (const auto& [name, body] : links) {
    SCOPED_TRACE(name);
    struct stat st;
    ASSERT_EQ(lstat(s.at(std::string("t/") + name).c_str(), &st), 0);
    if (windows() && S_ISLNK(st.st_mode)) {
      log.push_back(std::string("createfile error with <") + name + ">, attr=0020, size=" +
                    std::to_string(std::string(body).size()) + ": ");
      continue;
    }
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_nlink, 1u);
    EXPECT_EQ(read_file(s.at(std::string("t/") + name)), body);
  }
  log.push_back("chdir error with <dlink> attr=0020: ");
  expect_log(read_file(s.at("$errors")), log);
}

}  // namespace
}  // namespace e2e
