// Instance numbers across real processes: a number stays taken while its
// owner or any instance that probed past it runs, in the runtime folder or,
// where that is refused, in the settings folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "support/process.h"
#include "support/temp_dir.h"

namespace {

class Instances : public ::testing::Test {
protected:
  std::unique_ptr<Child> Start(const std::vector<std::string> &env = {}) {
    auto child = std::make_unique<Child>(
        std::vector<std::string>{INSTANCE_PROBE},
        env.empty()
            ? std::vector<std::string>{"XDG_RUNTIME_DIR=" + runtime_.path()}
            : env,
        /*mergeStderr=*/!env.empty());
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

TEST_F(Instances, WithTheRuntimeFolderRefusedTheSettingsFolderNumbersThem) {
  const std::string away = runtime_ / "away";
  ASSERT_EQ(mkdir(away.c_str(), 0700), 0);
  struct Case {
    std::string setup, runtime, reason;
  };
  std::vector<Case> cases;
  auto fresh = [&](const std::string &name, mode_t mode) {
    const std::string folder = runtime_ / name;
    EXPECT_EQ(mkdir(folder.c_str(), 0700), 0);
    EXPECT_EQ(mkdir((folder + "/vestibell").c_str(), 0700), 0);
    EXPECT_EQ(chmod((folder + "/vestibell").c_str(), mode), 0);
    return folder;
  };
  cases.push_back({"open to all", fresh("open", 0777), "others may enter it"});
  if (geteuid() == 0) {
    const std::string foreign = fresh("foreign", 0700);
    ASSERT_EQ(chown((foreign + "/vestibell").c_str(), 65534, 65534), 0);
    cases.push_back({"another user's", foreign, "it belongs to user 65534"});
  }
  const std::string link = runtime_ / "link";
  ASSERT_EQ(mkdir(link.c_str(), 0700), 0);
  ASSERT_EQ(symlink(away.c_str(), (link + "/vestibell").c_str()), 0);
  cases.push_back({"a link", link, "it is a symbolic link"});

  for (const Case &c : cases) {
    SCOPED_TRACE(c.setup);
    TempDir settings;
    const std::vector<std::string> env = {"XDG_RUNTIME_DIR=" + c.runtime,
                                          "ALLUSERSPROFILE=" + settings.path()};
    // Each copy says once why, whatever it probes, then its number.
    int said = 0;
    auto numberOf = [&](Child &child) {
      while (const auto line = child.ReadLine()) {
        if (line->rfind("Vestibell:", 0) == 0) {
          ++said;
          EXPECT_NE(line->find(c.runtime + "/vestibell: " + c.reason),
                    std::string::npos)
              << *line;
        } else {
          return std::atoi(line->c_str());
        }
      }
      return -1;
    };
    auto first = Start(env);
    EXPECT_EQ(numberOf(*first), 1);
    auto second = Start(env);
    EXPECT_EQ(numberOf(*second), 2);
    Stop(first);
    auto third = Start(env);
    EXPECT_EQ(numberOf(*third), 3);
    EXPECT_EQ(said, 3);
    Stop(second);
    Stop(third);
  }
  EXPECT_TRUE(std::filesystem::is_empty(away)) << "made through the link";
}

} // namespace
