// Where the window opens from a saved place, against the screens there are.
#include <gtest/gtest.h>

#include "instance/identity.h"
#include "instance/settings.h"
#include "instance/tray.h"
#include "shell/main.h"

namespace {

using plat::RECT;

RECT At(int left, int top, int width = 336, int height = 301) {
  return {left, top, left + width, top + height};
}

TEST(Placement, KeptWhileSomeOfTheDragStripIsOnAScreenElseCentredOnThePrimary) {
  // Strip: 26 rows high, ending 70 pixels before the right edge.
  const std::vector<RECT> one{{0, 0, 1024, 768}};
  const std::vector<RECT> panelAndTwo{{0, 24, 1024, 768},
                                      {1024, 0, 2944, 1080}};
  struct Case {
    const char *what;
    RECT window;
    std::vector<RECT> screens;
    plat::POINT expected;
  } cases[] = {
      {"on the screen", At(100, 80), one, {100, 80}},
      {"far off every screen", At(-100000, 99999999), one, {344, 233}},
      {"left edge off, strip partly on", At(-200, 35), one, {-200, 35}},
      {"only the corner keys on", At(-300, 35), one, {344, 233}},
      {"one strip pixel on at the right", At(1023, 700), one, {1023, 700}},
      {"strip above the top, body on", At(30, -40), one, {344, 233}},
      {"strip's last row on", At(30, -25), one, {30, -25}},
      {"top row on the bottom row", At(30, 767), one, {30, 767}},
      {"just below the bottom", At(30, 768), one, {344, 233}},
      {"on the second screen", At(1500, 500), panelAndTwo, {1500, 500}},
      {"under the panel only", At(100, 0, 336, 20), panelAndTwo, {100, 0}},
      {"off both: centred under the panel",
       At(5000, 5000),
       panelAndTwo,
       {344, 24 + 221}},
      {"larger than the primary",
       At(-9000, 0, 2000, 900),
       panelAndTwo,
       {0, 24}},
      {"no screens known", At(-100000, 5), {}, {-100000, 5}},
  };
  for (const Case &c : cases) {
    const plat::POINT at = ReachablePlace(c.window, 26, 70, c.screens);
    EXPECT_EQ(at.x, c.expected.x) << c.what;
    EXPECT_EQ(at.y, c.expected.y) << c.what;
  }
}

TEST(Placement, ASavedSizeIsKeptWithinTheSkinsMinimumAndTheScreens) {
  const std::vector<RECT> one{{0, 24, 1024, 768}};
  const std::vector<RECT> two{{0, 24, 1024, 768}, {1024, 0, 2944, 1080}};
  struct Case {
    const char *what;
    t_ClientSize saved;
    std::vector<RECT> screens;
    t_ClientSize expected;
  } cases[] = {
      {"as saved", {480, 360}, one, {480, 360}},
      {"edited to 16000 x 16000", {16000, 16000}, one, {1024, 744}},
      {"wider than one screen, within both", {2500, 900}, two, {2500, 900}},
      {"beyond both", {100000, 100000}, two, {2944, 1080}},
      {"below the skin's minimum", {10, -5}, one, {268, 61}},
      {"no screens known", {5000, 40}, {}, {5000, 61}},
  };
  for (const Case &c : cases) {
    const t_ClientSize size = UsableSize(c.saved, {268, 61}, c.screens);
    EXPECT_EQ(size.width, c.expected.width) << c.what;
    EXPECT_EQ(size.height, c.expected.height) << c.what;
  }
}

} // namespace
