// Several instances write the one configuration file at the same time.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "platform/profile.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace {

TEST(ProfileProcesses, ConcurrentWritersLoseNoKeys) {
  TempDir dir;
  const std::string file = dir / "Vestibell.ini";
  // Another process's settings are already there and must survive too.
  WriteFile(file, "[Window 0]\nIP_addr=127.0.0.1\n");
  constexpr int kWriters = 4, kKeys = 500;
  std::vector<std::unique_ptr<Child>> writers;
  for (int w = 0; w < kWriters; ++w)
    writers.push_back(std::make_unique<Child>(std::vector<std::string>{
        INI_WRITER, file, "w" + std::to_string(w) + "_",
        std::to_string(kKeys)}));
  for (auto &writer : writers) {
    ASSERT_TRUE(writer->started());
    const auto status = writer->Wait(std::chrono::seconds(240));
    ASSERT_TRUE(status.has_value()) << "a writer hung";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
  }
  int missing = 0;
  for (int w = 0; w < kWriters; ++w)
    for (int i = 0; i < kKeys; ++i) {
      const std::string key = "w" + std::to_string(w) + "_" + std::to_string(i);
      if (plat::GetPrivateProfileInt("Load", key.c_str(), -1, file.c_str()) !=
          i)
        ++missing;
    }
  EXPECT_EQ(missing, 0);
  char ip[64];
  plat::GetPrivateProfileString("Window 0", "IP_addr", "", ip, sizeof ip,
                                file.c_str());
  EXPECT_STREQ(ip, "127.0.0.1");
  // No half-written files are left behind.
  for (const auto &entry : std::filesystem::directory_iterator(dir.path())) {
    const std::string name = entry.path().filename();
    EXPECT_TRUE(name == "Vestibell.ini" || name == "Vestibell.ini.lock")
        << name;
  }
}

} // namespace
