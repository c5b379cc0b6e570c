#include <gtest/gtest.h>

#include "main/fsrestore_main.h"
#include "test_restorer.h"

namespace {

using Calls = std::vector<std::string>;

// The log is made first, so one that cannot be made is told before a pipe
// is waited for; a start that fails after it removes it again.
TEST(RestoreDriver, EachStartUpFailureSaysWhyAndLeavesNoLog) {
  const Calls log = {"open_start_dir", "create_file $errors", "identity $errors"};
  const Calls streams = {"open_stream d/$content", "identity d/$content", "open_stream d/$fsnames",
                         "identity d/$fsnames",    "open_stream d/$fsnodes", "identity d/$fsnodes"};
  const Calls removed = {"close $errors", "remove_file $errors"};
  auto upto = [&](std::size_t n, Calls more, bool remove = true) {
    Calls out = log;
    out.insert(out.end(), streams.begin(), streams.begin() + n);
    out.insert(out.end(), more.begin(), more.end());
    if (remove) out.insert(out.end(), removed.begin(), removed.end());
    return out;
  };
  struct Case {
    const char* what;
    Op failing_op;
    std::u16string failing_name;
    Calls calls;  // everything the run asked of the platform
    const char* err;
  } cases[] = {
      {"content stream missing", Op::kOpenStream, u"d/$content", upto(0, {"open_stream d/$content"}),
       "fsrestore: cannot open d/$content: injected failure\n"},
      {"names stream missing", Op::kOpenStream, u"d/$fsnames", upto(2, {"open_stream d/$fsnames"}),
       "fsrestore: cannot open d/$fsnames: injected failure\n"},
      {"node stream missing", Op::kOpenStream, u"d/$fsnodes", upto(4, {"open_stream d/$fsnodes"}),
       "fsrestore: cannot open d/$fsnodes: injected failure\n"},
      {"starting directory not openable", Op::kOpenStartDir, u"", {"open_start_dir"},
       "fsrestore: cannot open the starting directory: injected failure\n"},
      {"log not creatable", Op::kCreateFile, u"$errors", {"open_start_dir", "create_file $errors"},
       "fsrestore: cannot create $errors: injected failure\n"},
      {"target not enterable", Op::kOpenTarget, u"", upto(6, {"open_target target"}),
       "fsrestore: cannot enter the target target: injected failure\n"},
  };
  for (const Case& c : cases) {
    auto r = TestRestorer::make();
    r->fake.fail(c.failing_op, c.failing_name);
    TestDump d;
    d.file(0, u"f", "x");
    EXPECT_EQ(r->run(d, {"d/", "target"}), 1) << c.what;
    EXPECT_EQ(r->fake.calls, c.calls) << c.what;
    EXPECT_EQ(r->fake.console, "basepath=<d/>\n") << c.what;
    EXPECT_EQ(r->fake.errors_out, c.err) << c.what;
    EXPECT_EQ(r->fake.find(u"$errors"), nullptr) << c.what;
  }
}

TEST(RestoreDriver, WithoutArgumentsTheStartingDirectoryIsDumpAndTarget) {
  auto r = TestRestorer::make();
  TestDump d;
  d.file(0, u"f", "x");
  r->fake.add_dump(d.nodes, d.names, d.content);
  EXPECT_EQ(r->run_program(), 0);
  EXPECT_EQ(r->fake.calls_of("open_stream"),
            (Calls{"open_stream $content", "open_stream $fsnames", "open_stream $fsnodes"}));
  EXPECT_EQ(r->fake.calls_of("open_target").size(), 0u);
  EXPECT_EQ(r->fake.find(u"f")->body, "x");
  EXPECT_TRUE(r->fake.console.starts_with("basepath=<>\n"));
  EXPECT_EQ(r->fake.open_labels(), Calls{"."});
}

TEST(RestoreDriver, ABasePathWithNoRoomForTheSuffixIsAStartUpFailure) {
  for (std::size_t length : {32768u - 9u, 32768u - 8u, 40000u}) {
    auto r = TestRestorer::make();
    const std::string base(length, 'b');
    r->fake.args = {base};
    const bool fits = length + 8 + 1 <= 32768;
    if (fits) r->fake.add_dump("", "", "", std::u16string(length, u'b'));
    EXPECT_EQ(r->run_program(), fits ? 0 : 1) << length;
    EXPECT_EQ(r->fake.calls_of("open_stream").size(), fits ? 3u : 0u) << length;
    EXPECT_EQ(r->fake.console.substr(0, 10), "basepath=<");
  }
}

TEST(RestoreDriver, TheRoadOfOneDirectoryAndOneFile) {
  auto r = TestRestorer::make();
  TestDump d;
  d.dir(0, u"d", 0x10, 1, 2).file(1, u"f", "abc", 0x20, 3, 4);
  EXPECT_EQ(r->run(d), 0);
  EXPECT_EQ(r->fake.calls,
            (Calls{"open_start_dir", "create_file $errors", "identity $errors", "open_stream $content",
                   "identity $content", "open_stream $fsnames", "identity $fsnames", "open_stream $fsnodes",
                   "identity $fsnodes", "open_target target", "tick 0", "read $fsnodes 65536 -> 64", "read $fsnames 65536 -> 4",
                   "make_dir d", "set_attr d 0010", "create_file f", "read $content 3 -> 3", "write f 3",
                   "set_times f", "set_attr f 0020", "close f", "read $fsnodes 65536 -> 0", "set_times d",
                   "close d", "close $content", "close $fsnames", "close $fsnodes", "close $errors"}));
  const std::string last = "dirs=1 files=1 outbytes=3 speed=3";
  EXPECT_EQ(r->fake.console, "basepath=<>\n" + last + std::string(78 - last.size(), ' ') + "\r\n");
  EXPECT_EQ(r->fake.open_labels(), (Calls{".", "target"}));
  EXPECT_EQ(r->fake.errors_out, "");
}

TEST(RestoreDriver, BrokenDumpsEndInOrderAndAreReported) {
  {
    auto r = TestRestorer::make();
    TestDump d;
    d.dir(0, u"held", 0x10, 1, 2).file(1, u"f", "abc").file(1, u"g", "de");
    d.names = "held\nf\n";  // the names run out before the records
    EXPECT_EQ(r->run(d), 0);
    EXPECT_EQ(r->fake.log_text(), "names error: $fsnames ended before $fsnodes\n");
    EXPECT_FALSE(r->fake.find(u"target/held")->times_set);  // held directories keep no times
    EXPECT_EQ(r->fake.calls_of("create_file"), (Calls{"create_file $errors", "create_file f"}));
  }
  {
    auto r = TestRestorer::make();
    TestDump d;
    d.file(0, u"a", "1").file(0, u"b", "2");
    d.nodes += std::string(1, '\x07');  // 65 bytes: two records and a stray byte
    EXPECT_EQ(r->run(d), 0);
    EXPECT_EQ(r->fake.log_text(), "nodes error: $fsnodes ends with 1 stray bytes\n");
    EXPECT_EQ(r->counters.files, 2);
  }
  {
    auto r = TestRestorer::make();
    EXPECT_EQ(r->run(TestDump{}), 0);  // an empty dump restores nothing
    EXPECT_EQ(r->fake.log_text(), "");
    EXPECT_TRUE(r->fake.find(u"target")->children.empty());
  }
}

TEST(RestoreDriver, AFailingReadOfTheNodeOrNamesStreamIsLoggedAndEndsTheRunLikeItsEnd) {
  {
    auto r = TestRestorer::make();
    FakePlatform::Failure failure{Op::kRead, u"$fsnodes", 1, "Input/output error"};
    failure.skip = 1;
    r->fake.inject(failure);
    r->fake.stream_chunk(u"$fsnodes", 32);  // one record a read
    TestDump d;
    d.dir(0, u"d", 0x10, 1, 2).file(1, u"f", "abc").file(0, u"never", "x");
    EXPECT_EQ(r->run(d), 0);
    EXPECT_EQ(r->fake.log_text(), "nodes error: Input/output error\n");
    EXPECT_EQ(r->counters.dirs, 1);
    EXPECT_EQ(r->counters.files, 0);
    EXPECT_TRUE(r->fake.find(u"target/d")->times_set);  // left as at the stream's end
    EXPECT_EQ(r->fake.open_labels(), (Calls{".", "target"}));
  }
  {
    auto r = TestRestorer::make();
    FakePlatform::Failure failure{Op::kRead, u"$fsnames", 1, "Is a directory"};
    failure.skip = 1;
    r->fake.inject(failure);
    r->fake.stream_chunk(u"$fsnames", 2);  // one name a read
    TestDump d;
    d.file(0, u"a", "1").file(0, u"b", "2");
    EXPECT_EQ(r->run(d), 0);
    EXPECT_EQ(r->fake.log_text(), "names error: Is a directory\n");
    EXPECT_EQ(r->fake.find(u"target/a")->body, "1");
    EXPECT_EQ(r->fake.find(u"target/b"), nullptr);
  }
}

TEST(RestoreDriver, ALogThatCannotBeWrittenGivesStatusTwoAndOneLineOnStandardError) {
  for (Op op : {Op::kWrite, Op::kClose}) {
    auto r = TestRestorer::make();
    r->fake.fail(op, u"$errors", -1, "No space left on device");
    r->fake.fail(Op::kCreateFile, u"bad", -1, "Permission denied");
    TestDump d;
    d.file(0, u"bad", "1").file(0, u"good", "2");
    EXPECT_EQ(r->run(d), 2) << FakePlatform::op_name(op);
    EXPECT_EQ(r->fake.errors_out,
              "fsrestore: 1 entry not restored whole; see $errors\n"
              "fsrestore: $errors: No space left on device: the log is incomplete\n");
    EXPECT_EQ(r->fake.find(u"target/good")->body, "2");  // the run went on to the end
    EXPECT_TRUE(r->fake.console.ends_with("\r\n"));
  }
  {
    // A clean run never writes to the log, so nothing can fail there.
    auto r = TestRestorer::make();
    r->fake.fail(Op::kWrite, u"$errors");
    TestDump d;
    d.file(0, u"good", "2");
    EXPECT_EQ(r->run(d), 0);
    EXPECT_EQ(r->fake.errors_out, "");
  }
}

TEST(RestoreDriver, HelpAndVersionAnswerWithoutTouchingAnything) {
  for (const char* arg : {"--help", "-h", "--version"}) {
    auto r = TestRestorer::make();
    r->fake.args = {arg};
    EXPECT_EQ(fsrestore_main(r->fake), 0);
    EXPECT_TRUE(r->fake.calls.empty()) << arg;
    EXPECT_NE(r->fake.console.find("fsrestore"), std::string::npos) << arg;
  }
}

// Streams arriving through pipes: records and names are taken as soon as
// they are whole, however the bytes are cut, and the tree is the same.
TEST(RestoreDriver, StreamsDeliveredInPiecesRestoreTheSameTree) {
  TestDump d;
  const int count = 65536 / 32 * 3 + 5;
  for (int i = 0; i < count; ++i) {
    std::u16string name = u"f";
    name += static_cast<char16_t>(u'a' + i % 26);
    name += std::u16string(1, static_cast<char16_t>(u'A' + i / 26 % 26));
    name += std::u16string(1, static_cast<char16_t>(u'0' + i / 676));
    if (i % 50 == 0) {
      d.dir(0, name + u"d").file(1, u"in", "ii");
    }
    d.file(0, name, std::string(i % 3, 'x'));
  }
  d.nodes += "abc";
  struct Pieces {
    std::uint32_t nodes, names, all;
  } pieces[] = {{0, 0, 0}, {0, 0, 7}, {13, 1, 0}, {31, 3, 0}};
  std::string reference;
  for (const Pieces& p : pieces) {
    auto r = TestRestorer::make();
    r->fake.read_chunk = p.all;
    r->fake.add_dump(d.nodes, d.names, d.content);
    if (p.nodes) r->fake.stream_chunk(u"$fsnodes", p.nodes);
    if (p.names) r->fake.stream_chunk(u"$fsnames", p.names);
    r->fake.mkdir_p(u"target");
    r->fake.args = {"", "target"};
    EXPECT_EQ(r->run_program(), 0);
    EXPECT_EQ(r->counters.outbytes, d.content.size());
    EXPECT_EQ(r->fake.log_text(), "nodes error: $fsnodes ends with 3 stray bytes\n");
    std::string tree;
    for (const auto& [key, node] : r->fake.find(u"target")->children) {
      tree += FakePlatform::utf8(node->name) + "=" + node->body + (node->times_set ? "!" : "") + ";";
    }
    if (reference.empty()) reference = tree;
    EXPECT_EQ(tree, reference) << p.nodes << "/" << p.names << "/" << p.all;
  }
  EXPECT_EQ(std::count(reference.begin(), reference.end(), ';'), count + (count + 49) / 50);
}

}  // namespace
