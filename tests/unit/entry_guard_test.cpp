#include <gtest/gtest.h>

#include <algorithm>

#include "target/made_entries.h"
#include "test_restorer.h"

namespace {

using Calls = std::vector<std::string>;
using Node = FakePlatform::Node;

// The restore's rules against a plain file system that has none of its own.
struct GuardTest : ::testing::Test {
  FakePlatform fake;
  EntryGuard guard{fake};
  Node* target = fake.mkdir_p(u"target");
  Node* secret = fake.add_file(u"outside/secret", "sentinel");
  Handle dir;

  void SetUp() override {
    fake.args = {"target"};
    dir = fake.open_target(0);
    fake.calls.clear();
  }
  std::string error() {
    char text[128];
    failure_text(fake, guard.failure(), text, sizeof text);
    return text;
  }
  // Creates name through the guard and writes a body into what it got.
  bool create_and_write(const std::u16string& name) {
    const Handle h = guard.create_file(EntryPlace{dir}, name.c_str());
    if (!h.valid()) return false;
    fake.write(h, "new", 3);
    fake.close(h);
    return true;
  }
};

TEST_F(GuardTest, InvalidNamesAreRefusedBeforeAnyCall) {
  for (const char16_t* name : {u"", u".", u"..", u"a/b", u"/etc"}) {
    fake.calls.clear();
    EXPECT_FALSE(guard.create_file(EntryPlace{dir}, name).valid()) << FakePlatform::utf8(name);
    EXPECT_FALSE(guard.make_dir(EntryPlace{dir}, name).valid());
    EXPECT_FALSE(guard.open_dir(dir, name).valid());
    EXPECT_EQ(fake.calls, Calls{}) << FakePlatform::utf8(name);
    EXPECT_EQ(error(), "the name is refused on this system");
    EXPECT_FALSE(guard.failure().name_exists);
  }
  fake.rules = NameRules::kWindows;
  for (const char16_t* name : {u"CON", u"a:b", u"x.", u"a\\b", u"conout$"}) {
    fake.calls.clear();
    EXPECT_FALSE(guard.create_file(EntryPlace{dir}, name).valid()) << FakePlatform::utf8(name);
    EXPECT_EQ(fake.calls, Calls{});
  }
  EXPECT_TRUE(fake.anomalies.empty());
}

TEST_F(GuardTest, ANewNameCostsOneCallAndWhatHadItIsReplacedNeverWrittenThrough) {
  Node* outside_dir = fake.mkdir_p(u"outside/dir");
  fake.add_symlink(u"target/flink", secret);
  fake.add_symlink(u"target/dlink", outside_dir);
  fake.add_hard_link(u"target/hlink", secret);
  fake.add_fifo(u"target/fifo");
  fake.add_file(u"target/old", "old body");
  for (const char16_t* name : {u"fresh", u"flink", u"dlink", u"hlink", u"fifo", u"old"}) {
    fake.calls.clear();
    ASSERT_TRUE(create_and_write(name)) << FakePlatform::utf8(name);
    const std::string n = FakePlatform::utf8(name);
    // In a directory that was there before, the new entry's identity is
    // kept, so no later entry of the run replaces it.
    const Calls calls = n == "fresh" ? Calls{"create_file fresh", "identity fresh", "write fresh 3", "close fresh"}
                                     : Calls{"create_file " + n, "inspect " + n,  "remove_file " + n,
                                             "create_file " + n, "identity " + n, "write " + n + " 3",
                                             "close " + n};
    EXPECT_EQ(fake.calls, calls);
    const Node* now = fake.find(u"target/" + std::u16string(name));
    EXPECT_EQ(now->kind, FakePlatform::Kind::kFile);
    EXPECT_EQ(now->body, "new");
  }
  EXPECT_EQ(secret->body, "sentinel");
  EXPECT_TRUE(outside_dir->children.empty());
}

// On Windows, where names match in any case, a read-only, hidden or system
// file stays too; a plain one is replaced whatever the case of its name.
TEST_F(GuardTest, WhatMustStayIsRefusedWithItsReason) {
  fake.rules = NameRules::kWindows;
  fake.fold_case = true;  // names made from here on match in any case
  Node* win = fake.mkdir_p(u"win");
  fake.args = {"win"};
  dir = fake.open_target(0);
  fake.mkdir_p(u"win/dir/inside");
  fake.add_file(u"win/unshown", "u")->unverified = true;
  fake.add_file(u"win/RO.TXT", "r")->attr = 0x21;
  fake.add_file(u"win/Plain.txt", "p")->attr = 0x20;
  struct Case {
    const char16_t* name;
    const char* text;
  } cases[] = {
      {u"dir", "a directory has this name"},
      {u"unshown", "the entry cannot be shown as itself"},
      {u"ro.txt", "the system keeps this file (read-only, hidden or system)"},
  };
  for (const Case& c : cases) {
    fake.calls.clear();
    EXPECT_FALSE(create_and_write(c.name));
    EXPECT_EQ(error(), c.text);
    EXPECT_EQ(fake.calls_of("remove_file").size(), 0u);
  }
  EXPECT_TRUE(create_and_write(u"PLAIN.TXT"));
  EXPECT_EQ(TestRestorer::tree_of(*win), "dir/, dir/inside/, PLAIN.TXT=new, RO.TXT=r, unshown=u");
}

TEST_F(GuardTest, TheRunsOwnFilesAreNeverReplacedWhateverNameLeadsToThem) {
  Node* own = fake.add_file(u"target/$content", "dump body");
  fake.add_hard_link(u"target/other name", own);
  fake.add_stream(u"target/$content", "dump body");
  fake.stream_is_file(u"target/$content", own);
  guard.protect(fake.open_stream(u"target/$content"));
  for (const char16_t* name : {u"$content", u"other name"}) {
    EXPECT_FALSE(create_and_write(name));
    EXPECT_EQ(error(), "the name leads to one of this run's own files");
  }
  EXPECT_EQ(fake.find(u"target/$content"), own);
  EXPECT_EQ(own->body, "dump body");
}

TEST_F(GuardTest, ANameThatReappearsBetweenRemovalAndCreationFailsInsteadOfOpeningIt) {
  fake.add_file(u"target/race", "old");
  int creations = 0;
  fake.before_call = [&](Op op) {
    if (op == Op::kCreateFile && ++creations == 2) fake.add_symlink(u"target/race", secret);
  };
  EXPECT_FALSE(create_and_write(u"race"));
  EXPECT_EQ(error(), "File exists");
  EXPECT_EQ(fake.calls_of("create_file").size(), 2u);
  EXPECT_EQ(fake.find(u"target/race")->kind, FakePlatform::Kind::kLink);
  EXPECT_EQ(secret->body, "sentinel");
}

TEST_F(GuardTest, ANameThatVanishesBeforeTheLookIsSimplyCreated) {
  fake.add_file(u"target/gone", "old");
  fake.before_call = [&](Op op) {
    if (op == Op::kInspect) fake.swap_for_link(fake.find(u"target/gone"), secret);
  };
  // Swapped for a link at the look: the link is what is removed.
  EXPECT_TRUE(create_and_write(u"gone"));
  EXPECT_EQ(fake.find(u"target/gone")->body, "new");
  EXPECT_EQ(secret->body, "sentinel");
}

TEST_F(GuardTest, DirectoriesAreMadeExclusivelyAndOpenedWithoutFollowing) {
  fake.add_symlink(u"target/dlink", fake.mkdir_p(u"outside/dir"));
  fake.add_file(u"target/file", "f");
  EXPECT_FALSE(guard.make_dir(EntryPlace{dir}, u"dlink").valid());
  EXPECT_TRUE(fake.failed_because_exists());
  EXPECT_FALSE(guard.open_dir(dir, u"dlink").valid());
  EXPECT_EQ(error(), "Too many levels of symbolic links");
  EXPECT_FALSE(guard.open_dir(dir, u"file").valid());
  EXPECT_EQ(error(), "Not a directory");
  const Handle made = guard.make_dir(EntryPlace{dir}, u"new");
  ASSERT_TRUE(made.valid());
  EXPECT_EQ(fake.node_of(made), fake.find(u"target/new"));
}

// --resume passes over a kept file's body without reading it where the
// content stream is a file, and reads it past from a pipe; either way a
// body the stream lacks is told as in any restore, and the next body is
// still taken from its own place.
// The table of entries reached keeps every one its walk holds however many
// (its index grows with them) and forgets those the walk leaves.
TEST(MadeEntries, FindsEveryEntryHeldAndForgetsThoseLeft) {
  MadeEntries made;
  ASSERT_TRUE(made.reserve());
  const auto id = [](std::uint64_t i) {
    FileIdentity f;
    f.device = 7;
    f.index = i * 7919;
    return f;
  };
  for (std::uint64_t i = 0; i < 30000; ++i) made.add(1 + static_cast<int>(i / 10000), id(i));
  for (std::uint64_t i = 0; i < 30000; i += 7) ASSERT_TRUE(made.contains(1 + static_cast<int>(i / 10000), id(i))) << i;
  EXPECT_FALSE(made.contains(1, id(30000)));
  EXPECT_FALSE(made.contains(2, id(5)));  // of depth 1
  made.leave_below(1);
  for (std::uint64_t i = 0; i < 30000; i += 7) ASSERT_EQ(made.contains(1 + static_cast<int>(i / 10000), id(i)), i < 10000) << i;
}

TEST(KeptBodies, ArePassedOverAndABodyTheStreamLacksIsToldEitherWay) {
  for (const bool at_offsets : {false, true}) {
    SCOPED_TRACE(at_offsets ? "file" : "pipe");
    auto r = TestRestorer::make();
    TestDump d;
    d.file(0, u"a", "aa", 0x20, 1, 2).file(0, u"big", std::string(70000, 'b'), 0x20, 1, 2);
    d.file(0, u"new", "nn", 0x20, 1, 2).file(0, u"cut", "cc", 0x20, 1, 2);
    ASSERT_EQ(r->run(d), 0);
    r->fake.remove_file(r->fake.open_target(1), u"new");
    r->fake.start_again();
    r->fake.streams_read_at_offsets = at_offsets;
    r->fake.add_dump(d.nodes, d.names, d.content.substr(0, d.content.size() - 1));
    Restorer again(r->fake);
    RestoreOptions resume;
    resume.resume = true;
    r->fake.calls.clear();
    EXPECT_EQ(again.driver.run(0, 1, resume), 0);
    EXPECT_EQ(r->tree(), "a=aa*!, big=" + std::string(70000, 'b') + "*!, cut=cc*!, new=nn*!");
    EXPECT_EQ(r->fake.log_text(), "content error with <cut>, attr=0020, size=2: 1 bytes missing\n");
    const Calls& calls = r->fake.calls;
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "read $content 70000 -> 70000"), at_offsets ? 0 : 1);
  }
}

// The log is made under a temporary name in its directory and takes its
// name when the start has succeeded: whatever had that name is replaced as
// a name, so nothing outside is ever written with log lines and a FIFO
// never holds up the start; a directory or one of the dump's streams there
// keeps its name and the start fails. --errors takes the directory part
// as the user gave it, links followed, and the last part as a bare name.
TEST(LogCreation, TheLogTakesTheNameOfWhatWasThereButNeverAStreamsOrALinksTarget) {
  struct Case {
    const char* kind;    // what has the log's name before the run
    const char* errors;  // --errors FILE; nullptr: none
    const char16_t* at;  // the log's place, from the root
    const char* err;     // "": the run ends with status 0
  } cases[] = {
      {"file", nullptr, u"$errors", ""},
      {"link", nullptr, u"$errors", ""},
      {"hard link", nullptr, u"$errors", ""},
      {"fifo", nullptr, u"$errors", ""},
      {"file", "logs/run/x.log", u"logs/run/x.log", ""},
      {"link", "via/x.log", u"real/x.log", ""},  // via is a link to real
      {"stream", "$content", u"$content",
       "fsrestore: cannot create $content: the name leads to one of this run's own files\n"},
      {"none", "gone/x.log", u"gone/x.log", "fsrestore: cannot create gone/x.log: No such file or directory\n"},
      {"none", "logs/", u"logs", "fsrestore: cannot create logs/: the name is refused on this system\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.kind << " " << (c.errors ? c.errors : "$errors"));
    auto r = TestRestorer::make();
    Node* secret = r->fake.add_file(u"outside/secret", "sentinel");
    r->fake.mkdir_p(u"logs/run");
    r->fake.add_symlink(u"via", r->fake.mkdir_p(u"real"));
    const std::string k = c.kind;
    if (k == "file") r->fake.add_file(c.at, "old lines\n");
    if (k == "link") r->fake.add_symlink(c.at, secret);
    if (k == "hard link") r->fake.add_hard_link(c.at, secret);
    if (k == "fifo") r->fake.add_fifo(c.at);
    if (k == "stream") r->fake.stream_is_file(u"$content", r->fake.add_file(u"$content", "stream"));
    r->fake.fail(Op::kCreateFile, u"bad", -1, "Permission denied");
    TestDump d;
    d.file(0, u"bad", "x");
    std::vector<std::string> args = {"", "target"};
    if (c.errors != nullptr) args.insert(args.end(), {"--errors", c.errors});
    EXPECT_EQ(r->run(d, args), *c.err == 0 ? 0 : 1);
    const std::string log = c.errors != nullptr ? c.errors : "$errors";
    EXPECT_EQ(r->fake.errors_out, *c.err == 0 ? "fsrestore: bad: cannot create: Permission denied\n"
                                                "fsrestore: 1 of 1 entry not restored; see " + log + "\n"
                                              : c.err);
    EXPECT_EQ(secret->body, "sentinel");
    EXPECT_EQ(r->fake.calls_of("remove_file").size(), k == "stream" ? 1u : 0u);
    EXPECT_EQ(r->fake.find(u"$errors.4242.tmp"), nullptr);
    EXPECT_EQ(r->fake.find(u"logs/run/$errors.4242.tmp"), nullptr);
    if (k == "stream") {
      EXPECT_EQ(r->fake.find(u"$content")->body, "stream");
    }
    if (*c.err != 0) continue;
    EXPECT_EQ(r->fake.log_text(), "createfile error with <bad>, attr=0020, size=1: Permission denied\n");
    EXPECT_EQ(r->fake.find(c.at)->kind, FakePlatform::Kind::kFile);
    EXPECT_EQ(r->fake.calls_of("rename_file").size(), 1u);
  }
}

}  // namespace
