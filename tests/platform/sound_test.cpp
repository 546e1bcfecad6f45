// The ring: WAVE files from untrusted bytes, the built-in ring, and real
// playing into a PulseAudio server of the test's own with only a null sink.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "platform/sound.h"
#include "platform/test_hooks.h"
#include "resources/dialog_templates.h"
#include "resources/resources.h"
#include "support/process.h"
#include "support/pulse.h"
#include "support/temp_dir.h"

using namespace plat;

namespace {

using Bytes = std::vector<std::uint8_t>;

void Put(Bytes &b, std::uint32_t v, int n) {
  for (int i = 0; i < n; ++i)
    b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// A chunk; `declared` overrides the size written in its header.
struct Chunk {
  std::string id;
  Bytes body;
  long long declared = -1;
};

Bytes Fmt(unsigned tag, unsigned channels, unsigned rate, unsigned bits,
          unsigned blockAlign = 0, unsigned subTag = 1) {
  Bytes b;
  if (blockAlign == 0)
    blockAlign = channels * bits / 8;
  Put(b, tag, 2);
  Put(b, channels, 2);
  Put(b, rate, 4);
  Put(b, rate * blockAlign, 4);
  Put(b, blockAlign, 2);
  Put(b, bits, 2);
  if (tag == 0xFFFE) {
    Put(b, 22, 2);   // extension size
    Put(b, bits, 2); // valid bits
    Put(b, 3, 4);    // channel mask
    Put(b, subTag, 2);
    for (int i = 0; i < 14; ++i)
      b.push_back(static_cast<std::uint8_t>(i));
  }
  return b;
}

Bytes Riff(const std::vector<Chunk> &chunks, const char *magic = "RIFF") {
  Bytes b(magic, magic + 4);
  Put(b, 0, 4);
  b.insert(b.end(), {'W', 'A', 'V', 'E'});
  for (const Chunk &c : chunks) {
    b.insert(b.end(), c.id.begin(), c.id.end());
    Put(b, c.declared >= 0 ? std::uint32_t(c.declared) : c.body.size(), 4);
    b.insert(b.end(), c.body.begin(), c.body.end());
    if (c.body.size() % 2 == 1 && c.declared < 0)
      b.push_back(0);
  }
  const std::uint32_t riff = static_cast<std::uint32_t>(b.size() - 8);
  for (int i = 0; i < 4; ++i)
    b[4 + i] = static_cast<std::uint8_t>(riff >> (8 * i));
  return b;
}

Bytes Samples(std::size_t n) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i)
    b[i] = static_cast<std::uint8_t>(i * 7);
  return b;
}

TEST(Wave, UntrustedFilesAreReadWithinTheirBytes) {
  const struct {
    const char *name;
    Bytes file;
    bool ok;
    unsigned channels = 0, rate = 0, bits = 0;
    std::size_t size = 0;
  } cases[] = {
      {"stereo 16 bit",
       Riff({{"fmt ", Fmt(1, 2, 44100, 16)}, {"data", Samples(4000)}}), true, 2,
       44100, 16, 4000},
      {"mono 8 bit",
       Riff({{"fmt ", Fmt(1, 1, 8000, 8)}, {"data", Samples(801)}}), true, 1,
       8000, 8, 801},
      {"extensible PCM 24 bit",
       Riff({{"fmt ", Fmt(0xFFFE, 2, 48000, 24)}, {"data", Samples(600)}}),
       true, 2, 48000, 24, 600},
      {"data first, odd chunk between",
       Riff({{"data", Samples(400)},
             {"LIST", Samples(3)},
             {"fmt ", Fmt(1, 2, 22050, 16)}}),
       true, 2, 22050, 16, 400},
      {"data longer than the file: what is there, whole frames",
       Riff({{"fmt ", Fmt(1, 2, 44100, 16)},
             {"data", Samples(1002), 0xFFFFFFF0}}),
       true, 2, 44100, 16, 1000},
      {"data cut to whole frames",
       Riff({{"fmt ", Fmt(1, 2, 44100, 16)}, {"data", Samples(1003)}}), true, 2,
       44100, 16, 1000},
      {"huge fmt swallows the rest",
       Riff({{"fmt ", Fmt(1, 2, 44100, 16), 0xFFFFFFFF},
             {"data", Samples(100)}}),
       false},
      {"huge chunk before data",
       Riff({{"fmt ", Fmt(1, 2, 44100, 16)},
             {"junk", Samples(8), 0x7FFFFFFF},
             {"data", Samples(100)}}),
       false},
      {"float", Riff({{"fmt ", Fmt(3, 2, 44100, 32)}, {"data", Samples(800)}}),
       false},
      {"ADPCM", Riff({{"fmt ", Fmt(2, 1, 8000, 4)}, {"data", Samples(800)}}),
       false},
      {"extensible float",
       Riff(
           {{"fmt ", Fmt(0xFFFE, 2, 48000, 32, 0, 3)}, {"data", Samples(800)}}),
       false},
      {"block align lies",
       Riff({{"fmt ", Fmt(1, 2, 44100, 16, 2)}, {"data", Samples(800)}}),
       false},
      {"no channels",
       Riff({{"fmt ", Fmt(1, 0, 44100, 16, 2)}, {"data", Samples(8)}}), false},
      {"12 bit",
       Riff({{"fmt ", Fmt(1, 1, 44100, 12, 2)}, {"data", Samples(8)}}), false},
      {"rate 0", Riff({{"fmt ", Fmt(1, 2, 0, 16)}, {"data", Samples(800)}}),
       false},
      {"rate 10 MHz",
       Riff({{"fmt ", Fmt(1, 2, 10000000, 16)}, {"data", Samples(800)}}),
       false},
      {"fmt too short", Riff({{"fmt ", Bytes(14, 1)}, {"data", Samples(800)}}),
       false},
      {"no data chunk", Riff({{"fmt ", Fmt(1, 2, 44100, 16)}}), false},
      {"less than one frame",
       Riff({{"fmt ", Fmt(1, 2, 44100, 16)}, {"data", Samples(3)}}), false},
      {"not RIFF",
       Riff({{"fmt ", Fmt(1, 2, 44100, 16)}, {"data", Samples(8)}}, "RIFX"),
       false},
      {"empty", {}, false},
      {"header only", Bytes{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V'},
       false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    // A copy of exactly the file's size, so reading past it is a finding
    // under the address sanitizer.
    const Bytes file = c.file;
    WavePcm pcm;
    ASSERT_EQ(ParseWave(file.data(), file.size(), &pcm), c.ok);
    if (!c.ok)
      continue;
    EXPECT_EQ(pcm.channels, c.channels);
    EXPECT_EQ(pcm.sampleRate, c.rate);
    EXPECT_EQ(pcm.bitsPerSample, c.bits);
    EXPECT_EQ(pcm.size, c.size);
    EXPECT_GE(pcm.data, file.data());
    EXPECT_LE(pcm.data + pcm.size, file.data() + file.size());
  }

  // Every cut of a good file: accepted exactly while it holds the format
  // and one whole frame, never past its end.
  const Bytes good = Riff({{"fmt ", Fmt(1, 2, 44100, 16)},
                           {"LIST", Samples(5)},
                           {"data", Samples(64)}});
  const std::size_t dataAt = good.size() - 64;
  for (std::size_t n = 0; n <= good.size(); ++n) {
    const Bytes cut(good.begin(), good.begin() + n);
    WavePcm pcm;
    const bool ok = ParseWave(cut.data(), cut.size(), &pcm);
    EXPECT_EQ(ok, n >= dataAt + 4) << n;
    if (ok) {
      EXPECT_EQ(pcm.size, (n - dataAt) / 4 * 4) << n;
    }
  }
}

TEST(Wave, BuiltInRingIsStereo16Bit44100HzOfAbout3SecondsAndLoopsQuietly) {
  const res::ResourceData ring = res::FindResource(res::kRingId);
  ASSERT_TRUE(ring);
  WavePcm pcm;
  ASSERT_TRUE(ParseWave(ring.data, ring.size, &pcm));
  EXPECT_EQ(pcm.channels, 2u);
  EXPECT_EQ(pcm.sampleRate, 44100u);
  EXPECT_EQ(pcm.bitsPerSample, 16u);
  const double seconds = pcm.size / 4.0 / 44100;
  EXPECT_NEAR(seconds, 2.9, 0.05);
  auto sample = [&](std::size_t i) {
    return static_cast<std::int16_t>(pcm.data[2 * i] |
                                     (pcm.data[2 * i + 1] << 8));
  };
  const std::size_t samples = pcm.size / 2;
  int peak = 0;
  for (std::size_t i = 0; i < samples; ++i)
    peak = std::max(peak, std::abs(int(sample(i))));
  EXPECT_GT(peak, 10000); // audible
  // Its ends meet without a click when it loops.
  for (std::size_t i :
       {std::size_t(0), std::size_t(1), samples - 2, samples - 1})
    EXPECT_LT(std::abs(int(sample(i))), 200) << i;
}

std::string Streams() { return Run("pactl list sink-inputs 2>&1"); }

TEST(Sound, LoopsIntoTheServerUntilStoppedFromAnyThread) {
  PulseServer pulse;
  ASSERT_TRUE(pulse.up());
  // "ring.wav" in the current folder, and the built-in ring.
  const Bytes mono =
      Riff({{"fmt ", Fmt(1, 1, 8000, 8)}, {"data", Samples(1600)}});
  WriteFile(pulse.dir() / "ring.wav", std::string(mono.begin(), mono.end()));
  ASSERT_EQ(chdir(pulse.dir().path().c_str()), 0);
  const struct {
    const char *sound;
    DWORD flags;
    const char *format;
  } cases[] = {
      {"ring.wav", SND_FILENAME | SND_LOOP | SND_ASYNC, "u8 1ch 8000Hz"},
      {MAKEINTRESOURCE(res::kRingId), SND_RESOURCE | SND_LOOP | SND_ASYNC,
       "s16le 2ch 44100Hz"},
  };
  // The flags keep their Windows values.
  static_assert((SND_FILENAME | SND_LOOP | SND_ASYNC) == 0x20009);
  static_assert((SND_RESOURCE | SND_LOOP | SND_ASYNC) == 0x4000D);
  for (const auto &c : cases) {
    SCOPED_TRACE(c.format);
    ASSERT_TRUE(PlaySound(c.sound, res::ProgramModule(), c.flags));
    // Still there after the 0.2 s file has played several times over.
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    ASSERT_TRUE(Eventually([&] {
      return Streams().find(c.format) != std::string::npos;
    })) << Streams();
    // A ring is an event to the mixer, shown with the program's icon.
    EXPECT_EQ(StreamProperties("media.role"),
              std::vector<std::string>{"event"});
    EXPECT_EQ(StreamProperties("application.icon_name"),
              std::vector<std::string>{"vestibell"});
    std::thread([] { PlaySound(nullptr, nullptr, 0); }).join();
    EXPECT_TRUE(Eventually([] {
      return Streams().find("Sink Input #") == std::string::npos;
    })) << Streams();
    EXPECT_TRUE(Eventually([] { return SoundThreadsRunning() == 0; }));
  }
  // A sound that is not there, or not PCM, plays nothing.
  EXPECT_FALSE(PlaySound("missing.wav", nullptr, SND_FILENAME | SND_ASYNC));
  WriteFile(pulse.dir() / "bad.wav", "RIFF....WAVEjunk");
  EXPECT_FALSE(PlaySound("bad.wav", nullptr, SND_FILENAME | SND_ASYNC));
  EXPECT_FALSE(PlaySound(MAKEINTRESOURCE(999), res::ProgramModule(),
                         SND_RESOURCE | SND_ASYNC));
  EXPECT_EQ(SoundThreadsRunning(), 0);
}

TEST(Sound, WithoutAServerRingsSilentlyWithOneLineOfComplaint) {
  TempDir dir;
  setenv("PULSE_SERVER", ("unix:" + (dir / "nobody")).c_str(), 1);
  testing::internal::CaptureStderr();
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(PlaySound(MAKEINTRESOURCE(res::kRingId), res::ProgramModule(),
                          SND_RESOURCE | SND_LOOP | SND_ASYNC));
    // The attempt ends by itself; nothing waits for a server.
    EXPECT_TRUE(Eventually([] { return SoundThreadsRunning() == 0; }));
  }
  PlaySound(nullptr, nullptr, 0);
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
  EXPECT_NE(said.find("silently"), std::string::npos) << said;
  EXPECT_EQ(said.rfind("Vestibell: ", 0), 0u) << "the program's one prefix";
}

} // namespace
