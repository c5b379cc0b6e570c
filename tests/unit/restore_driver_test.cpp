#include <gtest/gtest.h>

#include "main/fsrestore_main.h"
#include "test_restorer.h"

namespace {

using Calls = std::vector<std::string>;

// The log is made first, under a temporary name, so one that cannot be
// made is told before a pipe is waited for; a start that fails after it
// removes it again and leaves the old log as it was.
TEST(RestoreDriver, EachStartUpFailureSaysWhyAndKeepsTheOldLog) {
  const Calls log = {"open_start_dir", "create_file $errors.4242.tmp", "identity $errors.4242.tmp"};
  const Calls streams = {"open_stream d/$content", "identity d/$content", "open_stream d/$fsnames",
                         "identity d/$fsnames",    "open_stream d/$fsnodes", "identity d/$fsnodes"};
  const Calls removed = {"close $errors.4242.tmp", "remove_file $errors.4242.tmp"};
  auto upto = [&](std::size_t n, Calls more, bool remove = true) {
    Calls out = log;
    out.insert(out.end(), streams.begin(), streams.begin() + n);
    out.insert(out.end(), more.begin(), more.end());
    if (remove) out.insert(out.end(), removed.begin(), removed.end());
    return out;
  };
  auto failing = [](Op op, std::u16string name) { return [=](FakePlatform& f) { f.fail(op, name); }; };
  struct Case {
    const char* what;
    std::function<void(FakePlatform&)> prepare;
    Calls calls;  // everything the run asked of the platform
    const char* err;
  } cases[] = {
      {"content stream missing", failing(Op::kOpenStream, u"d/$content"), upto(0, {"open_stream d/$content"}),
       "fsrestore: cannot open d/$content: injected failure\n"},
      {"names stream missing", failing(Op::kOpenStream, u"d/$fsnames"), upto(2, {"open_stream d/$fsnames"}),
       "fsrestore: cannot open d/$fsnames: injected failure\n"},
      {"node stream missing", failing(Op::kOpenStream, u"d/$fsnodes"), upto(4, {"open_stream d/$fsnodes"}),
       "fsrestore: cannot open d/$fsnodes: injected failure\n"},
      {"starting directory not openable", failing(Op::kOpenStartDir, u""), {"open_start_dir"},
       "fsrestore: cannot open the starting directory: injected failure\n"},
      {"log not creatable", failing(Op::kCreateFile, u"$errors.4242.tmp"),
       {"open_start_dir", "create_file $errors.4242.tmp"}, "fsrestore: cannot create $errors: injected failure\n"},
      {"a directory has the log's name", [](FakePlatform& f) { f.mkdir_p(u"$errors"); },
       upto(6, {"open_target target", "inspect $errors"}),
       "fsrestore: cannot create $errors: a directory has this name\n"},
      {"log not placeable", failing(Op::kRenameFile, u"$errors"),
       upto(6, {"open_target target", "inspect $errors", "rename_file $errors.4242.tmp $errors"}),
       "fsrestore: cannot create $errors: injected failure\n"},
      {"target not enterable", failing(Op::kOpenTarget, u""), upto(6, {"open_target target"}),
       "fsrestore: cannot enter the target target: injected failure\n"},
  };
  for (const Case& c : cases) {
    auto r = TestRestorer::make();
    c.prepare(r->fake);
    if (r->fake.find(u"$errors") == nullptr) r->fake.add_file(u"$errors", "old log\n");
    TestDump d;
    d.file(0, u"f", "x");
    EXPECT_EQ(r->run(d, {"d/", "target"}), 1) << c.what;
    EXPECT_EQ(r->fake.calls, c.calls) << c.what;
    EXPECT_EQ(r->fake.console, "basepath=<d/>\n") << c.what;
    EXPECT_EQ(r->fake.log_text() + r->tree(), "") << c.what;
    EXPECT_EQ(r->fake.errors_out, c.err) << c.what;
    const FakePlatform::Node* left = r->fake.find(u"$errors");
    EXPECT_TRUE(left->directory() || left->body == "old log\n") << c.what;
    EXPECT_EQ(r->fake.find(u"$errors.4242.tmp"), nullptr) << c.what;
  }
}

// Without arguments the starting directory holds the dump and the log and
// is restored into: entries named like the streams or the log are refused,
// and those files stay as they are.
TEST(RestoreDriver, WithoutArgumentsTheStartingDirectoryIsDumpAndTargetAndItsOwnFilesStay) {
  auto r = TestRestorer::make();
  TestDump d;
  d.file(0, u"$content", "c").file(0, u"$fsnames", "n").file(0, u"$errors", "e").file(0, u"plain", "p");
  r->fake.add_dump(d.nodes, d.names, d.content);
  for (const char16_t* name : {u"$content", u"$fsnames", u"$fsnodes"}) {
    r->fake.stream_is_file(name, r->fake.add_file(name, "stream"));
  }
  EXPECT_EQ(r->run_program(), 0);
  EXPECT_EQ(r->fake.calls_of("open_stream"),
            (Calls{"open_stream $content", "open_stream $fsnames", "open_stream $fsnodes"}));
  EXPECT_EQ(r->fake.calls_of("open_target").size(), 0u);
  EXPECT_EQ(r->fake.log_text(),
            "createfile error with <$content>, attr=0020, size=1: the name leads to one of this run's own files\n"
            "createfile error with <$fsnames>, attr=0020, size=1: the name leads to one of this run's own files\n"
            "createfile error with <$errors>, attr=0020, size=1: the name leads to one of this run's own files\n");
  EXPECT_EQ(r->fake.find(u"$content")->body, "stream");
  EXPECT_EQ(r->fake.find(u"plain")->body, "p");
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

// Every call of a run, in order: a directory takes its attributes when
// made and its times when left, after its entries; a file takes its body,
// then its attributes, then its times, all through its handle, then is
// closed; an empty file is never read or written.
TEST(RestoreDriver, TheRoadOfTwoDirectoriesAndTwoFiles) {
  auto r = TestRestorer::make();
  TestDump d;
  d.dir(0, u"d", 0x12, 1, 2).file(1, u"ro", "abc", 0x21, 3, 4).file(1, u"empty", "", 0x22, 5, 6);
  d.dir(0, u"e", 0x10, 7, 8);
  EXPECT_EQ(r->run(d), 0);
  EXPECT_EQ(r->fake.calls,
            (Calls{"open_start_dir", "create_file $errors.4242.tmp", "identity $errors.4242.tmp",
                   "open_stream $content", "identity $content", "open_stream $fsnames", "identity $fsnames",
                   "open_stream $fsnodes", "identity $fsnodes", "open_target target", "inspect $errors",
                   "rename_file $errors.4242.tmp $errors", "tick 0", "read $fsnodes 65536 -> 128",
                   "read $fsnames 65536 -> 13", "make_dir d", "identity d", "set_attr d 0012", "create_file ro",
                   "read $content 3 -> 3", "write ro 3", "set_attr ro 0021", "set_times ro", "close ro",
                   "create_file empty", "set_attr empty 0022", "set_times empty", "close empty", "set_times d",
                   "close d", "make_dir e", "identity e", "set_attr e 0010", "read $fsnodes 65536 -> 0", "set_times e", "close e",
                   "close $content", "close $fsnames", "close $fsnodes", "close $errors"}));
  const FakePlatform::Node* ro = r->fake.find(u"target/d/ro");
  EXPECT_EQ(ro->attr, 0x21);
  EXPECT_EQ(ro->creation, 3u);
  EXPECT_EQ(ro->access, 4u);
  EXPECT_EQ(ro->write, 4u);
  EXPECT_EQ(r->fake.find(u"target/d")->attr, 0x12);
  EXPECT_EQ(r->fake.find(u"target/d")->write, 2u);
  EXPECT_EQ(r->fake.find(u"target/e")->creation, 7u);
  const std::string last = "dirs=2 files=2 outbytes=3 speed=3";
  EXPECT_EQ(r->fake.console, "basepath=<>\n" + last + std::string(78 - last.size(), ' ') + "\r\n");
  EXPECT_EQ(r->fake.open_labels(), (Calls{".", "target"}));
  EXPECT_EQ(r->fake.log_text() + r->fake.errors_out, "");
}

// A dump that ends early, in a partial record, or with a failing read of
// its node or names stream: one line, and the run ends there as at the end
// of the stream, with status 0. Only a directory still held when the names
// run out keeps no times.
TEST(RestoreDriver, ABrokenOrFailingDumpEndsTheRunInOrderWithOneLine) {
  TestDump held, stray, empty, nested, flat;
  held.dir(0, u"held", 0x10, 1, 2).file(1, u"f", "abc").file(1, u"g", "de");
  held.names = "held\nf\n";
  stray.file(0, u"a", "1").file(0, u"b", "2");
  stray.nodes += std::string(1, '\x07');  // 65 bytes: two records and a stray byte
  nested.dir(0, u"d", 0x10, 1, 2).file(1, u"f", "abc").file(0, u"never", "x");
  flat.file(0, u"a", "1").file(0, u"b", "2");
  // The second read of the stream fails; each read delivers one record or name.
  auto second_read_fails = [](std::u16string stream, std::uint32_t chunk, std::string text) {
    return [=](FakePlatform& f) {
      FakePlatform::Failure failure{Op::kRead, stream, 1, text};
      failure.skip = 1;
      f.inject(failure);
      f.stream_chunk(stream, chunk);
    };
  };
  struct Case {
    const char* what;
    const TestDump& dump;
    std::function<void(FakePlatform&)> prepare;
    std::string log, tree, counts;
  } cases[] = {
      {"the names run out", held, nullptr, "names error: $fsnames ended before $fsnodes\n", "held/*, held/f=abc*!",
       "dirs=1 files=1 bytes=3"},
      {"a partial record", stray, nullptr, "nodes error: $fsnodes ends with 1 stray bytes\n", "a=1*!, b=2*!",
       "dirs=0 files=2 bytes=2"},
      {"an empty dump", empty, nullptr, "", "", "dirs=0 files=0 bytes=0"},
      {"a failing read of the nodes", nested, second_read_fails(u"$fsnodes", 32, "Input/output error"),
       "nodes error: Input/output error\n", "d/*!", "dirs=1 files=0 bytes=0"},
      {"a failing read of the names", flat, second_read_fails(u"$fsnames", 2, "Is a directory"),
       "names error: Is a directory\n", "a=1*!", "dirs=0 files=1 bytes=1"},
  };
  for (const Case& c : cases) {
    auto r = TestRestorer::make();
    if (c.prepare) c.prepare(r->fake);
    EXPECT_EQ(r->run(c.dump), 0) << c.what;
    EXPECT_EQ(r->fake.log_text(), c.log) << c.what;
    EXPECT_EQ(r->tree(), c.tree) << c.what;
    EXPECT_EQ(r->counted(), c.counts) << c.what;
    if (&c.dump != &held) {  // which keeps its directory open
      EXPECT_EQ(r->fake.open_labels(), (Calls{".", "target"})) << c.what;
    }
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
              "fsrestore: bad: cannot create: Permission denied\n"
              "fsrestore: 1 of 2 entries not restored; see $errors\n"
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
    if (reference.empty()) reference = r->tree();
    EXPECT_EQ(r->tree(), reference) << p.nodes << "/" << p.names << "/" << p.all;
  }
  // Every file timed, and every directory with the file in it.
  EXPECT_EQ(std::count(reference.begin(), reference.end(), '!'), count + 2 * ((count + 49) / 50));
}

// Writers keep directories open until their files are done, make files
// before they write them and take files the reading thread made: never more
// than the process may hold (past it every open fails), so a tree of many
// small directories, of full ones and of long bodies in the target gets no
// line that one thread would not give.
TEST(RestoreDriver, WritersHoldNoMoreHandlesThanTheProcessMay) {
  auto r = TestRestorer::make();
  r->with_writers();
  r->fake.handles_allowed = 32;
  r->fake.streams_read_at_offsets = true;
  TestDump d;
  for (char16_t i = 0; i < 300; ++i) {
    const std::u16string name = {u'd', static_cast<char16_t>(u'a' + i / 26 % 26),
                                 static_cast<char16_t>(u'a' + i % 26), static_cast<char16_t>(u'0' + i / 676)};
    d.dir(0, name).file(1, u"f", "x");
    if (i % 30 == 0) {
      for (char16_t k = 0; k < 40; ++k) d.file(1, {u'g', static_cast<char16_t>(u'A' + k)}, "y");
    }
    if (i % 10 == 0) d.file(0, name + u".bin", std::string(kStraightCopyBytes, 'z'));
  }
  int most = 0;
  r->fake.on_call = [&](const char*, const FakePlatform::Node*) { most = std::max(most, r->fake.open_handles()); };
  EXPECT_EQ(r->run(d), 0);
  EXPECT_LE(most, 32);
  EXPECT_EQ(r->fake.log_text(), "");
  EXPECT_EQ(r->counted(), d.counts());
}

// A writer thread the system cannot start is no failure: the run goes on
// without it (here on the reading thread alone), says so once on standard
// error and restores what one thread restores.
TEST(RestoreDriver, WritersThatCannotStartLeaveTheRunToOneThread) {
  auto r = TestRestorer::make();
  r->pool = std::make_unique<WriterPool>(r->fake);
  r->driver.use_pool(r->pool.get(), 3);
  r->fake.fail(Op::kStartThread, u"", -1, "Resource temporarily unavailable");
  TestDump d;
  d.dir(0, u"d").file(1, u"a", "1").file(1, u"b", "22");
  EXPECT_EQ(r->run(d), 0);
  EXPECT_EQ(r->fake.errors_out,
            "fsrestore: cannot start a writer thread: Resource temporarily unavailable; restoring on one thread\n");
  EXPECT_EQ(r->fake.calls_of("start_thread").size(), 1u);
  EXPECT_EQ(r->tree(), "d/*!, d/a=1*!, d/b=22*!");
  EXPECT_EQ(r->fake.log_text(), "");
}

// --resume finishes what a cut run left half-made: a directory made without
// its word gets it, and a file with its body but without its word or its
// times is written again; only a file whole in every respect is kept, and a
// later record of its name is refused as in one run.
TEST(RestoreDriver, ResumeFinishesWhatACutRunLeftHalfMade) {
  auto r = TestRestorer::make();
  TestDump d;
  d.dir(0, u"d", 0x12, 1, 2).file(1, u"noword", "ab", 0x22, 3, 4).file(1, u"notime", "cd", 0x21, 5, 6);
  d.file(1, u"whole", "ef", 0x20, 7, 8).file(1, u"whole", "gh", 0x20, 7, 8);
  // What an interruption leaves at each place.
  r->fake.fail(Op::kSetAttr, u"d", 1);
  r->fake.fail(Op::kSetAttr, u"noword", 1);
  r->fake.fail(Op::kSetTimes, u"notime", 1);
  EXPECT_EQ(r->run(d), 0);
  EXPECT_EQ(r->tree(), "d/!, d/notime=cd*, d/noword=ab!, d/whole=ef*!");
  r->fake.start_again();
  Restorer again(r->fake);
  RestoreOptions resume;
  resume.resume = true;
  EXPECT_EQ(again.driver.run(0, 1, resume), 0);
  EXPECT_EQ(r->tree(), "d/*!, d/notime=cd*!, d/noword=ab*!, d/whole=ef*!");
  EXPECT_EQ(r->fake.find(u"target/d")->attr, 0x12);
  EXPECT_EQ(r->fake.find(u"target/d/noword")->attr, 0x22);
  EXPECT_EQ(r->fake.log_text(), "createfile error with <whole>, attr=0020, size=2: an entry restored in this run "
                                "has this name\n");
  EXPECT_NE(r->fake.errors_out.find("1 file already restored, skipped"), std::string::npos) << r->fake.errors_out;
}

}  // namespace
