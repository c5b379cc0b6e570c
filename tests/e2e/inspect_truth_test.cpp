// What --check and --list promise, against the real binary: --check ends on
// streams that never end, a dump it passes restores without a log line, and
// every listing line reads back to the names of its entry.
#include <unistd.h>

#include <random>

#include "e2e_support.h"

namespace e2e {
namespace {

const FileTime kT = DumpBuilder::filetime(1700000000, 1234567);

FsNode record(int depth, bool dir, std::uint64_t size, std::uint16_t attr) {
  FsNode n;
  n.depth = static_cast<std::uint8_t>(depth);
  n.attr = dir ? static_cast<std::uint16_t>(attr | 0x10) : attr;
  n.size = dir ? 0 : size;
  n.creation_time = kT;
  n.write_time = kT;
  return n;
}

// One stream of a small dump is replaced by a link to /dev/zero, a stream
// that never ends: the check still ends, with one line for it, and so does
// the listing; a restore reads the bodies it needs from it.
TEST(InspectTruth, StreamsThatNeverEndAreToldAndTheRunEnds) {
  struct Case {
    const char* stream;
    const char* check_err;
  } cases[] = {
      {"$content", "content error: $content holds more than the 3 bytes the files' sizes add up to\n"},
      // Zero records are nameless files at depth 0: the names end first.
      {"$fsnodes", "names error: $fsnames ended before $fsnodes\n"},
      // A line that never ends: no line feed ever comes.
      {"$fsnames", "names error: a line of $fsnames runs on past 1048576 bytes\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stream);
    Scratch s;
    make_dir(s.at("dump"));
    {
      DumpBuilder d(s.at("dump/"));
      d.dir(0, u"d", 0x10, kT, kT);
      d.file(1, u"a", "abc", 0x20, kT, kT);
      ASSERT_TRUE(d.close());
    }
    const std::string stream = s.at(std::string("dump/") + c.stream);
    ASSERT_EQ(unlink(stream.c_str()), 0);
    ASSERT_EQ(symlink("/dev/zero", stream.c_str()), 0);
    for (const char* sw : {"--check", "--list"}) {
      Child child;
      ASSERT_TRUE(s.start(child, {sw, "dump/"}));
      const RunResult r = s.finish(child, 30);
      if (std::string(sw) == "--check") {
        EXPECT_EQ(r.status, 3);
        EXPECT_EQ(r.err, c.check_err);
      } else {
        EXPECT_EQ(r.status, 0);
      }
    }
    // The restore takes bodies from a character device too (on both builds).
    if (std::string(c.stream) != "$content") continue;
    make_dir(s.at("t"));
    const RunResult r = s.run({"-q", "dump/", "t"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(s.at("t/d/a")), std::string(3, '\0'));
  }
}

// --- listing lines read back --------------------------------------------

// Characters a listing must never show as they are: controls, the line
// and paragraph separators, and the format characters (Cf).
bool must_be_escaped(char32_t c) {
  static const char32_t cf[][2] = {
      {0x00AD, 0x00AD}, {0x0600, 0x0605},   {0x061C, 0x061C},   {0x06DD, 0x06DD},   {0x070F, 0x070F},
      {0x0890, 0x0891}, {0x08E2, 0x08E2},   {0x180E, 0x180E},   {0x200B, 0x200F},   {0x2028, 0x202E},
      {0x2060, 0x2064}, {0x2066, 0x206F},   {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},   {0x110BD, 0x110BD},
      {0x110CD, 0x110CD}, {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0001, 0xE0001},
      {0xE0020, 0xE007F}};
  if (c < 0x20 || (c >= 0x7F && c < 0xA0)) return true;
  for (const auto& r : cf) {
    if (c >= r[0] && c <= r[1]) return true;
  }
  return false;
}

// The path of a listing line (after its first four spaces) read back by
// the grammar of the README: components joined by "/", and in them "\xHH",
// "\uHHHH" (a UTF-16 unit) and "\UHHHHHHHH" (a code point) escapes and
// UTF-8 otherwise. Fails the test on anything else.
std::vector<std::u16string> read_path(const std::string& text) {
  std::vector<std::u16string> components(1);
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char b = static_cast<unsigned char>(text[i]);
    char32_t c;
    if (b == '/') {
      components.emplace_back();
      ++i;
      continue;
    }
    if (b == '\\') {
      const char kind = i + 1 < text.size() ? text[i + 1] : 0;
      const std::size_t digits = kind == 'x' ? 2 : kind == 'u' ? 4 : kind == 'U' ? 8 : 0;
      const std::string hex = digits == 0 ? "" : text.substr(i + 2, digits);
      const bool well_formed = hex.size() == digits && digits > 0 &&
                               hex.find_first_not_of("0123456789ABCDEF") == std::string::npos;
      EXPECT_TRUE(well_formed) << "a backslash that starts no escape in " << text;
      if (!well_formed) return {};
      c = static_cast<char32_t>(std::stoul(hex, nullptr, 16));
      i += 2 + digits;
    } else {
      const int length = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
      c = length == 1 ? b : b & (0x7F >> length);
      for (int k = 1; k < length; ++k) c = c << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3F);
      EXPECT_FALSE(must_be_escaped(c)) << "U+" << std::hex << +c << " unescaped in " << text;
      i += length;
    }
    if (c >= 0x10000) {
      components.back() += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      components.back() += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      components.back() += static_cast<char16_t>(c);
    }
  }
  return components;
}

TEST(InspectTruth, EveryListingLineReadsBackToItsEntrysNames) {
  // The top-level file "d" + DEL and the file "x7F" in directory "d" must
  // not list alike, nor a name that spells an escape itself.
  const std::vector<std::pair<int, std::u16string>> entries = {
      {0, u"d"},
      {1, u"x7F"},
      {1, u"x\\x41"},
      {1, u"a/b"},
      {1, u"\u202Eexe.txt"},
      {1, u"two\u2028lines\u2029"},
      {1, u"\u2066iso\u2069 \u200B\u00AD\uFEFF"},
      {1, u"tag\U000E0001\U000E0041 \U0001F334"},
      {1, u"c1\u0085 del\x7F tab\t"},
      {1, u"lone\xD800 \xDC00"},
      {0, u"d\x7F"},
      {0, u"back\\slash"},
  };
  Scratch s;
  make_dir(s.at("dump"));
  {
    DumpBuilder d(s.at("dump/"));
    for (const auto& [depth, name] : entries) {
      if (name == u"d") {
        d.dir(static_cast<std::uint8_t>(depth), name, 0x10, kT, kT);
      } else {
        d.file(static_cast<std::uint8_t>(depth), name, "", 0x20, kT, kT);
      }
    }
    ASSERT_TRUE(d.close());
  }
  const RunResult r = s.run({"--list", "dump/"});
  EXPECT_EQ(r.status, 0);
  std::vector<std::u16string> parents;
  std::size_t at = 0;
  for (const auto& [depth, name] : entries) {
    SCOPED_TRACE(DumpBuilder::name_line(name));
    const std::size_t end = r.out.find('\n', at);
    ASSERT_NE(end, std::string::npos);
    const std::string line = r.out.substr(at, end - at);
    at = end + 1;
    std::size_t path_at = 0;
    for (int space = 0; space < 4; ++space) path_at = line.find(' ', path_at) + 1;
    parents.resize(depth);
    std::vector<std::u16string> want = parents;
    want.push_back(name);
    EXPECT_EQ(read_path(line.substr(path_at)), want) << line;
    parents.push_back(name);
  }
  EXPECT_EQ(at, r.out.size());
}

// --- a dump --check passes restores cleanly ------------------------------

// Random small dumps with every fault the check must see: refused names,
// the same name twice, names that differ in case, names around the length
// limits, depth jumps, bodies short or long, stray node bytes, names that
// run out or run on.
class RandomDump {
 public:
  explicit RandomDump(std::uint32_t seed) : random_(seed) {}

  void write(const std::string& base) {
    DumpBuilder d(base);
    std::uint64_t sizes = 0;
    const int records = 1 + pick(8);
    int depth = pick(20) == 0 ? 1 : 0;
    bool dir = true;
    std::vector<std::string> lines;
    for (int i = 0; i < records; ++i) {
      if (i > 0) {
        const int move = pick(6);
        if (move <= 1 && dir) ++depth;                 // into the directory just made
        if (move == 2 && depth > 0) depth -= 1 + pick(depth);
        if (move == 3 && pick(4) == 0) depth += 1 + pick(3);  // a jump, or below a file
      }
      dir = pick(3) == 0;
      const std::uint64_t size = dir ? 0 : pick(3) == 0 ? 0 : 1 + pick(40);
      sizes += size;
      // Plain, read-only or hidden.
      static const std::uint16_t kAttrs[] = {0x20, 0x20, 0x21, 0x22};
      d.raw_node(record(depth, dir, size, kAttrs[pick(4)]));
      lines.push_back(name_line());
    }
    const int names_fault = pick(20);
    if (names_fault == 0) lines.pop_back();
    if (names_fault == 1) lines.push_back("surplus\n");
    if (names_fault == 2) lines.back().pop_back();  // the last line loses its line feed
    for (const std::string& line : lines) d.raw_name_line(line);
    if (pick(20) == 0) d.raw_nodes_bytes(std::string(1 + pick(31), '\x01'));
    const int content_fault = pick(16);
    std::uint64_t length = sizes;
    if (content_fault == 0 && length > 0) length -= 1 + pick(static_cast<int>(length));
    if (content_fault == 1) length += 1 + pick(5);
    const std::string body = pattern(length, static_cast<std::uint32_t>(random_()));
    d.content(body.data(), body.size());
    ASSERT_TRUE(d.close());
  }

 private:
  int pick(int n) { return static_cast<int>(random_() % static_cast<std::uint32_t>(n)); }

  // A name line from a small pool, so names meet often.
  std::string name_line() {
    static const std::u16string kPlain[] = {u"a", u"b", u"c", u"d", u"e", u"f", u"g", u"h", u"i", u"j",
                                            u"A", u"B", u"\u00E9", u"\u00C9", u"k\u0131", u"KI"};
    // Around both length limits: 255 units on Windows, 255 UTF-8 bytes on Linux.
    static const std::u16string kLong[] = {std::u16string(255, u'n'), std::u16string(256, u'n'),
                                           std::u16string(127, u'\u00E9') + u"n", std::u16string(128, u'\u00E9'),
                                           std::u16string(85, u'\u20AC'), std::u16string(86, u'\u20AC')};
    static const std::u16string kRefused[] = {u"", u".", u"..", u"a/b", u"CON", u"x.", u"y ", u"a:b", u"a\\b",
                                              u"q?", u"nul.txt"};
    switch (pick(40)) {
      case 0:
        return DumpBuilder::name_line(kRefused[pick(11)]);
      case 1:
      case 2: {
        // Under Wine a Windows name reaches a Linux file system as UTF-8,
        // where only 255 bytes fit: its long names stay ASCII.
        const std::u16string& name = kLong[windows() ? pick(2) : pick(6)];
        return DumpBuilder::name_line(name);
      }
      case 3:
        return "\xC0\xAE\xC0\xAE\n";  // ".." spelled overlong
      default:
        return DumpBuilder::name_line(kPlain[pick(16)]);
    }
  }

  std::mt19937 random_;
};

TEST(InspectTruth, ADumpTheCheckPassesRestoresWithoutALogLine) {
  const int dumps = 200;
  Scratch s;
  int passed = 0;
  for (int i = 0; i < dumps; ++i) {
    // (built piece by piece: GCC 12 warns falsely on "d" + to_string(i) + "/")
    std::string dump = "d", target = "t";
    dump.append(std::to_string(i)).append("/");
    target.append(std::to_string(i));
    make_dir(s.at(dump));
    make_dir(s.at(target));
    RandomDump(20240601u + static_cast<std::uint32_t>(i)).write(s.at(dump));
    const RunResult check = s.run({"--check", dump});
    ASSERT_TRUE(check.status == 0 || check.status == 3) << dump << "\n" << check.err;
    const RunResult restore = s.run({dump, target});
    const std::string log = read_file(s.at("$errors"));
    if (check.status == 0) {
      ++passed;
      EXPECT_EQ(log, "") << dump << " passed the check:\n" << check.out << check.err;
      EXPECT_EQ(restore.status, 0) << dump << "\n" << restore.out << restore.err;
    }
  }
  // Both outcomes are common, or the comparison says little.
  EXPECT_GT(passed, dumps / 6);
  EXPECT_LT(passed, dumps - dumps / 6);
}

}  // namespace
}  // namespace e2e
