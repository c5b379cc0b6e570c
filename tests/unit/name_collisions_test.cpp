// NameCollisions against a plain model: random walks over short names from
// a small alphabet, so that names meet often, in many directories at many
// depths, and the table's removals are exercised with every walk back up.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "inspect/name_collisions.h"

namespace {

// The alphabet and its upper case: "s", "S" and the long s U+017F meet.
const char16_t kLetters[] = u"aAsS\u017F\u00E9\u00C9";
char16_t model_upper(char16_t c) {
  switch (c) {
    case u'a': return u'A';
    case u's': case u'\u017F': return u'S';
    case u'\u00E9': return u'\u00C9';
    default: return c;
  }
}

TEST(NameCollisions, AgreeWithAModelOverRandomWalks) {
  auto collisions = std::make_unique<NameCollisions>();
  std::mt19937 random(20240601);
  std::vector<std::set<std::u16string>> exact(1), folded(1);  // per open depth
  int depth = 0;
  int same = 0, case_only = 0;
  for (int step = 0; step < 200000; ++step) {
    const int move = static_cast<int>(random() % 8);
    if (move == 0 && depth < 40) {
      ++depth;  // into the directory last named, which starts empty
    } else if (move == 1 && depth > 0) {
      depth -= 1 + static_cast<int>(random() % depth);
    }
    exact.resize(depth + 1);
    folded.resize(depth + 1);
    std::u16string name;
    for (int n = 1 + static_cast<int>(random() % 3); n > 0; --n) name += kLetters[random() % 7];
    std::u16string upper = name;
    for (char16_t& c : upper) c = model_upper(c);
    Collision want = Collision::kNone;
    if (exact[depth].count(name)) {
      want = Collision::kSameName;
    } else if (folded[depth].count(upper)) {
      want = Collision::kCaseOnly;
    }
    exact[depth].insert(name);
    folded[depth].insert(upper);
    ASSERT_EQ(collisions->add(depth, name.c_str()), want) << "step " << step;
    same += want == Collision::kSameName;
    case_only += want == Collision::kCaseOnly;
  }
  EXPECT_GT(same, 1000);
  EXPECT_GT(case_only, 1000);
}

}  // namespace
