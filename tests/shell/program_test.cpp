// The real program as a process: how it starts and how it ends.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/profile.h"
#include "support/doorsim.h"
#include "support/free_port.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace {

std::vector<std::string> Env(const TempDir &dir) {
  return {"ALLUSERSPROFILE=" + dir.path(), "XDG_RUNTIME_DIR=" + dir.path(),
          "QT_QPA_PLATFORM=offscreen"};
}

void Configure(const TempDir &dir) {
  mkdir((dir / "Vestibell").c_str(), 0700);
  WriteFile(dir / "Vestibell/Vestibell.ini", "[Window 0]\nIP_addr=127.0.0.1\n");
}

TEST(Program, ATerminationRequestClosesTheWindowAndExitsWithZero) {
  TempDir dir;
  Configure(dir);
  Child program({VESTIBELL}, Env(dir));
  ASSERT_TRUE(program.started());
  // Up and numbered: its instance name is held.
  const std::string held = dir / "vestibell/Vestibell_1.391.lock";
  for (int i = 0; i < 400 && access(held.c_str(), F_OK) != 0; ++i)
    usleep(10000);
  usleep(300000);
  kill(program.pid(), SIGTERM);
  const auto status = program.Wait(std::chrono::seconds(20));
  ASSERT_TRUE(status.has_value()) << "did not end";
  ASSERT_TRUE(WIFEXITED(*status)) << "ended by a signal";
  EXPECT_EQ(WEXITSTATUS(*status), 0);
}

TEST(Program, WithoutADisplayItEndsWithZeroInsteadOfCrashing) {
  TempDir dir;
  Configure(dir);
  auto env = Env(dir);
  env.pop_back();
  env.push_back("QT_QPA_PLATFORM");
  env.push_back("DISPLAY");
  env.push_back("WAYLAND_DISPLAY");
  Child program({VESTIBELL}, env);
  ASSERT_TRUE(program.started());
  const auto status = program.Wait(std::chrono::seconds(20));
  ASSERT_TRUE(status.has_value());
  ASSERT_TRUE(WIFEXITED(*status));
  EXPECT_EQ(WEXITSTATUS(*status), 0);
}

TEST(Program, ClosingSavesPlaceAndSizeAndLeavesNoFrameFile) {
  TempDir dir;
  DoorSim sim;
  ASSERT_NE(sim.port(), 0);
  mkdir((dir / "Vestibell").c_str(), 0700);
  const std::string ini = dir / "Vestibell/Vestibell.ini";
  WriteFile(ini,
            "[Window 0]\nIP_addr=" + sim.address() + "\nLeft=-200\nTop=35\n");
  Child program({VESTIBELL}, Env(dir));
  ASSERT_TRUE(program.started());
  const std::string frame = dir / "Vestibell/Vestibell_1.tmp";
  for (int i = 0; i < 500 && !std::filesystem::exists(frame); ++i)
    usleep(10000);
  ASSERT_TRUE(std::filesystem::exists(frame)) << "never connected";
  WriteFile(ini, "[Window 0]\nIP_addr=" + sim.address() + "\n");
  kill(program.pid(), SIGTERM);
  const auto status = program.Wait(std::chrono::seconds(20));
  ASSERT_TRUE(status.has_value()) << "did not end";
  ASSERT_TRUE(WIFEXITED(*status));
  EXPECT_EQ(WEXITSTATUS(*status), 0);
  EXPECT_FALSE(std::filesystem::exists(frame));
  auto get = [&](const char *key) {
    return plat::GetPrivateProfileInt("Window 0", key, 12345, ini.c_str());
  };
  EXPECT_EQ(get("Left"), -200);
  EXPECT_EQ(get("Top"), 35);
  EXPECT_EQ(get("Width"), 336);
  EXPECT_EQ(get("Height"), 301);
}

// The first instance holds the SIP core. Closed while a door unit's call
// rings, it ends the call (the door unit sees it end, not time out), stops
// its SIP thread, destroys the core and exits with zero.
TEST(Program, ClosingDuringACallEndsItAndTheCoreAndExitsWithZero) {
  TempDir dir;
  DoorSim sim({"--sip", "127.0.0.1:0"});
  const auto sipLine = sim.NextLine();
  ASSERT_TRUE(sipLine && sipLine->rfind("sip 127.0.0.1:", 0) == 0);
  const int port = FreeUdpPort();
  mkdir((dir / "Vestibell").c_str(), 0700);
  WriteFile(dir / "Vestibell/Vestibell.ini",
            "[Window 0]\nIP_addr=" + sim.address() +
                "\n[SIP]\nSIP_bind_addr=127.0.0.1\nSIP_port=" +
                std::to_string(port) + "\n");
  Child program({VESTIBELL}, Env(dir), true);
  ASSERT_TRUE(program.started());
  const std::string pc = "sip:Vestibell@127.0.0.1:" + std::to_string(port);
  // The core is made just after the window; the door unit calls until it
  // is there.
  bool ringing = false;
  for (int i = 0; i < 10 && !ringing; ++i) {
    sim.Command("hangup");
    sim.Command("ring-sip " + pc);
    ringing = sim.WaitForLine("OutgoingRinging", std::chrono::seconds(2));
  }
  ASSERT_TRUE(ringing) << "the program's core never answered the INVITE";
  kill(program.pid(), SIGTERM);
  EXPECT_TRUE(
      sim.WaitForLine("sip call LinphoneCallEnd", std::chrono::seconds(5)))
      << "the call was not ended";
  const auto status = program.Wait(std::chrono::seconds(20));
  ASSERT_TRUE(status.has_value()) << "did not end";
  ASSERT_TRUE(WIFEXITED(*status)) << "ended by a signal";
  EXPECT_EQ(WEXITSTATUS(*status), 0);
  EXPECT_EQ(sim.Status("sip_in_call"), 0);
  while (const auto line = program.ReadLine(std::chrono::milliseconds(100)))
    EXPECT_EQ(line->find("did not stop"), std::string::npos) << *line;
}

} // namespace
