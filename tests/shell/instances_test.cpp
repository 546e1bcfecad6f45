// Instance numbers across real processes: a number stays taken while its
// owner or any instance that probed past it runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "support/process.h"
#include "support/temp_dir.h"

namespace {

class Instances : public ::testing::Test {
protected:
  std::unique_ptr<Child> Start() {
    auto child = std::make_unique<Child>(
        std::vector<std::string>{INSTANCE_PROBE},
        std::vector<std::string>{"XDG_RUNTIME_DIR=" + runtime_.path()});
    EXPECT_TRUE(child->started());
    return child;
  }
  static int NumberOf(Child &child) {
    const auto line = child.ReadLine();
    EXPECT_TRUE(line.has_value());
    return line ? std::atoi(line->c_str()) : -1;
  }
  static void Stop(std::unique_ptr<Child> &child) {
    child->CloseInput();
    ASSERT_TRUE(child->Wait().has_value());
    child.reset();
  }
  TempDir runtime_;
};

TEST_F(Instances, NumbersFollowTheOrderOfStartsAndExits) {
  auto first = Start();
  EXPECT_EQ(NumberOf(*first), 1);
  auto second = Start();
  EXPECT_EQ(NumberOf(*second), 2);
  // The second still holds the name "…1" it probed past.
  Stop(first);
  auto third = Start();
  EXPECT_EQ(NumberOf(*third), 3);
  Stop(second);
  Stop(third);
  // Everybody gone: names left lying in the folder are free again.
  auto fresh = Start();
  EXPECT_EQ(NumberOf(*fresh), 1);
  Stop(fresh);
}

TEST_F(Instances, TheNameCarriesTheVersionAndTheNumber) {
  auto first = Start();
  EXPECT_EQ(first->ReadLine().value_or(""), "1 Vestibell_1.391");
  auto second = Start();
  EXPECT_EQ(second->ReadLine().value_or(""), "2 Vestibell_1.392");
  Stop(first);
  Stop(second);
}

TEST_F(Instances, CopiesStartedAtTheSameMomentGetDistinctNumbers) {
  constexpr int kCopies = 6;
  std::vector<std::unique_ptr<Child>> copies;
  for (int i = 0; i < kCopies; ++i)
    copies.push_back(Start());
  std::vector<int> numbers;
  for (auto &c : copies)
    numbers.push_back(NumberOf(*c));
  std::sort(numbers.begin(), numbers.end());
  for (int i = 0; i < kCopies; ++i)
    EXPECT_EQ(numbers[i], i + 1);
  for (auto &c : copies)
    Stop(c);
}

TEST_F(Instances, AKilledInstanceFreesItsNumber) {
  auto first = Start();
  EXPECT_EQ(NumberOf(*first), 1);
  kill(first->pid(), SIGKILL);
  ASSERT_TRUE(first->Wait().has_value());
  auto next = Start();
  EXPECT_EQ(NumberOf(*next), 1);
  Stop(next);
}

} // namespace
