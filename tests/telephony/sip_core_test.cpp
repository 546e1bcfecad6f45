// Real SIP cores over 127.0.0.1: two adapter cores in one process, the
// simulator's user agent in another, and a loopback registrar.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/sound.h"
#include "support/doorsim.h"
#include "support/kamailio.h"
#include "support/pulse.h"
#include "support/temp_dir.h"
#include "support/voice.h"
#include "sip/sip_core.h"
#include "telephony/sip_thread.h"

using namespace std::chrono_literals;

#if defined(__SANITIZE_ADDRESS__)
// The sound server's client library has no frame pointers: with the fast
// unwinder the stacks of its allocations end inside it, and what the SIP
// library's media layer keeps for the life of the process (calls on sound
// devices, sanitizers/lsan.supp) could not be told apart by its caller.
extern "C" const char *__asan_default_options() {
  return "fast_unwind_on_malloc=0";
}
#endif

namespace {

// One core with its SIP thread; remembers every event it was handed and on
// which thread.
class Peer {
public:
  // With `sound`, calls use the sound devices (the default ones until set);
  // else files (silence in, nothing out).
  explicit Peer(bool sound = false) {
    SipCallbacks callbacks{};
    callbacks.inv_recv = [](SipCore *c, SipCallId, const char *from) {
      Of(c)->Record("inv_recv", from);
    };
    callbacks.auth_info_requested = [](SipCore *c, const char *realm,
                                       const char *user) {
      Of(c)->Record("auth_info_requested", std::string(realm) + " " + user);
    };
    callbacks.display_status = [](SipCore *c, SipCallId, const char *text) {
      Of(c)->Record("display_status", text);
    };
    callbacks.display_message = [](SipCore *c, SipCallId, const char *text) {
      Of(c)->Record("display_message", text);
    };
    SipCoreOptions options;
    options.folder = folder_.path();
    options.sip_port = 0;
    options.use_files = !sound;
    {
      std::lock_guard guard(registry_lock_);
      core_ = SipCoreNew(callbacks, options);
      registry_[core_] = this;
    }
    if (core_)
      thread_.Start(core_);
  }
  ~Peer() {
    thread_.Stop();
    SipCoreDestroy(core_);
    std::lock_guard guard(registry_lock_);
    registry_.erase(core_);
  }

  // Runs inside the inv_recv callback, on the SIP thread.
  std::function<void()> on_invite;

  SipCore *core() const { return core_; }
  SipThread &thread() { return thread_; }
  std::string url(const std::string &user = "pc") const {
    return "sip:" + user +
           "@127.0.0.1:" + std::to_string(SipCoreSipPort(core_));
  }

  // Waits for the next event of `kind` not yet taken; its text, or nullopt.
  std::optional<std::string> Take(const std::string &kind,
                                  std::chrono::milliseconds limit = 10s) {
    std::unique_lock lock(lock_);
    std::optional<std::string> found;
    wake_.wait_for(lock, limit, [&] {
      for (auto it = events_.begin(); it != events_.end(); ++it)
        if (it->first == kind) {
          found = it->second;
          events_.erase(it);
          return true;
        }
      return false;
    });
    return found;
  }
  std::vector<std::pair<std::string, std::string>> Pending() {
    std::lock_guard guard(lock_);
    return events_;
  }
  // True when every event came on the SIP thread.
  bool OnSipThreadOnly() {
    std::lock_guard guard(lock_);
    return !wrong_thread_;
  }
  // Calls `check` until it holds or `limit` passes.
  template <typename F>
  static bool Until(F check, std::chrono::milliseconds limit = 10s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!check()) {
      if (std::chrono::steady_clock::now() > end)
        return false;
      std::this_thread::sleep_for(10ms);
    }
    return true;
  }

private:
  static Peer *Of(SipCore *core) {
    std::lock_guard guard(registry_lock_);
    return registry_.at(core);
  }
  void Record(const std::string &kind, const std::string &text) {
    if (kind == "inv_recv" && on_invite)
      on_invite();
    std::lock_guard guard(lock_);
    if (sip_thread_ == std::thread::id())
      sip_thread_ = std::this_thread::get_id();
    wrong_thread_ |= sip_thread_ != std::this_thread::get_id();
    events_.emplace_back(kind, text);
    wake_.notify_all();
  }

  static inline std::mutex registry_lock_;
  static inline std::map<SipCore *, Peer *> registry_;
  TempDir folder_;
  SipCore *core_ = nullptr;
  SipThread thread_;
  std::mutex lock_;
  std::condition_variable wake_;
  std::vector<std::pair<std::string, std::string>> events_;
  std::thread::id sip_thread_;
  bool wrong_thread_ = false;
};

// Instances without a core list the devices a core would: with a sound
// server and without one (cards come and go with it).
TEST(SipCore, SoundDevicesWithoutACoreAreACoresOwn) {
  for (bool server : {false, true}) {
    std::unique_ptr<PulseServer> pulse;
    if (server) {
      pulse = std::make_unique<PulseServer>();
      ASSERT_TRUE(pulse->up());
    }
    const std::vector<std::string> alone = SipSoundDevices();
    Peer peer;
    ASSERT_NE(peer.core(), nullptr);
    EXPECT_EQ(alone, SipCoreSoundDevices(peer.core())) << "server " << server;
    if (server) {
      EXPECT_FALSE(alone.empty());
      unsetenv("PULSE_SERVER");
    }
  }
}

TEST(SipCore, TwoCoresCallAnswerAndHangUp) {
  Peer door, pc;
  ASSERT_NE(door.core(), nullptr);
  ASSERT_NE(pc.core(), nullptr);
  ASSERT_NE(SipCoreSipPort(door.core()), SipCoreSipPort(pc.core()));
  SipCoreSetPrimaryContact(door.core(), "sip:door@127.0.0.1");

  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(SipCoreInvite(door.core(), pc.url().c_str()), 0);
  const auto from = pc.Take("inv_recv");
  ASSERT_TRUE(from) << "no incoming call";
  const auto setup = std::chrono::steady_clock::now() - start;
  std::printf("call setup over loopback: %.1f ms\n",
              std::chrono::duration<double, std::milli>(setup).count());
  EXPECT_NE(from->find("sip:door@127.0.0.1"), std::string::npos) << *from;
  EXPECT_EQ(SipCoreInCall(pc.core()), 1);

  ASSERT_EQ(SipCoreAcceptCall(pc.core()), 0);
  EXPECT_TRUE(Peer::Until(
      [&] { return SipCoreInCall(pc.core()) && SipCoreInCall(door.core()); }));
  // The side that did not hang up sees the same end as the one that did.
  ASSERT_EQ(SipCoreTerminateCall(door.core()), 0);
  EXPECT_EQ(door.Take("display_status"), "Call terminated.");
  EXPECT_EQ(pc.Take("display_status"), "Call terminated.");
  EXPECT_TRUE(Peer::Until([&] {
    return !SipCoreInCall(pc.core()) && !SipCoreInCall(door.core());
  }));
  EXPECT_TRUE(door.Pending().empty());
  EXPECT_TRUE(pc.Pending().empty());
  EXPECT_TRUE(pc.OnSipThreadOnly());
  EXPECT_TRUE(door.OnSipThreadOnly());
  EXPECT_NE(SipCoreAcceptCall(pc.core()), 0); // nothing rings any more
}

// How a call ends, as each side sees it.
TEST(SipCore, CallEndings) {
  enum Step { kAcceptThenPcHangsUp, kPcDeclines, kDoorGivesUp };
  struct {
    const char *name;
    Step step;
    const char *door_kind, *pc_kind;
  } cases[] = {
      // The Accept dialog's Cancel: answered, then ended at once.
      {"answer then hang up", kAcceptThenPcHangsUp, "display_status",
       "display_status"},
      {"decline while ringing", kPcDeclines, "display_message",
       "display_status"},
      {"caller gives up while ringing", kDoorGivesUp, "display_status",
       "display_status"},
  };
  Peer door, pc;
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(SipCoreInvite(door.core(), pc.url().c_str()), 0);
    ASSERT_TRUE(pc.Take("inv_recv"));
    if (c.step == kAcceptThenPcHangsUp) {
      ASSERT_EQ(SipCoreAcceptCall(pc.core()), 0);
      ASSERT_EQ(SipCoreTerminateCall(pc.core()), 0);
    } else if (c.step == kPcDeclines) {
      ASSERT_EQ(SipCoreTerminateCall(pc.core()), 0);
    } else {
      ASSERT_EQ(SipCoreTerminateCall(door.core()), 0);
    }
    const auto door_saw = door.Take(c.door_kind);
    const auto pc_saw = pc.Take(c.pc_kind);
    ASSERT_TRUE(door_saw) << ::testing::PrintToString(door.Pending());
    ASSERT_TRUE(pc_saw) << ::testing::PrintToString(pc.Pending());
    if (std::string(c.door_kind) == "display_status")
      EXPECT_EQ(*door_saw, "Call terminated.");
    else
      EXPECT_FALSE(door_saw->empty());
    EXPECT_EQ(*pc_saw, "Call terminated.");
    EXPECT_TRUE(Peer::Until([&] {
      return !SipCoreInCall(pc.core()) && !SipCoreInCall(door.core());
    }));
    // One event per side and call: no second end, no stray status.
    std::this_thread::sleep_for(200ms);
    EXPECT_TRUE(door.Pending().empty());
    EXPECT_TRUE(pc.Pending().empty());
  }
}

TEST(SipCore, UnreachablePeerDoesNotHang) {
  Peer pc;
  // A loopback port nobody listens on: the port is freed right away.
  int port = 0;
  {
    Peer gone;
    port = SipCoreSipPort(gone.core());
  }
  const std::string target = "sip:door@127.0.0.1:" + std::to_string(port);
  // The library waits 32 s for an answer that never comes before it
  // reports a time-out; the user's hang-up ends the attempt at once.
  ASSERT_EQ(SipCoreInvite(pc.core(), target.c_str()), 0);
  EXPECT_EQ(SipCoreInCall(pc.core()), 1);
  EXPECT_FALSE(pc.Take("display_message", 1s));
  EXPECT_EQ(SipCoreTerminateCall(pc.core()), 0);
  EXPECT_EQ(pc.Take("display_status", 2s), "Call terminated.");
  EXPECT_TRUE(Peer::Until([&] { return !SipCoreInCall(pc.core()); }, 2s));
  EXPECT_NE(SipCoreInvite(pc.core(), "not a sip address <"), 0);
  EXPECT_NE(SipCoreInvite(pc.core(), nullptr), 0);
  EXPECT_EQ(SipCoreInCall(pc.core()), 0);
  EXPECT_NE(SipCoreTerminateCall(pc.core()), 0); // nothing to end
}

// Registration with the right password, and the request for credentials
// with a wrong one; both accounts point at the registrar as their route.
TEST(SipCore, RegistersWithRightPasswordOnly) {
  Kamailio registrar(KAMAILIO_CFG, "door", "secret");
  ASSERT_TRUE(registrar.up());
  struct {
    const char *password;
    bool registers;
  } cases[] = {{"secret", true}, {"wrong", false}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.password);
    Peer pc;
    SipAuthInfo *info =
        SipAuthInfoNew("door", nullptr, c.password, nullptr, "127.0.0.1");
    SipCoreAddAuthInfo(pc.core(), info);
    SipProxyConfig *cfg = SipProxyConfigNew(pc.core());
    const std::string identity = "sip:door@" + registrar.address();
    const std::string server = "sip:" + registrar.address();
    ASSERT_EQ(SipProxyConfigSetIdentity(cfg, identity.c_str()), 0);
    ASSERT_EQ(SipProxyConfigSetServerAddr(cfg, server.c_str()), 0);
    SipProxyConfigExpires(cfg, 60);
    SipProxyConfigEnableRegister(cfg, true);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(SipCoreAddProxyConfig(pc.core(), cfg), 0);
    SipCoreSetDefaultProxy(pc.core(), cfg);
    if (c.registers) {
      EXPECT_TRUE(Peer::Until([&] { return SipProxyConfigIsRegistered(cfg); }));
      std::printf("registration over loopback: %.1f ms\n",
                  std::chrono::duration<double, std::milli>(
                      std::chrono::steady_clock::now() - start)
                      .count());
      EXPECT_TRUE(pc.Pending().empty());
    } else {
      EXPECT_EQ(pc.Take("auth_info_requested"), "127.0.0.1 door");
      EXPECT_EQ(SipProxyConfigIsRegistered(cfg), 0);
      // The user types the right password: the record now registers.
      SipCoreRemoveAuthInfo(pc.core(), info);
      SipAuthInfoSetPasswd(info, "secret");
      SipCoreAddAuthInfo(pc.core(), info);
      EXPECT_TRUE(Peer::Until([&] { return SipProxyConfigIsRegistered(cfg); }));
    }
    SipCoreRemoveAuthInfo(pc.core(), info);
    SipCoreRemoveProxyConfig(pc.core(), cfg);
    SipProxyConfigDestroy(cfg);
    SipAuthInfoDestroy(info);
  }
  // An account the core cannot take.
  Peer pc;
  SipProxyConfig *bad = SipProxyConfigNew(pc.core());
  EXPECT_NE(SipProxyConfigSetIdentity(bad, "no address"), 0);
  EXPECT_EQ(SipCoreAddProxyConfig(pc.core(), bad), -1);
  SipProxyConfigDestroy(bad);
}

// The simulator's SIP side as the door unit: it calls the program's core,
// which answers and hangs up; then the core calls it, and it answers or
// declines as told.
TEST(SipCore, DoorSimulatorCallsAndIsCalled) {
  DoorSim sim({"--sip", "127.0.0.1:0"});
  const auto line = sim.NextLine();
  ASSERT_TRUE(line && line->rfind("sip 127.0.0.1:", 0) == 0) << *line;
  const std::string door = "sip:door@127.0.0.1:" + line->substr(14);
  Peer pc;

  sim.Command("ring-sip " + pc.url());
  const auto from = pc.Take("inv_recv");
  ASSERT_TRUE(from);
  EXPECT_NE(from->find("sip:door@127.0.0.1"), std::string::npos) << *from;
  ASSERT_EQ(SipCoreAcceptCall(pc.core()), 0);
  EXPECT_TRUE(Peer::Until([&] { return sim.Status("sip_in_call") == 1; }));
  ASSERT_EQ(SipCoreTerminateCall(pc.core()), 0);
  EXPECT_EQ(pc.Take("display_status"), "Call terminated.");
  EXPECT_TRUE(Peer::Until([&] { return sim.Status("sip_ended") == 1; }));
  EXPECT_EQ(sim.Status("sip_in_call"), 0);

  struct {
    const char *mode, *kind;
  } cases[] = {
      {"accept 100", "display_status"}, // answered, then the door hangs up
      {"decline 486", "display_message"},
      {"decline 603", "display_message"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.mode);
    sim.Command(std::string("sip-answer ") + c.mode);
    ASSERT_EQ(SipCoreInvite(pc.core(), door.c_str()), 0);
    if (std::string(c.kind) == "display_status") {
      EXPECT_TRUE(Peer::Until([&] { return sim.Status("sip_in_call") == 1; }));
      sim.Command("hangup");
      EXPECT_EQ(pc.Take(c.kind), "Call terminated.");
    } else {
      const auto message = pc.Take(c.kind);
      ASSERT_TRUE(message);
      EXPECT_FALSE(message->empty());
    }
    EXPECT_TRUE(Peer::Until([&] { return !SipCoreInCall(pc.core()); }));
    EXPECT_TRUE(pc.Pending().empty());
  }
  EXPECT_EQ(sim.Status("sip_incoming"), 3);
}

// Each side speaks a tone into a sound device of its own and listens on
// another, and the door unit offers one codec at a time: it is answered
// whatever codec it offers, and each side hears the other at the level
// spoken, the user as loud while the visitor talks as when the visitor is
// silent.
TEST(SipCore, TheDoorHearsTheUserInDoubleTalkWithEveryCodec) {
  constexpr double kSpoken = -20; // dBFS, each side's tone
  plat::NameSoundStreams();
  PulseServer pulse;
  ASSERT_TRUE(pulse.up());
  ASSERT_TRUE(voice::AddSide("pc", 440, kSpoken));
  ASSERT_TRUE(voice::AddSide("door", 300, kSpoken));
  DoorSim sim({"--sip", "127.0.0.1:0"});
  ASSERT_TRUE(sim.NextLine());
  sim.Command("sip-sound door-mouth door-ear");
  ASSERT_TRUE(sim.WaitForLine("ok sip-sound"));
  Peer pc(true);
  ASSERT_NE(pc.core(), nullptr);
  const auto devices = SipCoreSoundDevices(pc.core());
  const std::string mouth = voice::DeviceNamed(devices, "pc-mouth");
  const std::string ear = voice::DeviceNamed(devices, "pc-ear");
  SipCoreSetCaptureDevice(pc.core(), mouth.c_str());
  SipCoreSetPlaybackDevice(pc.core(), ear.c_str());
  ASSERT_EQ(SipCoreCaptureDevice(pc.core()), mouth);
  ASSERT_EQ(SipCorePlaybackDevice(pc.core()), ear);
  const struct {
    const char *codec;
    bool doorHangsUp;
  } cases[] = {
      {"opus", true}, {"PCMU", false}, {"PCMA", true}, {"G722", false}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.codec);
    sim.Command(std::string("sip-codec ") + c.codec);
    sim.Command("ring-sip " + pc.url());
    ASSERT_TRUE(pc.Take("inv_recv")) << "a door that offers only " << c.codec;
    ASSERT_EQ(SipCoreAcceptCall(pc.core()), 0);
    ASSERT_TRUE(sim.WaitForLine(std::string("sip audio codec ") + c.codec));
    std::this_thread::sleep_for(1500ms); // the streams settle
    // The user's side of a call is a phone call to the mixer.
    const auto roles = StreamProperties("media.role");
    EXPECT_NE(std::find(roles.begin(), roles.end(), "phone"), roles.end());
    const double visitor = voice::EarLevel("pc", 1);
    const double doubleTalk = voice::EarLevel("door", 1.5);
    voice::Mute("door", true);
    std::this_thread::sleep_for(500ms);
    const double singleTalk = voice::EarLevel("door", 1.5);
    voice::Mute("door", false);
    EXPECT_NEAR(visitor, kSpoken, 3) << "the visitor at the user's ear";
    EXPECT_NEAR(singleTalk, kSpoken, 3) << "the user at the door, alone";
    EXPECT_NEAR(doubleTalk, singleTalk, 3) << "the user, the visitor talking";

    if (c.doorHangsUp)
      sim.Command("hangup");
    else
      ASSERT_EQ(SipCoreTerminateCall(pc.core()), 0);
    EXPECT_EQ(pc.Take("display_status"), "Call terminated.");
    EXPECT_TRUE(Peer::Until([&] { return !SipCoreInCall(pc.core()); }));
  }
}

// A callback that waits for the window thread while the window thread
// calls into the core: neither waits for the other.
TEST(SipCore, WindowThreadCallsInWhileCallbackWaits) {
  Peer door, pc;
  std::promise<int> answered;
  auto answer = answered.get_future();
  pc.on_invite = [&] {
    // As a synchronous send to the window thread would.
    EXPECT_EQ(answer.wait_for(10s), std::future_status::ready);
  };
  ASSERT_EQ(SipCoreInvite(door.core(), pc.url().c_str()), 0);
  // The window thread, while the SIP thread sits in the callback.
  ASSERT_TRUE(Peer::Until([&] { return SipCoreInCall(pc.core()) == 1; }));
  std::this_thread::sleep_for(100ms);
  answered.set_value(SipCoreAcceptCall(pc.core()));
  EXPECT_TRUE(pc.Take("inv_recv"));
  EXPECT_TRUE(Peer::Until([&] { return SipCoreInCall(door.core()) == 1; }));

  // The SIP thread stops with the call still up; the core then ends the
  // call as it goes, and the other side sees the end.
  EXPECT_TRUE(pc.thread().Stop(2s));
  EXPECT_FALSE(pc.thread().running());
  EXPECT_EQ(SipCoreInCall(pc.core()), 1);
  EXPECT_EQ(SipCoreTerminateCall(pc.core()), 0);
  pc.thread().Start(pc.core());
  EXPECT_EQ(door.Take("display_status"), "Call terminated.");
}

} // namespace
