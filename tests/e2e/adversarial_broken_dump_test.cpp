// Truncated dumps in hostile places: deep inside a tree, at block
// boundaries, under skipped and refused entries. Each break is logged once,
// what arrived is kept, and nothing outside the target changes.
#include <sys/stat.h>

#include <string>
#include <vector>

#include "e2e_support.h"

namespace e2e {
namespace {

const FileTime kT = DumpBuilder::filetime(1680000000, 1414213);
constexpr std::uint32_t kBlock = 1048576;

// The content stream runs out deep inside a tree, one byte short of a whole
// block; the node stream ends in 31 stray bytes that would be a directory
// 255 levels down. Every file after the break is created empty with its own
// line, skipped and refused files included, and still gets its times.
TEST(AdversarialBrokenDump, ContentAndNodeStreamsCutShort) {
  Restore f(kT);
  f.watch_outside();
  CountingDump& d = f.d;
  std::vector<std::string>& log = f.log;
  d.dir(0, u"a");
  d.dir(1, u"b");
  d.file(2, u"whole.bin", pattern(kBlock + 10, 1));
  d.file(2, u"..", "refused, its body whole", 0x20, false);
  log.push_back(createfile_line("..", 0x20, 23));
  // One block and ten bytes long, of which one byte short of a block arrives.
  d.cut_file(2, u"cut.bin", kBlock + 10, pattern(kBlock - 1, 2));
  log.push_back(content_line("cut.bin", 0x20, kBlock + 10, 11));
  // Nothing is left for these.
  d.cut_file(2, u"after_cut.txt", 5, "", 0x21);
  log.push_back(content_line("after_cut.txt", 0x21, 5, 5));
  d.cut_file(2, u"empty.txt", 0, "");  // owns no bytes: nothing missing
  d.cut_file(1, u"../refused.txt", 7, "", 0x20, false);
  log.push_back(createfile_line("../refused.txt", 0x20, 7));
  log.push_back(content_line("../refused.txt", 0x20, 7, 7));
  d.dir(0, u"blocker", 0x10, false);  // a file in the target blocks it
  d.cut_file(1, u"skipped.txt", 3, "", 0x24);
  log.push_back(mkdir_line("blocker", 0x10));
  log.push_back(chdir_line("blocker", 0x24));
  log.push_back(content_line("skipped.txt", 0x24, 3, 3));
  d.cut_file(0, u"top.txt", 1ull << 32, "");
  log.push_back(content_line("top.txt", 0x20, 1ll << 32, 1ll << 32));
  FsNode deep;
  deep.depth = 255;
  deep.attr = 0x10;
  std::uint8_t stray[kFsNodeBytes];
  encode_fs_node(deep, stray);
  d.builder.raw_nodes_bytes(std::string(reinterpret_cast<const char*>(stray), 31));
  d.builder.raw_name_line("never.txt\n");
  log.push_back("nodes error: $fsnodes ends with 31 stray bytes");
  write_file(f.t("blocker"), "I block");
  set_mtime(f.t("blocker"), 1400000000, 0);
  d.expected["blocker"] = "I block";

  f.run();
  f.expect_restored({"blocker"});
}

// The names stream runs out while the cursor is deep in a tree: the run
// stops where it is, logs it once and keeps what it restored; the
// directories still held get no times. The last whole line ends exactly at
// the end of the first 64 KiB read, a partial one (no line feed: no name)
// follows.
TEST(AdversarialBrokenDump, NamesRunOutDeepInATree) {
  Restore f(kT);
  f.watch_outside();
  CountingDump& d = f.d;
  d.dir(0, u"a");
  d.dir(1, u"b");
  d.file(2, u"before.txt", "before");
  d.file(2, u"..", "refused before the end", 0x20, false);
  f.log.push_back(createfile_line("..", 0x20, 22));
  const std::size_t used = std::string("a\nb\nbefore.txt\n..\n").size();
  const std::string head = std::string("filler.txt") + '\0';
  d.raw_file(2, head + std::string(65536 - used - head.size() - 1, 'f'), u"filler.txt", "filler", 0x20, true);
  // Records whose names never come.
  FsNode node;
  node.depth = 2;
  node.attr = 0x10;
  d.builder.raw_node(node);
  node.depth = 3;
  node.attr = 0x20;
  node.size = 4;
  d.builder.raw_node(node);
  d.builder.content("lost", 4);
  d.builder.raw_name_line("c_without_line_feed");
  f.log.push_back("names error: $fsnames ended before $fsnodes");

  f.run();
  expect_output_without_final_line(f.r, "dump/");
  f.expect_log_and_outside();
  expect_tree(f.s.at("t"), d.expected, kT, {"a", "a/b"});
  expect_untimed(f.t("a"), kT);
  expect_untimed(f.t("a/b"), kT);
}

// Records but no names at all: nothing is restored, one line says why.
TEST(AdversarialBrokenDump, NoNamesAtAll) {
  Restore f(kT);
  FsNode node;
  node.attr = 0x10;
  f.d.builder.raw_node(node);
  f.log.push_back("names error: $fsnames ended before $fsnodes");
  f.run();
  expect_output_without_final_line(f.r, "dump/");
  f.expect_log_and_outside();
  EXPECT_TRUE(list_dir(f.s.at("t")).empty());
}

}  // namespace
}  // namespace e2e
