// Restoring over a target that already holds entries of the same names.
// (Links in the target: adversarial_target_test.cpp.)
#include <sys/stat.h>
#include <unistd.h>

#include "e2e_support.h"

namespace e2e {
namespace {

const FileTime kT = DumpBuilder::filetime(1650000000, 5555555);

TEST(ExistingEntries, FilesReplacedDirectoriesReusedBlockersLogged) {
  Restore f(kT);
  const Scratch& s = f.s;
  write_file(f.t("replace.txt"), "OLD CONTENT, LONGER THAN THE NEW ONE");
  make_dir(f.t("keep"));
  make_dir(f.t("keep2"));
  write_file(f.t("keep2/present.txt"), "untouched");
  write_file(f.t("blocker"), "I am a file");
  make_dir(f.t("dirblock"));
  write_file(f.t("dirblock/inner.txt"), "inner");
  write_file(f.t("ro_old.txt"), "old read-only");
  ASSERT_EQ(chmod(f.t("ro_old.txt").c_str(), 0444), 0);
  set_mtime(f.t("keep"), 1500000000, 123456700);
  set_mtime(f.t("keep2"), 1500000000, 123456700);

  CountingDump& d = f.d;
  d.file(0, u"replace.txt", "new");
  d.dir(0, u"keep", 0x12);  // reused: its attributes stay, it takes the record's times
  d.dir(0, u"keep2");
  d.file(1, u"added.txt", "added");
  d.dir(0, u"blocker", 0x10, false);
  d.file(1, u"skipped.txt", "SKIPPED-BODY");
  d.dir(1, u"skipdir");
  d.file(2, u"deep.txt", "DEEP");
  d.file(0, u"dirblock", "BODY-FOR-DIRBLOCK", 0x20, false);
  d.file(0, u"after.txt", "after-body");
  d.file(0, u"ro_old.txt", "replaced read-only");
  d.file(0, u"last.txt", "last");
  f.log = {mkdir_line("blocker", 0x10), chdir_line("blocker", 0x20), createfile_line("dirblock", 0x20, 17)};
  // What was there before and stays.
  d.expected["keep2/present.txt"] = "untouched";
  d.expected["blocker"] = "I am a file";
  d.expected["dirblock"] = std::nullopt;
  d.expected["dirblock/inner.txt"] = "inner";

  f.run();
  // Reused directories take the record's times after their contents, as
  // new ones do, so a second restore leaves the times of the first; their
  // attributes stay as they were.
  struct stat st;
  bool supported = true;
  EXPECT_EQ(dos_attrib(f.t("keep"), &supported), "");
  std::vector<std::string> untimed = {"keep2/present.txt", "blocker", "dirblock", "dirblock/inner.txt"};
  // Linux replaces a file left read-only. Windows may refuse to (Wine run by
  // root does replace it); then the refusal must be logged. (Its size tells
  // without a read that would move its times.)
  ASSERT_EQ(lstat(f.t("ro_old.txt").c_str(), &st), 0);
  if (windows() && st.st_size == 13) {
    f.log.push_back(createfile_line("ro_old.txt", 0x20, 18));
    d.expected["ro_old.txt"] = "old read-only";
    untimed.push_back("ro_old.txt");
  }
  f.expect_restored(untimed);
  EXPECT_EQ(list_dir(s.work), (std::vector<std::string>{"$errors", "dump", "t"}));
}

}  // namespace
}  // namespace e2e
