// The pop-up rules as a table, and a hide click racing the reader's call
// flags.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "video/popup_rules.h"

namespace {

using E = PopupEvent;
using namespace std::chrono_literals;
constexpr unsigned kTrace = kPopupTraceCall, kAlert = kPopupAlert,
                   kPaint = kPopupShowPainted, kHide = kPopupHide,
                   kRestore = kPopupRestore, kReset = kPopupResetButton;

struct Row {
  const char *what;
  bool popUp;
  E event;
  t_PopupState now; // show, hide, call
  bool visible;
  t_PopupState next;
  unsigned actions;
};

// clang-format off
const Row kRows[] = {
  // what                                         pop-up event           now {show, hide, call}, visible, next, actions
  // Call flag '1' or '2'.
  {"ring starts, pop-up, hidden: pops up",        true,  E::RingOn,      {1, 0, 0}, false, {1, 1, 1}, kTrace | kAlert | kPaint},
  {"ring starts, pop-up, shown: indicator",       true,  E::RingOn,      {1, 0, 0}, true,  {1, 1, 1}, kTrace | kPaint},
  {"ring starts, no pop-up, hidden: stays",       false, E::RingOn,      {1, 0, 0}, false, {1, 0, 1}, kTrace},
  {"ring starts, no pop-up, shown: indicator",    false, E::RingOn,      {1, 0, 0}, true,  {1, 0, 1}, kTrace | kPaint},
  {"ring goes on, hidden by the user",            true,  E::RingOn,      {0, 1, 1}, false, {0, 1, 1}, 0},
  {"ring goes on, hidden otherwise: up again",    true,  E::RingOn,      {1, 1, 1}, false, {1, 1, 1}, kAlert | kPaint},
  {"ring goes on, shown",                         true,  E::RingOn,      {1, 1, 1}, true,  {1, 1, 1}, 0},
  // Call flag '0'.
  {"ring ends, popped up: indicator off, hidden", true,  E::RingOff,     {1, 1, 1}, true,  {1, 1, 0}, kPaint | kHide | kReset},
  {"ring ends, opened by the user: stays",        true,  E::RingOff,     {1, 0, 1}, true,  {1, 0, 0}, kPaint},
  {"ring ends, hidden by the user: next pops up", true,  E::RingOff,     {0, 1, 1}, false, {1, 1, 0}, 0},
  {"ring ends, no pop-up: indicator off only",    false, E::RingOff,     {1, 1, 1}, true,  {1, 1, 0}, kPaint},
  {"no ring, pop-up, shown to go: hidden",        true,  E::RingOff,     {1, 1, 0}, true,  {1, 1, 0}, kHide | kReset},
  {"no ring, pop-up, shown to stay",              true,  E::RingOff,     {1, 0, 0}, true,  {1, 0, 0}, 0},
  // Tray click.
  {"tray hides during a ring",                    true,  E::TrayClick,   {1, 1, 1}, true,  {0, 1, 1}, kHide | kReset},
  {"tray hides outside a ring",                   true,  E::TrayClick,   {0, 1, 0}, true,  {1, 1, 0}, kHide | kReset},
  {"tray opens during a ring",                    true,  E::TrayClick,   {0, 0, 1}, false, {0, 1, 1}, kRestore | kReset},
  {"tray opens outside a ring",                   true,  E::TrayClick,   {1, 1, 0}, false, {1, 0, 0}, kRestore | kReset},
  {"tray hides, no pop-up",                       false, E::TrayClick,   {0, 1, 1}, true,  {1, 1, 1}, kHide | kReset},
  // Hide button.
  {"hide button during a ring",                   true,  E::HideButton,  {1, 1, 1}, true,  {0, 1, 1}, kHide | kReset},
  {"hide button outside a ring leaves show",      true,  E::HideButton,  {0, 1, 0}, true,  {0, 1, 0}, kHide | kReset},
  {"hide button, no pop-up",                      false, E::HideButton,  {1, 1, 1}, true,  {1, 1, 1}, kHide | kReset},
  // Brought back by the desktop.
  {"brought back during a ring",                  true,  E::BroughtBack, {1, 0, 1}, true,  {1, 1, 1}, kReset},
  {"brought back outside a ring",                 true,  E::BroughtBack, {1, 1, 0}, true,  {1, 0, 0}, kReset},
  {"brought back, no pop-up",                     false, E::BroughtBack, {1, 1, 1}, true,  {1, 0, 1}, kReset},
  // The connection ended.
  {"run ends during a ring: show and hide stay",  true,  E::RunEnded,    {0, 1, 1}, true,  {0, 1, 0}, 0},
};
// clang-format on

TEST(PopupRules, Table) {
  for (const Row &r : kRows) {
    const t_PopupStep step = PopupRule(r.popUp, r.event, r.now, r.visible);
    EXPECT_EQ(step.next, r.next) << r.what;
    EXPECT_EQ(step.actions, r.actions) << r.what;
  }
}

// The reader runs rings on a hidden window (each ring: three call flags on,
// one off) while the window thread clicks hide as fast as it can. A hide
// belongs to the ring it was clicked in: every ring pops up on its first
// flag, and show is 1 again after every ring's end. The window of the race
// is a few instructions wide, so the rings go on for a while.
TEST(PopupRules, HideClicksRacingRingsStayWithTheirRing) {
  std::atomic<int> cellShow{1}, cellHide{0}, cellCall{0};
  const t_PopupCells cells{cellShow, cellHide, cellCall};
  std::atomic<bool> done{false};
  std::atomic<int> clicks{0};
  std::thread clicker([&] {
    while (!done) {
      PopupStep(cells, true, E::HideButton, true);
      ++clicks;
    }
  });
  while (clicks == 0)
    std::this_thread::yield();
  const auto until = std::chrono::steady_clock::now() + 300ms;
  int rings = 0, missedPopUps = 0, showLeftClear = 0;
  for (; rings < 1000 || std::chrono::steady_clock::now() < until; ++rings) {
    if (!(PopupStep(cells, true, E::RingOn, false) & kPopupShowPainted))
      ++missedPopUps;
    PopupStep(cells, true, E::RingOn, false);
    PopupStep(cells, true, E::RingOn, false);
    PopupStep(cells, true, E::RingOff, false);
    if (cellShow != 1)
      ++showLeftClear;
  }
  done = true;
  clicker.join();
  EXPECT_EQ(missedPopUps, 0) << "of " << rings << " rings";
  EXPECT_EQ(showLeftClear, 0) << "of " << rings << " rings";
  EXPECT_EQ(cellCall, 0);
}

} // namespace
