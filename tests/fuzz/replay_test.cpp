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
    std::string writers = input;
    writers[0] = static_cast<char>(writers[0] | kModeWriters);
    EXPECT_EQ(joined(check(writers)), "") << entry.path() << " with writers";
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
  // A pattern, so a body taken from the wrong offset shows.
  for (std::size_t i = 0; i < 1048576 + 1048577 + 700 * 3 + 5 + 1000; ++i) content += static_cast<char>(i % 251);
  for (int mode : {0, kModeWindows | kModeHostileTarget, int{kModePieces}, kModeWriters | kModeClockRuns}) {
    EXPECT_EQ(joined(check(make_fuzz_input(static_cast<std::uint8_t>(mode), {}, {}, {}, nodes, names, content))), "")
        << mode;
  }
}

TEST(FuzzCheck, KnowsTheLogLineFormats) {
  const std::pair<const char*, const char*> good[] = {
      {"chdir error with <a> b> attr=0020: Not a directory", "chdir"},
      {"mkdir error with <d>, attr=0010: injected failure", "mkdir"},
      {"createfile error with <x>, attr=FFFF, size=1099511627775: Invalid argument", "createfile"},
      {"write error with <x>, attr=0020, size=10: injected failure", "write"},
      {"content error with <x>, attr=0020, size=10: 4 bytes missing", "content"},
      {"names error: $fsnames ended before $fsnodes", "names"},
      {"names error: injected failure", "names-failed"},
      {"nodes error: $fsnodes ends with 31 stray bytes", "nodes"},
      {"nodes error: injected failure", "nodes-failed"},
      {"nodes error: depth rises from 0 to 2 at record 2", "depth"},
  };
  for (const auto& [line, kind] : good) EXPECT_EQ(classify_fake_log_line(line), kind) << line;
  for (const char* bad : {"", "chdir error with <a> attr=20: Not a directory", "chdir error with <a> attr=0020: ",
                          "createfile error with <x>, attr=0020, size=-1: Invalid argument",
                          "content error with <x>, attr=0020, size=10: 0 bytes missing",
                          "nodes error: $fsnodes ends with 32 stray bytes", "Invalid argument",
                          "nodes error: depth rises from 1 to 2 at record 2", "nodes error: ",
                          "chdir error with <..>: injected failure"}) {
    EXPECT_EQ(classify_fake_log_line(bad), "") << bad;
  }
}

// Entries named like the links in a hostile target, and a name that decodes
// to "..", in every mode: links are replaced or refused, never followed.
TEST(FuzzCheck, HostileNamesInAHostileTargetStayInside) {
  std::string nodes = record(0, 0x10, 0) + record(1, 0x20, 4) + record(0, 0x20, 4) + record(0, 0x20, 4) +
                      record(0, 0x21, 4) + record(0, 0x20, 4);
  const std::string names = "dlink\ninner\nflink\nhlink\n\xC0\xAE\xC0\xAE\nfifo\n";
  for (int mode = 0; mode < 128; ++mode) {
    EXPECT_EQ(joined(check(make_fuzz_input(static_cast<std::uint8_t>(mode), {}, {}, {}, nodes, names,
                                           "aaaabbbbccccddddeeee"))),
              "")
        << mode;
  }
}

// Entries of the target swapped for links to the outside between calls, at
// every step of a small run: nothing outside is ever touched.
TEST(FuzzCheck, LinksSwappedInAtAnyStepLeadNowhere) {
  std::string nodes = record(0, 0x10, 0) + record(1, 0x10, 0) + record(2, 0x20, 3) + record(1, 0x20, 3) +
                      record(0, 0x10, 0) + record(1, 0x20, 3);
  const std::string names = "a\nb\nf\ng\nc\nh\n";
  for (int at = 1; at < 60; ++at) {
    for (std::uint8_t choice : {0x00, 0x41, 0x42, 0x83, 0xC4}) {
      for (int mode : {0, kModeHostileTarget | kModeWindows, int{kModeRunInTarget}}) {
        const FuzzSwap swap{static_cast<std::uint8_t>(at), choice};
        EXPECT_EQ(joined(check(make_fuzz_input(static_cast<std::uint8_t>(mode), {}, {}, swap, nodes, names,
                                               "111222333"))),
                  "")
            << at << " " << int{choice} << " " << mode;
      }
    }
  }
}

// Every injectable operation failing at each of its first calls, once and
// always; with the whole content and with it ending inside the long body
// (which a writer moves from its offset).
TEST(FuzzCheck, EveryInjectableFailureIsLoggedOnceOrHarmless) {
  std::string nodes = record(0, 0x10, 0) + record(1, 0x20, 20000) + record(1, 0x20, 3) + record(0, 0x20, 0);
  const std::string names = "d\nbig\nsmall\nempty\n";
  const std::string whole = std::string(20000, 'b') + "sss";
  for (const std::string& content : {whole, whole.substr(0, 12000)}) {
    for (std::uint8_t op = 1; op <= 12; ++op) {
      for (std::uint8_t nth : {0, 1, 2, 3, 0xFF}) {
        for (int mode : {0, kModePartialWrites | kModePieces, kModeRunInTarget | kModeHostileTarget,
                         kModeWriters | kModePartialWrites}) {
          EXPECT_EQ(joined(check(make_fuzz_input(static_cast<std::uint8_t>(mode), {op, nth}, {}, {}, nodes, names,
                                                 content))),
                    "")
              << int{op} << " " << int{nth} << " " << mode << " " << content.size();
        }
      }
    }
  }
}

}  // namespace
