// Values that threads meet on are read whole: the client size, the layout a
// painter uses, and the request for a new connection.
#include <atomic>
#include <thread>

#include "skin_fixture.h"
#include "video/video.h"

namespace {

constexpr t_ClientSize kSizes[] = {{336, 301}, {640, 480}, {300, 61}};

bool OneOfTheSizes(t_ClientSize s) {
  for (const t_ClientSize &k : kSizes)
    if (s == k)
      return true;
  return false;
}

// A layout belongs to one size when the right-hand and bottom elements sit
// where that size puts them.
bool LaidOutFor(const t_Skin *S, t_ClientSize s) {
  const t_Skin &br = S[SKIN_BR];
  const t_Skin &r = S[SKIN_R];
  const t_Skin &b1 = S[SKIN_B1_UP];
  return br.PosY == s.width - br.Width && br.PosX == s.height - br.Height &&
         r.PosY == s.width - r.Width && b1.PosX == s.height - b1.Height &&
         S[SKIN_TR].PosY == s.width - S[SKIN_TR].Width;
}

} // namespace

using Snapshots = SkinTest;

// One thread resizes as the window thread does (the size, then the shared
// layout); others take the size, and a layout of their own for it, as the
// painters do.
TEST_F(Snapshots, SizeAndLayoutAreReadWholeWhileTheWindowIsResized) {
  LoadSkin();
  ShowData.Size.store(kSizes[0]);
  std::atomic<bool> done{false};
  std::thread resizer([&] {
    for (int i = 0; i < 20000; ++i) {
      const t_ClientSize s = kSizes[i % 3];
      ShowData.Size.store(s);
      SkinBitmapPos(Skin, s.height, s.width);
    }
    done = true;
  });
  std::atomic<int> mixedSizes{0}, mixedLayouts{0}, reads{0};
  auto painter = [&] {
    while (!done) {
      const t_ShowData copy(ShowData);
      const t_ClientSize s = copy.Size.load();
      t_Skin local[kSkinCount];
      SkinLayoutFor(Skin, s, local);
      ++reads;
      if (!OneOfTheSizes(s))
        ++mixedSizes;
      else if (!LaidOutFor(local, s))
        ++mixedLayouts;
    }
  };
  std::thread a(painter), b(painter);
  resizer.join();
  a.join();
  b.join();
  EXPECT_GT(reads.load(), 0);
  EXPECT_EQ(mixedSizes.load(), 0);
  EXPECT_EQ(mixedLayouts.load(), 0);
}

// A request made once a run has begun is seen by that run, however the run
// clears "not connected" meanwhile; one made before it began is not (that
// run is the new connection).
TEST(ReconnectRequests, AreSeenByTheRunThatBeganBeforeThem) {
  RequestReconnect();
  const t_ReconnectWatch run;
  EXPECT_FALSE(run.Wanted()) << "a request before the run's start";
  ShowData.Kill_TCP = 1;
  std::thread relay([] { RequestReconnect(); });
  relay.join();
  ShowData.Kill_TCP = 0; // the run's start, after the request
  EXPECT_TRUE(run.Wanted());
  const t_ReconnectWatch next;
  EXPECT_FALSE(next.Wanted());
  EXPECT_TRUE(run.Wanted()) << "the older run still ends";
}
