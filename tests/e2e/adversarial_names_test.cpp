// Hostile names in the dump, raw and only after the lenient decoding: none
// may create, change or enter anything outside the target, every refusal is
// logged under the decoded name, and the entries after each one still come
// back with their own bytes.
#include <string>
#include <vector>

#include "e2e_support.h"

namespace e2e {
namespace {

using namespace std::string_literals;

const FileTime kT = DumpBuilder::filetime(1660000000, 3141592);
// The first entry inside a directory; the chdir line carries its attr.
constexpr std::uint16_t kChildAttr = 0x21;

struct Name {
  std::string line;        // the name line's bytes, without the line feed
  std::u16string decoded;  // what the program makes of them
};

// A name as the dump writes it.
Name named(const std::u16string& name) { return {dump_text(name), name}; }

// A hostile directory with a subtree (skipped when refused, so its bodies
// must be consumed), then a good file beside it.
void hostile_subtree(Restore& f, int depth, const Name& n, bool refused) {
  CountingDump& d = f.d;
  d.raw_dir(depth, n.line, n.decoded, 0x10, !refused);
  d.file(depth + 1, u"inner.txt", "inner of " + n.line, kChildAttr);
  d.dir(depth + 1, u"sub");
  d.file(depth + 2, u"deep.txt", "deep of " + n.line);
  d.file(depth + 1, u"inner2.txt", "inner2");
  if (refused) {
    f.log.push_back(mkdir_line(dump_text(n.decoded), 0x10));
    f.log.push_back(chdir_line(dump_text(n.decoded), kChildAttr));
  }
  d.in_step(depth);
}

// A hostile file at the top, then a good file beside it.
void hostile_file(Restore& f, const Name& n, bool refused) {
  const std::string body = "hostile file body " + std::to_string(f.d.files);
  f.d.raw_file(0, n.line, n.decoded, body, 0x20, !refused);
  if (refused) f.log.push_back(createfile_line(dump_text(n.decoded), 0x20, static_cast<long long>(body.size())));
  f.d.in_step(0);
}

std::vector<Name> suffixed(const std::vector<Name>& names, const std::string& suffix) {
  std::vector<Name> out;
  for (const Name& n : names) out.push_back({n.line + suffix, n.decoded + DumpBuilder::utf16(suffix)});
  return out;
}

TEST(AdversarialNames, TraversalNamesRawAndAfterDecoding) {
  Restore f(kT);
  f.watch_outside();
  const Scratch& s = f.s;
  const std::string abs_path = s.root + "/abs_escape";

  // Refused by every build.
  const std::vector<Name> refused = {
      {"..", u".."},
      {".", u"."},
      {"", u""},
      {"a/b", u"a/b"},
      {"../x", u"../x"},
      {"../../up.txt", u"../../up.txt"},
      {abs_path, DumpBuilder::utf16(abs_path)},
      {"\xC0\xAE\xC0\xAE", u".."},          // overlong dots
      {"\xE0\x80\xAE\xE0\x80\xAE", u".."},  // three-byte overlong dots
      {".\x80", u".."},                     // a stray continuation repeats the dot
      {"\xC0\xAE", u"."},
      {"..\xC0", u".."},  // an unfinished sequence emits nothing
      {".\xE0\x80", u"."},
      {"\xC0\xAF", u"/"},
      {"..\xC0\xAF"
       "dec_up.txt",
       u"../dec_up.txt"},
      {"..\0x"s, u".."},  // a zero byte cuts the name
      {"\x80"
       "abc",
       u""},  // a zero unit at the start
      {"\xC0\x80"
       "abc",
       u""},
  };
  // Refused by the Windows build only: there they name another directory, a
  // drive or a stream. Linux restores them under their decoded names.
  std::string win_abs = "Z:" + s.root + "/win_abs.txt";
  for (char& c : win_abs) c = c == '/' ? '\\' : c;
  const std::vector<Name> windows_only = {
      {"back\\slash.txt", u"back\\slash.txt"},
      {"..\\bs_up.txt", u"..\\bs_up.txt"},
      {"\\\\", u"\\\\"},
      {"C:x", u"C:x"},
      {"x:stream", u"x:stream"},
      {"after_0.txt::$DATA", u"after_0.txt::$DATA"},  // the main stream of a restored file
      {"\\\\?\\Z:\\unc.txt", u"\\\\?\\Z:\\unc.txt"},
      {win_abs, DumpBuilder::utf16(win_abs)},
      {"\xC1\x9C", u"\\"},
      {"..\xC1\x9C"
       "dec_bs.txt",
       u"..\\dec_bs.txt"},
      {"\xC0\xBA", u":"},
      {"C\xC0\xBA"
       "dec_drive",
       u"C:dec_drive"},
      {"..\r", u"..\r"},
  };
  const bool win = windows();

  // a/b exists: a name holding a separator must be refused by rule, not
  // merely because the path it names is missing.
  f.d.dir(0, u"a");
  f.d.file(1, u"b", "the real a/b");
  for (const Name& n : refused) hostile_file(f, n, true);
  for (const Name& n : windows_only) hostile_file(f, n, win);
  // Directories at depth 0: entering one would leave the target at once.
  // Where Linux creates them they need names of their own.
  for (const Name& n : refused) hostile_subtree(f, 0, n, true);
  for (const Name& n : suffixed(windows_only, "_d")) hostile_subtree(f, 0, n, win);
  // Two levels down: a refused rise counted as entered would step up once
  // too often and climb out of the target.
  f.d.dir(0, u"n");
  f.d.dir(1, u"m");
  for (const Name& n : refused) hostile_subtree(f, 2, n, true);
  for (const Name& n : suffixed(windows_only, "_n")) hostile_subtree(f, 2, n, win);
  f.d.file(1, u"n_after.txt", "back in n");
  f.d.file(0, u"last.txt", "last");

  f.run();
  f.expect_restored();
  EXPECT_EQ(list_dir(s.work), (std::vector<std::string>{"$errors", "beside", "dump", "t"}));
}

// Names that Windows takes for devices or streams, or alters, are refused
// there; on Linux they are ordinary names. Look-alikes that name no device
// are restored by both.
TEST(AdversarialNames, DeviceAndStreamNames) {
  Restore f(kT);
  f.watch_outside();
  CountingDump& d = f.d;
  const bool win = windows();

  const std::vector<std::u16string> windows_refused = {
      u"CON",       u"nul.txt",    u"COM1",     u"LPT9.log", u"name.",     u"name ",
      u"aux",       u"Prn.tar.gz", u"CON .txt", u"lpt1 ",    u"COM\u00B9", u"name...",
      u"star*.txt", u"what?",      u"pipe|x",   u"lt<gt>",   u"quote\"",   u"tab\tname"};
  // Streams of a file restored before them: writing there would change it.
  const std::vector<std::u16string> streams = {u"good.txt::$DATA", u"good.txt:ads", u"good.txt:ads:$DATA"};
  const std::vector<std::u16string> plain = {u"CONSOLE", u"COM10", u"xNUL",  u"nul_",
                                             u"LPT",     u".name", u" lead", u"CLOCK$"};
  // Windows opens the console for these names, which fails for a new file
  // (the entry is then logged); the body must never reach the console.
  const std::vector<std::u16string> console = {u"CONIN$", u"CONOUT$", u"conout$.txt"};
  auto body_of = [](const std::u16string& name) { return "BODY OF " + utf8(name); };

  d.file(0, u"good.txt", "the good body");
  for (const auto& name : windows_refused) hostile_file(f, named(name), win);
  for (const auto& name : streams) hostile_file(f, named(name), win);
  for (const auto& name : plain) hostile_file(f, named(name), false);
  d.dir(0, u"dirs");
  for (const auto& name : windows_refused) hostile_subtree(f, 1, named(name), win);
  d.dir(0, u"con_names");
  for (const auto& name : console) {
    d.file(1, name, body_of(name));
    d.in_step(1);
  }
  d.file(0, u"last.txt", "last");

  f.run();
  for (const auto& name : console) EXPECT_EQ(f.r.out.find(body_of(name)), std::string::npos);
  // Console names are plain names on Linux. Windows may refuse them.
  for (const auto& name : console) {
    if (win && !exists(f.t("con_names/" + utf8(name)))) {
      d.expected.erase("con_names/" + utf8(name));
      f.log.push_back(createfile_line(dump_text(name), 0x20, static_cast<long long>(body_of(name).size())));
    }
  }
  f.expect_restored();
}

// Name lines longer than the line buffer and names longer than the name
// buffer are cut, consumed to their line feed, and logged under the cut
// name; the names after them stay in step with their records.
TEST(AdversarialNames, OverlongLinesAndNamesKeepLaterNamesAligned) {
  Restore f(kT);
  f.watch_outside();
  CountingDump& d = f.d;

  const std::string e_acute = "\xC3\xA9", kanji = "\xE6\x97\xA5";  // two and three bytes a unit
  auto repeat = [](const std::string& unit, std::size_t n) {
    std::string out;
    out.reserve(unit.size() * n);
    for (std::size_t i = 0; i < n; ++i) out += unit;
    return out;
  };
  struct Long {
    std::string line;
    std::string logged;  // the cut name, as the log shows it
  };
  const std::vector<Long> longs = {
      // 40000 units in a line short enough: cut to 32767 units.
      {std::string(40000, 'n'), std::string(32767, 'n')},
      // 70000 bytes: the line is cut first, then the units.
      {std::string(70000, 'x'), std::string(32767, 'x')},
      // 80000 bytes of two-byte units: 32767 units.
      {repeat(e_acute, 40000), repeat(e_acute, 32767)},
      // 21845 three-byte units fill the line to 65535 bytes exactly; one
      // more byte is the first one cut.
      {repeat(kanji, 21845), repeat(kanji, 21845)},
      {repeat(kanji, 21845) + "Z", repeat(kanji, 21845)},
      // Cut after the lead byte of a unit, the line running over four blocks.
      {repeat(kanji, 21844) + "ab" + repeat(kanji, 70000), repeat(kanji, 21844) + "ab"},
  };

  for (const Long& l : longs) {
    const std::string body = "long body " + std::to_string(d.files);
    d.raw_file(0, l.line, u"", body, 0x20, false);
    f.log.push_back(createfile_line(l.logged, 0x20, static_cast<long long>(body.size())));
    d.in_step(0);
  }
  d.dir(0, u"holder");
  for (const Long& l : longs) {
    d.raw_dir(1, l.line, u"", 0x10, false);
    d.file(2, u"inner.txt", "skipped", kChildAttr);
    d.file(2, u"inner2.txt", "skipped too");
    f.log.push_back(mkdir_line(l.logged, 0x10));
    f.log.push_back(chdir_line(l.logged, kChildAttr));
    d.in_step(1);
  }
  // The part before a zero byte names the entry, however long the rest.
  d.raw_file(0, "short.txt"s + '\0' + std::string(150000, 'z'), u"short.txt", "short body", 0x20, true);
  d.in_step(0);
  d.file(0, u"last.txt", "last");

  f.run();
  f.expect_restored();
}

}  // namespace
}  // namespace e2e
