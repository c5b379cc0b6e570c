// --list and --check: what they print, their exit statuses, and that they
// write nothing anywhere. Listings are compared byte for byte with golden
// files under tests/golden (FSRESTORE_UPDATE_GOLDEN=1 rewrites them).
#include <unistd.h>

#include <cstdlib>

#include "e2e_support.h"

namespace e2e {
namespace {

const FileTime kT = DumpBuilder::filetime(1700000000, 1234567);
const char* const kStreams[] = {"$content", "$fsnames", "$fsnodes"};

std::string golden_path(const std::string& name) {
  return std::string(FSRESTORE_SOURCE_DIR) + "/tests/golden/" + name + (windows() ? ".windows" : ".linux");
}

void expect_golden(const std::string& name, const std::string& actual) {
  const std::string path = golden_path(name);
  const char* update = std::getenv("FSRESTORE_UPDATE_GOLDEN");
  if (update && *update) write_file(path, actual);
  EXPECT_EQ(actual, read_file(path)) << "differs from " << path;
}

// Runs over the dump, then checks that neither the working directory nor
// the target gained anything.
RunResult run_without_writing(Restore& f, const std::vector<std::string>& args) {
  f.prepare();
  const std::vector<std::string> before = list_dir(f.s.work);
  RunResult r = f.s.run(args);
  EXPECT_EQ(list_dir(f.s.work), before) << "a file appeared in the working directory";
  EXPECT_TRUE(list_dir(f.s.at("t")).empty()) << "a file appeared in the target";
  return r;
}

// The bundled sample dump in place of the fixture's.
void copy_sample(Restore& f) {
  f.prepare();
  for (const char* stream : kStreams) {
    write_file(f.s.at(std::string("dump/") + stream),
               read_file(std::string(FSRESTORE_SOURCE_DIR) + "/examples/sample/" + stream));
  }
}

// Nested Unicode and non-BMP names, a carriage return, a line feed smuggled
// in as C0 8A, a lone surrogate, a name with a separator, a path longer than
// the listing keeps, a jump of depth, then a file whose body is cut short,
// and the names ending before the records.
void build_hostile(Restore& f) {
  DumpBuilder& d = f.d.builder;
  d.dir(0, u"Café", 0x10, kT, kT);
  d.dir(1, u"日本 \U0001F334", 0x10, kT, kT);
  d.file(2, u"cr\r", "1", 0x20, kT, kT);
  d.raw_node([] { FsNode n; n.size = 2; n.depth = 2; n.attr = 0x20; n.write_time = kT; return n; }());
  d.raw_name_line("line\xC0\x8A" "feed\n");
  d.content("22", 2);
  d.file(2, u"lone\xD800.txt", "333", 0x22, kT, kT);
  d.file(1, u"a/b", "", 0x20, kT, kT);
  d.file(1, u"CON", "", 0x20, kT, kT);
  const std::u16string long_name(250, u'x');
  for (int depth = 0; depth < 34; ++depth) d.dir(static_cast<std::uint8_t>(depth + 1), long_name, 0x10, kT, kT);
  d.dir(0, u"jump", 0x10, kT, kT);
  d.file(3, u"deep.txt", "4", 0x20, kT, kT);
  d.file_header(0, u"short.bin", 10, 0x20, kT, kT);
  d.content("55555", 5);
  d.file_header(0, u"gone.bin", 3, 0x20, kT, kT);
  d.file_header(0, u"nameless", 0, 0x20, kT, kT);
  f.prepare();
  // The last record's name line loses its line feed.
  std::string names = read_file(f.s.at("dump/$fsnames"));
  names.pop_back();
  write_file(f.s.at("dump/$fsnames"), names);
}

TEST(DumpListing, SampleDumpIsListedAndCheckedWritingNothing) {
  Restore f(kT);
  copy_sample(f);
  RunResult r = run_without_writing(f, {"--list", "dump/", "t"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "fsrestore: ignoring the extra argument 't'\n");
  expect_golden("sample.list", r.out);
  r = run_without_writing(f, {"--check", "dump/"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "dirs=7 files=12 bytes=28084 problems=0\n");
  EXPECT_EQ(r.err, "");
}

TEST(DumpListing, HostileDumpIsListedOneLinePerRecordWithFaultsOnStderr) {
  Restore f(kT);
  build_hostile(f);
  RunResult r = run_without_writing(f, {"--list", "dump/"});
  EXPECT_EQ(r.status, 0);
  expect_golden("hostile.list", r.out);
  expect_golden("hostile.list.err", r.err);
  // Every line is a record: type, attr, size, time, path.
  std::size_t lines = 0;
  for (char c : r.out) lines += c == '\n';
  EXPECT_EQ(lines, 45u);
  EXPECT_EQ(r.out.find('\r'), std::string::npos);
}

TEST(DumpListing, StrayNodeBytesAreToldAfterTheListing) {
  Restore f(kT);
  f.d.file(0, u"a.txt", "abc");
  f.d.builder.raw_nodes_bytes(std::string(7, '\x01'));
  RunResult r = run_without_writing(f, {"--list", "dump/"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "- 0020 3 2023-11-14T22:13:20.1234567Z a.txt\n");
  EXPECT_EQ(r.err, "nodes error: $fsnodes ends with 7 stray bytes\n");
}

struct Inconsistency {
  const char* what;
  void (*build)(DumpBuilder& d);
  const char* err;
};

TEST(DumpCheck, EachInconsistencyIsOneLineAndStatusThree) {
  const Inconsistency cases[] = {
      {"names fewer than records",
       [](DumpBuilder& d) {
         d.file(0, u"a", "1", 0x20, kT, kT);
         d.raw_node([] { FsNode n; n.depth = 0; n.attr = 0x20; return n; }());
       },
       "names error: $fsnames ended before $fsnodes\n"},
      {"names more than records",
       [](DumpBuilder& d) {
         d.file(0, u"a", "1", 0x20, kT, kT);
         d.raw_name_line("extra\n");
       },
       "names error: $fsnames goes on after the line of the last record (record 1)\n"},
      {"content shorter than the sizes",
       [](DumpBuilder& d) {
         d.file_header(0, u"a", 5, 0x20, kT, kT);
         d.content("123", 3);
       },
       "content error: the files' sizes add up to 5 bytes, $content holds 3\n"},
      {"content longer than the sizes",
       [](DumpBuilder& d) {
         d.file(0, u"a", "1", 0x20, kT, kT);
         d.content("more", 4);
       },
       "content error: $content holds more than the 1 bytes the files' sizes add up to\n"},
      {"stray node bytes",
       [](DumpBuilder& d) {
         d.file(0, u"a", "1", 0x20, kT, kT);
         d.raw_nodes_bytes("xyz");
       },
       "nodes error: $fsnodes ends with 3 stray bytes\n"},
      {"first record below the top",
       [](DumpBuilder& d) { d.file(1, u"a", "1", 0x20, kT, kT); },
       "order error with <a>: the first record has depth 1, not 0\n"},
      {"a jump of depth",
       [](DumpBuilder& d) {
         d.dir(0, u"d", 0x10, kT, kT);
         d.file(2, u"a", "1", 0x20, kT, kT);
       },
       "order error with <d/a>: depth rises from 0 to 2\n"},
      {"entries below a file",
       [](DumpBuilder& d) {
         d.file(0, u"f", "", 0x20, kT, kT);
         d.file(1, u"a", "1", 0x20, kT, kT);
       },
       "order error with <f/a>: depth rises below a file\n"},
      {"a name holding a separator",
       [](DumpBuilder& d) { d.file(0, u"a/b", "1", 0x20, kT, kT); },
       "createfile error with <a\\x2Fb>, attr=0020, size=1: the name is refused on this system\n"},
      {"a directory named ..",
       [](DumpBuilder& d) { d.dir(0, u"..", 0x10, kT, kT); },
       "chdir error with <..> attr=0010: the name is refused on this system\n"},
  };
  for (const Inconsistency& c : cases) {
    SCOPED_TRACE(c.what);
    Restore f(kT);
    c.build(f.d.builder);
    RunResult r = run_without_writing(f, {"--check", "dump/"});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, c.err);
    EXPECT_NE(r.out.find(" problems=1\n"), std::string::npos) << r.out;
  }
}

TEST(DumpCheck, NamesWindowsRefusesAreProblemsThereOnly) {
  Restore f(kT);
  f.d.file(0, u"CON", "");
  f.d.dir(0, u"trailing.");
  RunResult r = run_without_writing(f, {"--check", "dump/"});
  if (windows()) {
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err,
              "createfile error with <CON>, attr=0020, size=0: the name is refused on this system\n"
              "chdir error with <trailing.> attr=0010: the name is refused on this system\n");
    EXPECT_EQ(r.out, "dirs=1 files=1 bytes=0 problems=2\n");
  } else {
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "dirs=1 files=1 bytes=0 problems=0\n");
  }
}

// A missing stream ends every mode with status 1 and writes nothing. A
// restore prints only the basepath line; --check and --list name each
// stream that does not open, with a hint where the base path lacks its
// trailing separator.
TEST(MissingStream, StatusOneInEveryMode) {
  for (const char* missing : kStreams) {
    SCOPED_TRACE(missing);
    Restore f(kT);
    copy_sample(f);
    ASSERT_EQ(unlink(f.s.at(std::string("dump/") + missing).c_str()), 0);
    expect_startup_failure(run_without_writing(f, {"dump/", "t"}), "dump/");
    for (bool with_separator : {true, false}) {
      const std::string base = with_separator ? "dump/" : "dump";
      std::string want;
      for (const char* stream : kStreams) {
        if (!with_separator || stream == missing) {
          want += base + stream + ": " + (windows() ? "File not found." : "No such file or directory");
          if (!with_separator) want += windows() ? "; did you mean dump\\ ?" : "; did you mean dump/ ?";
          want += "\n";
        }
      }
      for (const char* sw : {"--check", "--list"}) {
        SCOPED_TRACE(sw + (" " + base));
        RunResult r = run_without_writing(f, {sw, base});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, want);
      }
    }
  }
}

TEST(DumpSwitches, CountAnywhereBeforeTheDoubleDash) {
  Restore f(kT);
  copy_sample(f);
  // After "--", "--list" is a target like any other name.
  RunResult r = f.s.run({"dump/", "--", "--list"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.err.starts_with("fsrestore: cannot enter the target --list: ")) << r.err;
  // An unknown option is a usage error, never a base path.
  RunResult u = f.s.run({"--lis"});
  EXPECT_EQ(u.status, 1);
  EXPECT_EQ(u.out, "");
  EXPECT_EQ(u.err, "fsrestore: unknown option '--lis'\nTry 'fsrestore --help'.\n");
}

}  // namespace
}  // namespace e2e
