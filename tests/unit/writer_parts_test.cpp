// The writer pool's parts on their own: which creations in a directory keep
// the dump's order, and the last words of a cut run against a writer's line.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "fake_platform.h"
#include "writers/batch_queue.h"
#include "restore/name_order.h"
#include "restore/writer_last_words.h"

namespace {

// Names of one group are names the directory may take for one.
struct Named {
  std::u16string name;
  int group;
};

// Every name that meets an earlier one is in its lane and waits until that
// one is created (its ticket counts it); afterwards the reading thread,
// about to make any of them itself, waits for the whole lane.
void expect_order_kept(bool folds, const std::vector<Named>& names, const std::string& what) {
  NameOrder order;
  order.reset(folds);
  std::vector<NameTurn> turns;
  std::vector<std::uint32_t> rank;  // place among the lane's creations
  std::uint32_t in_lane[kLanes] = {};
  for (const Named& n : names) {
    turns.push_back(order.issue(n.name.c_str()));
    rank.push_back(in_lane[turns.back().lane]++);
  }
  for (std::size_t j = 0; j < names.size(); ++j) {
    for (std::size_t i = 0; i < j; ++i) {
      if (names[i].group != names[j].group) continue;
      ASSERT_EQ(turns[j].lane, turns[i].lane) << what << ": " << i << " and " << j;
      ASSERT_NE(turns[j].ticket, kNoTurn) << what << ": " << j << " waits for " << i;
      ASSERT_GT(turns[j].ticket, rank[i]) << what << ": " << j << " waits for " << i;
    }
    NameTurn wait;
    ASSERT_TRUE(order.may_meet(names[j].name.c_str(), &wait)) << what << ": " << j;
    EXPECT_EQ(wait.lane, turns[j].lane) << what;
    EXPECT_EQ(wait.ticket, in_lane[turns[j].lane]) << what;
  }
}

TEST(NameOrder, NamesThatMayMeetKeepTheirOrder) {
  // Folding: case, canonical equivalence (é and e + U+0301; ';' and U+037E).
  expect_order_kept(true,
                    {{u"README", 0},
                     {u"a.txt", 1},
                     {u"readme", 0},
                     {u"Readme.md", 2},
                     {u"caf\u00e9", 3},
                     {u"readme.MD", 2},
                     {u"cafe\u0301", 3},
                     {u"x;", 4},
                     {u"x\u037e", 4},
                     {u"A.TXT", 1}},
                    "folding");
  // Bytes: only the same name again meets (a dump may hold it twice).
  expect_order_kept(false, {{u"a", 0}, {u"A", 1}, {u"b", 2}, {u"a", 0}, {u"A", 1}}, "bytes");
  // Many names in every lane, meeting ones far apart (several batches).
  std::mt19937 random(7);
  std::vector<Named> many;
  for (int i = 0; i < 3000; ++i) {
    const int group = static_cast<int>(random() % 900);
    std::u16string name(u"n_");
    for (int g = group; g > 0; g /= 10) name.push_back(char16_t(u'0' + g % 10));
    name.push_back(char16_t(u'a' + group % 7));
    if (random() % 2 != 0) name[0] = u'N';
    many.push_back({name, group});
  }
  expect_order_kept(true, many, "many, folding");
  for (Named& n : many) n.group = n.group * 2 + (n.name[0] == u'N' ? 1 : 0);
  expect_order_kept(false, many, "many, bytes");
}

TEST(NameOrder, ANameMetFirstWaitsForNothing) {
  for (const bool folds : {true, false}) {
    NameOrder order;
    order.reset(folds);
    EXPECT_EQ(order.issue(u"only.txt").ticket, kNoTurn);
    NameTurn wait;
    EXPECT_FALSE(order.may_meet(u"other-1", &wait));
    // A new directory forgets the names of the last.
    order.reset(folds);
    EXPECT_FALSE(order.may_meet(u"only.txt", &wait));
  }
}

// A writer stopped between its check for the last words and its line's
// write: the last words wait for that line, so it never follows them.
TEST(WriterLastWords, AWritersLineInFlightLandsBeforeTheLastWords) {
  FakePlatform fake;
  const Handle log = fake.create_file(fake.open_start_dir(), u"$errors");
  WriterLastWords last_words(fake);
  last_words.write_to(log);
  BatchQueue queue;
  const std::unique_ptr<Batch[]> batches(new Batch[kBatchSlots]);
  Batch& cut = batches[0];
  std::memcpy(cut.names, u"late.txt", sizeof u"late.txt");
  cut.jobs[0].size = 5;
  cut.jobs[0].attr = 0x20;
  cut.count = 1;
  cut.handed.store(1);
  queue.hand_out();

  std::atomic<int> step{0};
  std::thread writer([&] {
    ASSERT_TRUE(last_words.open_line());
    step = 1;
    for (int i = 0; i < 5000 && step != 2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    fake.write(log, "write error with <early.txt>\n", 29);
    last_words.close_line();
  });
  for (int i = 0; i < 5000 && step != 1; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::thread speaker([&] { EXPECT_TRUE(last_words.say(queue, batches.get(), 1, true)); });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  step = 2;
  speaker.join();
  writer.join();
  EXPECT_EQ(fake.log_text(),
            "write error with <early.txt>\ninterrupted while restoring <late.txt>, attr=0020, size=5\n");
  // A line opened after the last words began is not to be written.
  EXPECT_FALSE(last_words.open_line());
}

}  // namespace
