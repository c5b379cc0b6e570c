// The pieces of --list and --check over the fake platform: time and name
// text, and a whole listing read through streams that deliver a byte at a
// time.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <set>
#include <utility>

#include "dump_builder.h"
#include "fake_platform.h"
#include "report/iso_time.h"
#include "report/name_text.h"
#include "inspect/dump_check.h"
#include "inspect/dump_listing.h"
#include "inspect/inspection.h"
#include "restore/part_filter.h"
#include "test_restorer.h"

namespace {

// One record of "$fsnodes".
std::string record(std::uint8_t depth, std::uint16_t attr, std::uint64_t size = 0) {
  FsNode n;
  n.depth = depth;
  n.attr = attr;
  n.size = size;
  std::uint8_t bytes[kFsNodeBytes];
  encode_fs_node(n, bytes);
  return std::string(reinterpret_cast<char*>(bytes), kFsNodeBytes);
}

std::string iso(FileTime t) {
  char out[kIsoTimeChars];
  return std::string(out, format_iso_time(t, out));
}

TEST(IsoTime, CoversTheWholeFiletimeRangeWithItsFraction) {
  EXPECT_EQ(iso(0), "1601-01-01T00:00:00.0000000Z");
  EXPECT_EQ(iso(DumpBuilder::filetime(0)), "1970-01-01T00:00:00.0000000Z");
  EXPECT_EQ(iso(DumpBuilder::filetime(-1, 9999999)), "1969-12-31T23:59:59.9999999Z");
  EXPECT_EQ(iso(DumpBuilder::filetime(951782400)), "2000-02-29T00:00:00.0000000Z");  // a leap day
  EXPECT_EQ(iso(DumpBuilder::filetime(4107542399, 1)), "2100-02-28T23:59:59.0000001Z");
  EXPECT_EQ(iso(~FileTime{0}), "60056-05-28T05:36:10.9551615Z");
}

std::string text(const std::u16string& name, NameTextKind kind = NameTextKind::kEntryName,
                 std::uint32_t capacity = 64, bool* cut_out = nullptr) {
  char out[64];
  bool cut = false;
  const std::uint32_t n = append_name_text(name.c_str(), kind, out, 0, capacity, &cut);
  if (cut_out) *cut_out = cut;
  return std::string(out, n);
}

TEST(NameText, IsProperUtf8WithEverythingThatCouldFakeALineEscaped) {
  EXPECT_EQ(text(u"caf\u00E9 \U0001F334"), "caf\xC3\xA9 \xF0\x9F\x8C\xB4");
  EXPECT_EQ(text(u"a\nb\rc\x7F"), "a\\x0Ab\\x0Dc\\x7F");
  EXPECT_EQ(text(u"\x85 \u2028\u2029"), "\\u0085 \\u2028\\u2029");
  // Unpaired surrogates, either half, and a pair in the wrong order.
  EXPECT_EQ(text(u"\xD800x\xDC00\xDC00\xD800"), "\\uD800x\\uDC00\\uDC00\\uD800");
  EXPECT_EQ(text(u"a/b\\c"), "a\\x2Fb\\x5Cc");
  EXPECT_EQ(text(u"dump/sub\\", NameTextKind::kPath), "dump/sub\\");
}

// Every format character (Unicode category Cf) is escaped, the
// bidirectional controls among them, and nothing beside them: each range of
// the table by its first and last character and its neighbours.
TEST(NameText, FormatCharactersAreEscapedAndTheirNeighboursKept) {
  const char32_t ranges[][2] = {
      {0x00AD, 0x00AD}, {0x0600, 0x0605}, {0x061C, 0x061C}, {0x06DD, 0x06DD},   {0x070F, 0x070F},
      {0x0890, 0x0891}, {0x08E2, 0x08E2}, {0x180E, 0x180E}, {0x200B, 0x200F},   {0x202A, 0x202E},
      {0x2060, 0x2064}, {0x2066, 0x206F}, {0xFEFF, 0xFEFF}, {0xFFF9, 0xFFFB},   {0x110BD, 0x110BD},
      {0x110CD, 0x110CD}, {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0001, 0xE0001},
      {0xE0020, 0xE007F}};
  auto utf16 = [](char32_t c) {
    if (c < 0x10000) return std::u16string(1, static_cast<char16_t>(c));
    return std::u16string{static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)),
                          static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF))};
  };
  auto escape = [](char32_t c) {
    char hex[16];
    std::snprintf(hex, sizeof hex, c < 0x10000 ? "\\u%04X" : "\\U%08X", static_cast<unsigned>(c));
    return std::string(hex);
  };
  for (const auto& r : ranges) {
    for (char32_t c : {r[0], r[1]}) EXPECT_EQ(text(utf16(c)), escape(c)) << std::hex << +c;
    for (char32_t c : {r[0] - 1, r[1] + 1}) {
      bool inside = false;
      for (const auto& o : ranges) inside = inside || (c >= o[0] && c <= o[1]);
      const bool separator = c == 0x2028 || c == 0x2029;
      if (!inside && !separator) {
        EXPECT_EQ(text(utf16(c)).find('\\'), std::string::npos) << std::hex << +c;
      }
    }
  }
}

TEST(NameText, CutsBeforeACharacterThatDoesNotFit) {
  bool cut = false;
  EXPECT_EQ(text(u"ab\U0001F334", NameTextKind::kEntryName, 5, &cut), "ab");
  EXPECT_TRUE(cut);
  EXPECT_EQ(text(u"ab\U0001F334", NameTextKind::kEntryName, 6, &cut), "ab\xF0\x9F\x8C\xB4");
  EXPECT_FALSE(cut);
}

// What --list writes of a name reads back as that name, as --only takes it;
// text it never writes is refused, and a name keeps room for a pair.
TEST(NameText, ReadsBackWhatItWritesAndNothingElse) {
  char16_t out[8];
  std::uint32_t length = 0;
  for (const std::u16string name : {u"a/b\\c", u"a\nb\x7F", u"\u00AD-", u"\U000E0001", u"\xD800x\xDC00"}) {
    const std::string written = text(name);
    const std::u16string typed(written.begin(), written.end());  // all escapes: ASCII
    const char16_t* end = read_name_text(typed.c_str(), out, 8, &length);
    ASSERT_NE(end, nullptr) << written;
    EXPECT_EQ(*end, 0) << written;
    EXPECT_EQ(std::u16string(out, length), name) << written;
  }
  const char16_t path[] = u"caf\u00E9/x";
  EXPECT_EQ(read_name_text(path, out, 8, &length), path + 4);
  EXPECT_EQ(std::u16string(out, length), u"caf\u00E9");
  for (const char16_t* bad : {u"", u"/a", u"a\\q", u"\\x4", u"\\x4a", u"\\U00110000", u"abcdefg"}) {
    EXPECT_EQ(read_name_text(bad, out, 8, &length), nullptr) << FakePlatform::utf8(bad);
  }
  EXPECT_NE(read_name_text(u"abcdef", out, 8, &length), nullptr);
}

struct View {
  FakePlatform fake;
  Inspection inspection{fake};
  DumpWalk& walk = inspection.walk;
  LineWriter& out = inspection.out;
  LineWriter& err = inspection.err;
};

// A small tree with a depth jump and a body cut short, as streams.
struct Streams {
  std::string nodes, names, content;
};
Streams broken_tree() {
  Streams s;
  s.nodes = record(0, 0x10, 0) + record(1, 0x20, 3) + record(3, 0x20, 4) + record(0, 0x20, 9);
  s.names = DumpBuilder::name_line(u"d") + DumpBuilder::name_line(u"a") + DumpBuilder::name_line(u"deep") +
            DumpBuilder::name_line(u"cut");
  s.content = "aaa" "dddd" "12";
  return s;
}

TEST(DumpListing, StreamsThatDeliverAByteAtATimeListTheSame) {
  const Streams s = broken_tree();
  std::string outputs[2];
  for (std::uint32_t chunk : {0u, 1u}) {
    auto v = std::make_unique<View>();
    v->fake.args = {"--list", "dump/"};
    v->fake.read_chunk = chunk;
    v->fake.add_dump(s.nodes, s.names, s.content, u"dump/");
    EXPECT_EQ(list_dump(v->fake, v->walk, 1, v->out, v->err), 0);
    EXPECT_EQ(v->fake.errors_out,
              "order error with <d/a/deep>: depth rises from 1 to 3\n"
              "content error with <cut>, attr=0020, size=9: 7 bytes missing\n");
    outputs[chunk] = v->fake.console;
    // Nothing but reads: no log, no directory, no file.
    for (const std::string& call : v->fake.calls) {
      EXPECT_TRUE(call.rfind("open_stream ", 0) == 0 || call.rfind("read ", 0) == 0) << call;
    }
  }
  EXPECT_EQ(outputs[0],
            "d 0010 0 1601-01-01T00:00:00.0000000Z d\n"
            "- 0020 3 1601-01-01T00:00:00.0000000Z d/a\n"
            "- 0020 4 1601-01-01T00:00:00.0000000Z d/a/deep\n"
            "- 0020 9 1601-01-01T00:00:00.0000000Z cut\n");
  EXPECT_EQ(outputs[1], outputs[0]);
}

// The restore stops where the names run out, and the check with it: the
// records after are not read, nor the content beyond the bodies named.
TEST(DumpCheck, StopsWhereTheNamesRunOutAsTheRestoreDoes) {
  Streams s = broken_tree();
  s.names = DumpBuilder::name_line(u"d") + DumpBuilder::name_line(u"a");
  auto v = std::make_unique<View>();
  v->fake.args = {"--check", "dump/"};
  v->fake.read_chunk = 5;
  v->fake.add_dump(s.nodes, s.names, s.content, u"dump/");
  EXPECT_EQ(check_dump(v->fake, v->walk, 1, v->out, v->err), 3);
  EXPECT_EQ(v->fake.errors_out, "names error: $fsnames ended before $fsnodes\n");
  EXPECT_EQ(v->fake.console, "dirs=1 files=1 bytes=3 problems=1\n");
}

// Names meet in one directory only: the same name is a problem on both
// systems, a pair that differs in case only on Windows (a warning of
// --check on POSIX, left out with -q and by --list). A directory's names are
// forgotten when the walk leaves it.
TEST(DumpCheck, NamesThatMeetInADirectory) {
  Streams s;
  const std::pair<std::uint8_t, std::u16string> tree[] = {
      {0, u"d"}, {1, u"\u00E9t\u00E9"}, {1, u"sub"}, {2, u"x"}, {1, u"\u00C9T\u00C9"}, {1, u"x"},
      {1, u"\u00E9t\u00E9"}, {0, u"e"}, {1, u"x"}, {0, u"D"}};
  for (const auto& [depth, name] : tree) {
    const bool dir = name == u"d" || name == u"sub" || name == u"e" || name == u"D";
    s.nodes += record(depth, dir ? 0x10 : 0x20);
    s.names += DumpBuilder::name_line(name);
  }
  for (NameRules rules : {NameRules::kPosix, NameRules::kWindows}) {
    const bool windows = rules == NameRules::kWindows;
    auto v = std::make_unique<View>();
    v->fake.rules = rules;
    v->fake.args = {"--check", "dump/"};
    v->fake.add_dump(s.nodes, s.names, s.content, u"dump/");
    EXPECT_EQ(check_dump(v->fake, v->walk, 1, v->out, v->err), 3);
    const std::string case_only = windows ? "collision error with <" : "collision warning with <";
    const std::string why = windows ? ">: an earlier entry in this directory has this name in another case\n"
                                    : ">: an earlier entry in this directory has this name in another case; "
                                      "Windows takes them for one\n";
    EXPECT_EQ(v->fake.errors_out, case_only + "d/\xC3\x89T\xC3\x89" + why +
                                      "collision error with <d/\xC3\xA9t\xC3\xA9>: an earlier entry in this "
                                      "directory has the same name\n" +
                                      case_only + "D" + why);
    EXPECT_EQ(v->fake.console, windows ? "dirs=4 files=6 bytes=0 problems=3\n" : "dirs=4 files=6 bytes=0 problems=1\n");
    const std::string errors = v->fake.errors_out;
    const std::string same_name =
        "collision error with <d/\xC3\xA9t\xC3\xA9>: an earlier entry in this directory has the same name\n";
    for (bool quiet : {false, true}) {
      auto q = std::make_unique<View>();
      q->fake.rules = rules;
      q->fake.args = {quiet ? "--check" : "--list", "dump/"};
      q->fake.add_dump(s.nodes, s.names, s.content, u"dump/");
      if (quiet) {
        EXPECT_EQ(check_dump(q->fake, q->walk, 1, q->out, q->err, true), 3);
        EXPECT_EQ(q->fake.console, v->fake.console);
      } else {
        EXPECT_EQ(list_dump(q->fake, q->walk, 1, q->out, q->err), 0);
      }
      EXPECT_EQ(q->fake.errors_out, windows ? errors : same_name) << (quiet ? "--check -q" : "--list");
    }
  }
}

// Past kCollisionNames names in the open directories, the rest of the
// directory is told once as not checked; its earlier names still meet, and
// the next directory is checked whole again.
TEST(DumpCheck, ADirectoryPastTheNameCapIsToldOnce) {
  auto v = std::make_unique<View>();
  std::string nodes, names;
  auto add = [&](std::uint8_t depth, bool dir, const std::string& name) {
    nodes += record(depth, dir ? 0x10 : 0x20);
    names += name + "\n";
  };
  add(0, true, "big");
  for (std::uint32_t i = 0; i < kCollisionNames + 2; ++i) add(1, false, std::to_string(i));
  add(1, false, "5");
  add(0, true, "next");
  add(1, false, "a");
  add(1, false, "a");
  v->fake.args = {"--check", "dump/"};
  v->fake.add_dump(nodes, names, "", u"dump/");
  EXPECT_EQ(check_dump(v->fake, v->walk, 1, v->out, v->err), 3);
  EXPECT_EQ(v->fake.errors_out,
            "collision warning with <big/" + std::to_string(kCollisionNames - 1) +
                ">: the open directories hold more than " + std::to_string(kCollisionNames) +
                " names; the rest of this directory is not checked for collisions\n"
                "collision error with <big/5>: an earlier entry in this directory has the same name\n"
                "collision error with <next/a>: an earlier entry in this directory has the same name\n");
}

TEST(DumpCheck, AMissingStreamIsNamedAndTheDirectoryHintGiven) {
  auto v = std::make_unique<View>();
  v->fake.args = {"--check", "dump"};
  v->fake.mkdir_p(u"dump");
  v->fake.add_stream(u"dump$content", "");
  v->fake.add_stream(u"dump$fsnames", "");
  EXPECT_EQ(check_dump(v->fake, v->walk, 1, v->out, v->err), 1);
  EXPECT_EQ(v->fake.errors_out, "dump$fsnodes: No such file or directory; did you mean dump/ ?\n");
  EXPECT_EQ(v->fake.console, "");
}

// --only takes, record for record, what --list shows at or below one of its
// paths and the directories on the way to one, whatever the depths do; and
// the restore puts what it takes where --list shows it, or nowhere.
TEST(PartFilter, TakesWhatListShowsAtBelowAndOnTheWayToEachPath) {
  struct Record {
    std::uint8_t depth;
    bool dir;
    std::u16string name;
  };
  struct Case {
    const char* what;
    std::vector<Record> records;
    std::vector<std::u16string> paths;
  } cases[] = {
      {"a rise of two levels goes into the directory last seen",
       {{0, true, u"A"}, {2, false, u"x"}, {0, true, u"B"}, {1, false, u"x"}},
       {u"A/x"}},
      {"a path left behind leads no later record",
       {{0, true, u"P"}, {1, true, u"Q"}, {2, false, u"x"}, {0, true, u"A"}, {2, false, u"x"}, {1, true, u"B"},
        {2, false, u"c"}},
       {u"P/Q/x", u"A/B"}},
      {"a first record below the top has its name alone",
       {{2, true, u"x"}, {3, false, u"y"}, {1, false, u"z"}, {0, true, u"x"}, {1, false, u"y"}},
       {u"x/y", u"z"}},
      {"the levels a rise passes over keep the path before it",
       {{0, true, u"A"}, {3, false, u"x"}, {2, false, u"y"}, {1, true, u"C"}, {2, false, u"y"}},
       {u"A/y", u"A/C"}},
      {"below a file, in the file's path",
       {{0, true, u"D"}, {1, false, u"c"}, {0, false, u"F"}, {1, false, u"x"}, {0, false, u"G"}, {2, false, u"w"}},
       {u"D", u"F/x", u"G/v"}},
  };
  for (const Case& c : cases) {
    TestDump d;
    for (const Record& r : c.records) r.dir ? d.dir(r.depth, r.name) : d.file(r.depth, r.name, "");
    std::vector<std::string> wanted;
    for (const std::u16string& p : c.paths) wanted.push_back(FakePlatform::utf8(p));
    auto v = std::make_unique<View>();
    v->fake.args = {"dump/"};
    v->fake.add_dump(d.nodes, d.names, d.content, u"dump/");
    ASSERT_TRUE(v->walk.open(0)) << c.what;
    auto part = std::make_unique<PartFilter>();
    for (const std::u16string& p : c.paths) ASSERT_TRUE(part->add(p.c_str())) << c.what;
    std::set<std::string> taken_paths;
    std::vector<bool> found(c.paths.size(), false);
    std::size_t records = 0;
    for (; v->walk.next_record() && v->walk.next_name(); ++records) {
      v->walk.locate(true);
      const EntryText e = v->walk.path();
      const std::string at(e.bytes, e.length);
      bool want = false;
      for (std::size_t i = 0; i < wanted.size(); ++i) {
        const std::string& p = wanted[i];
        found[i] = found[i] || at == p;
        const bool on_way = v->walk.node().is_directory() && p.starts_with(at + "/");
        want = want || at == p || at.starts_with(p + "/") || on_way;
      }
      const int depth = v->walk.node().depth;
      const bool took = !part->below_skipped(depth) && part->take(v->walk.node(), v->walk.name());
      EXPECT_EQ(took, want) << c.what << ": " << at;
      if (took) taken_paths.insert(at);
    }
    EXPECT_EQ(records, c.records.size()) << c.what;
    for (std::size_t i = 0; i < found.size(); ++i) EXPECT_EQ(part->found(static_cast<int>(i)), found[i]) << c.what;

    auto r = TestRestorer::make();
    auto restore_part = std::make_unique<PartFilter>();
    for (const std::u16string& p : c.paths) restore_part->add(p.c_str());
    r->fake.add_dump(d.nodes, d.names, d.content, u"dump/");
    r->fake.mkdir_p(u"target");
    r->fake.args = {"dump/", "target"};
    RestoreOptions options;
    options.part = restore_part.get();
    r->driver.run(0, 1, options);
    std::vector<std::pair<const FakePlatform::Node*, std::string>> open = {{r->fake.find(u"target"), ""}};
    while (!open.empty()) {
      const auto [dir, prefix] = open.back();
      open.pop_back();
      for (const auto& [key, node] : dir->children) {
        const std::string path = prefix + FakePlatform::utf8(node->name);
        EXPECT_TRUE(taken_paths.count(path)) << c.what << ": " << path << " is restored";
        if (node->directory()) open.push_back({node.get(), path + "/"});
      }
    }
  }
}

}  // namespace
