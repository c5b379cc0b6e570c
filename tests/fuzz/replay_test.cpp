// Replays the fuzz corpus (FSRESTORE_CORPUS, or the one in the source tree)
// through the fuzzer's checks, and the inputs too large to keep in it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "dump/fs_node.h"
#include "dump/name_codec.h"
#include "restore_check.h"

namespace {

std::string joined(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& l : lines) out += l + "\n";
  return out;
}

std::vector<std::string> check(const std::string& input) {
  return check_restore(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
}

std::string record(std::uint8_t depth, std::uint16_t attr, std::uint64_t size) {
  FsNode node;
  node.depth = depth;
  node.attr = attr;
  node.size = size;
  node.creation_time = 0x01D0000000000000ull + size;
  node.write_time = 0x01D0000000000001ull + depth;
  std::uint8_t bytes[kFsNodeBytes];
  encode_fs_node(node, bytes);
  return std::string(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

TEST(FuzzCorpus, EveryInputKeepsTheInvariants) {
  const char* env = std::getenv("FSRESTORE_CORPUS");
  const std::filesystem::path dir = env != nullptr && *env != 0 ? env : FSRESTORE_DEFAULT_CORPUS;
  ASSERT_TRUE(std::filesystem::is_directory(dir)) << dir;
  int inputs = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string input{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_EQ(joined(check(input)), "") << entry.path();
    ++inputs;
  }
  EXPECT_GT(inputs, 0);
}

// Names across the 64 KiB block of the names stream, one of them longer than
// the line buffer, and bodies across the 1 MiB copy block: exact, one over,
// and cut short by the end of "$content".
TEST(FuzzCorpus, StreamsLargerThanTheBuffers) {
  std::string nodes, names, content;
  nodes += record(0, 0x10, 0) + record(1, 0x20, 1048576) + record(1, 0x20, 1048577);
  names += "big\nexact\nover\n";
  for (int i = 0; i < 700; ++i) {
    nodes += record(1, 0x20, 3);
    names += std::string(90, static_cast<char>('a' + i % 26)) + std::to_string(i) + "\n";
  }
  nodes += record(0, 0x20, 5);
  names += std::string(70000, 'L') + "\n";
  nodes += record(0, 0x20, 2000000);
  names += "short\n";
  content = std::string(1048576 + 1048577 + 700 * 3 + 5, 'x') + std::string(1000, 'y');
  for (std::uint8_t mode : {0, kModeWindows | kModeHostileTarget}) {
    EXPECT_EQ(joined(check(make_fuzz_input(mode, 0, 0, nodes, names, content))), "") << int{mode};
  }
}

TEST(FuzzCheck, KnowsTheLogLineFormats) {
  EXPECT_EQ(classify_log_line("chdir error with <a> b> attr=0020: Not a directory"), "chdir");
  EXPECT_EQ(classify_log_line("chdir error with <..>: injected failure"), "chdir-up");
  EXPECT_EQ(classify_log_line("createfile error with <x>, attr=FFFF, size=1099511627775: Invalid argument"),
            "createfile");
  EXPECT_EQ(classify_log_line("content error with <x>, attr=0020, size=10: 4 bytes missing"), "content");
  EXPECT_EQ(classify_log_line("names error: $fsnames ended before $fsnodes"), "names");
  EXPECT_EQ(classify_log_line("nodes error: $fsnodes ends with 31 stray bytes"), "nodes");
  for (const char* bad : {"", "chdir error with <a> attr=20: Not a directory", "chdir error with <a> attr=0020: ",
                          "createfile error with <x>, attr=0020, size=-1: Invalid argument",
                          "content error with <x>, attr=0020, size=10: 0 bytes missing",
                          "nodes error: $fsnodes ends with 32 stray bytes", "Invalid argument"}) {
    EXPECT_EQ(classify_log_line(bad), "") << bad;
  }
}

// Entries named like the links in a hostile target, and a name that decodes
// to "..", in every mode: links are replaced or refused, never followed.
TEST(FuzzCheck, HostileNamesInAHostileTargetStayInside) {
  std::string nodes = record(0, 0x10, 0) + record(1, 0x20, 4) + record(0, 0x20, 4) + record(0, 0x20, 4) +
                      record(0, 0x21, 4);
  const std::string names = "dlink\ninner\nflink\nhlink\n\xC0\xAE\xC0\xAE\n";
  for (std::uint8_t mode = 0; mode < 16; ++mode) {
    EXPECT_EQ(joined(check(make_fuzz_input(mode, 0, 0, nodes, names, "aaaabbbbccccdddd"))), "") << int{mode};
  }
}

}  // namespace
