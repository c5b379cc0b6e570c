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

TEST(AdversarialBrokenDump, TruncatedNodeNameAndContentStreams) {
  // The content stream runs out deep inside a tree, one byte short of a
  // whole block; the node stream ends in 31 stray bytes that would be a
  // directory 255 levels down. Every file after the break is created empty
  // with its own line, skipped and refused files included.
  {
    Scratch s;
    make_dir(s.at("dump"));
    make_dir(s.at("t"));
    make_sentinels(s);

    CountingDump d(s.at("dump/"), kT);
    std::vector<std::string> log;
    const std::string whole = pattern(kBlock + 10, 1);
    const std::string cut = pattern(kBlock - 1, 2);
    d.dir(0, u"a");
    d.dir(1, u"b");
    d.file(2, u"whole.bin", whole);
    d.file(2, u"..", "refused, its body whole", 0x20, false);
    log.push_back(createfile_line("..", 0x20, 23));
    // One block and ten bytes long, of which one byte short of a block arrives.
    d.builder.file_header(2, u"cut.bin", kBlock + 10, 0x20, kT, kT);
    d.builder.content(cut.data(), cut.size());
    ++d.files;
    d.bytes += static_cast<long long>(cut.size());
    log.push_back("content error with <cut.bin>, attr=0020, size=1048586: 11 bytes missing");
    // Nothing is left for these.
    d.builder.file_header(2, u"after_cut.txt", 5, 0x21, kT, kT);
    ++d.files;
    log.push_back("content error with <after_cut.txt>, attr=0021, size=5: 5 bytes missing");
    d.builder.file_header(2, u"empty.txt", 0, 0x20, kT, kT);  // owns no bytes: nothing missing
    ++d.files;
    d.builder.file_header(1, u"../refused.txt", 7, 0x20, kT, kT);
    ++d.files;
    log.push_back(createfile_line("../refused.txt", 0x20, 7));
    log.push_back("content error with <../refused.txt>, attr=0020, size=7: 7 bytes missing");
    d.builder.dir(0, u"blocker", 0x10, kT, kT);  // a file below blocks it
    ++d.dirs;
    d.builder.file_header(1, u"skipped.txt", 3, 0x24, kT, kT);
    ++d.files;
    log.push_back(chdir_line("blocker", 0x24));
    log.push_back("content error with <skipped.txt>, attr=0024, size=3: 3 bytes missing");
    d.builder.file_header(0, u"top.txt", 1ull << 32, 0x20, kT, kT);
    ++d.files;
    log.push_back("content error with <top.txt>, attr=0020, size=4294967296: 4294967296 bytes missing");
    FsNode deep;
    deep.depth = 255;
    deep.attr = 0x10;
    std::uint8_t stray[kFsNodeBytes];
    encode_fs_node(deep, stray);
    d.builder.raw_nodes_bytes(std::string(reinterpret_cast<const char*>(stray), 31));
    d.builder.raw_name_line("never.txt\n");
    log.push_back("nodes error: $fsnodes ends with 31 stray bytes");
    ASSERT_TRUE(d.builder.close());
    write_file(s.at("t/blocker"), "I block");
    set_mtime(s.at("t/blocker"), 1400000000, 0);

    const TreeState before = outside(s);
    RunResult r = s.run({"dump/", "t"});
    expect_clean_output(r, "dump/", d.dirs, d.files, d.bytes);
    ExpectedTree want = {{"a", std::nullopt},  {"a/b", std::nullopt},     {"a/b/whole.bin", whole},
                         {"a/b/cut.bin", cut}, {"a/b/after_cut.txt", ""}, {"a/b/empty.txt", ""},
                         {"top.txt", ""},      {"blocker", "I block"}};
    expect_tree(s.at("t"), want, kT, {"blocker"});
    expect_log(read_file(s.at("$errors")), log);
    expect_same_tree(before, outside(s));
  }

  // The names stream runs out while the cursor is deep in a tree: the run
  // stops where it is, logs it once and keeps what it restored; the
  // directories still held get no times. The last whole line ends exactly
  // at the end of the first 64 KiB read, a partial one follows.
  {
    Scratch s;
    make_dir(s.at("dump"));
    make_dir(s.at("t"));
    make_sentinels(s);
    CountingDump d(s.at("dump/"), kT);
    std::vector<std::string> log;
    d.dir(0, u"a");
    d.dir(1, u"b");
    d.file(2, u"before.txt", "before");
    d.file(2, u"..", "refused before the end", 0x20, false);
    log.push_back(createfile_line("..", 0x20, 22));
    const std::size_t used = std::string("a\nb\nbefore.txt\n..\n").size();
    const std::string head = std::string("filler.txt") + '\0';
    d.raw_file(2, head + std::string(65536 - used - head.size() - 1, 'f'), u"filler.txt", "filler", 0x20,
               true);
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
    log.push_back("names error: $fsnames ended before $fsnodes");
    ASSERT_TRUE(d.builder.close());

    const TreeState before = outside(s);
    RunResult r = s.run({"dump/", "t"});
    expect_output_without_final_line(r, "dump/");
    expect_tree(s.at("t"), d.expected, kT, {"a", "a/b"});
    struct stat st;
    ASSERT_EQ(stat(s.at("t/a").c_str(), &st), 0);
    EXPECT_NE(st.st_mtim.tv_sec, unix_time(kT).tv_sec);
    expect_log(read_file(s.at("$errors")), log);
    expect_same_tree(before, outside(s));
  }

  // Records but no names at all: nothing is restored, one line says why.
  {
    Scratch s;
    make_dir(s.at("dump"));
    make_dir(s.at("t"));
    {
      DumpBuilder d(s.at("dump/"));
      FsNode node;
      node.attr = 0x10;
      d.raw_node(node);
      ASSERT_TRUE(d.close());
    }
    RunResult r = s.run({"dump/", "t"});
    expect_output_without_final_line(r, "dump/");
    expect_log(read_file(s.at("$errors")), {"names error: $fsnames ended before $fsnodes"});
    EXPECT_TRUE(list_dir(s.at("t")).empty());
  }
}

}  // namespace
}  // namespace e2e
