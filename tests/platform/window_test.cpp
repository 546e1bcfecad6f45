// The window layer under Qt's offscreen platform: message delivery between
// threads, timers, sizes, drawing from several threads at once.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QMouseEvent>
#include <QTimer>
#include <QWidget>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/gdi.h"
#include "platform/message_box.h"
#include "platform/test_hooks.h"
#include "platform/window.h"
#include "support/pump.h"

using namespace plat;

namespace {

struct Seen {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  bool onWindowThread;
};

std::mutex g_seenMutex;
std::vector<Seen> g_seen;
std::atomic<int> g_destroyed{0};

std::vector<Seen> SeenOf(UINT message) {
  std::lock_guard lock(g_seenMutex);
  std::vector<Seen> out;
  for (const Seen &s : g_seen)
    if (s.message == message)
      out.push_back(s);
  return out;
}

LRESULT TestProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  {
    std::lock_guard lock(g_seenMutex);
    g_seen.push_back({message, wParam, lParam, IsWindowThread()});
  }
  switch (message) {
  case WM_USER + 1:
    return static_cast<LRESULT>(wParam * 2 + 1);
  case WM_USER + 3: // a handler that waits for the user
    MessageBox(hwnd, "wait", "Box", 0);
    break;
  case WM_DESTROY:
    ++g_destroyed;
    break;
  case WM_GETMINMAXINFO:
    reinterpret_cast<MINMAXINFO *>(lParam)->ptMinTrackSize = {268, 61};
    break;
  case WM_NCHITTEST: {
    // The top 26 rows drag the window.
    RECT r;
    GetWindowRect(hwnd, &r);
    if (GET_Y_LPARAM(lParam) < r.top + 26)
      return HTCAPTION;
    break;
  }
  default:
    break;
  }
  return DefWindowProc(hwnd, message, wParam, lParam);
}

class WindowLayer : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(Initialize());
    WindowClass wc;
    wc.name = "TestClass";
    wc.proc = TestProc;
    wc.background = RGB(0, 0, 0);
    ASSERT_TRUE(RegisterClass(wc));
  }
  void SetUp() override {
    {
      std::lock_guard lock(g_seenMutex);
      g_seen.clear();
    }
    hwnd = CreateWindow("TestClass", "Title", WS_POPUP, 10, 20, 336, 301);
    ASSERT_NE(hwnd, nullptr);
  }
  void TearDown() override {
    if (IsWindow(hwnd))
      DestroyWindow(hwnd);
    PumpFor(std::chrono::milliseconds(20));
  }
  HWND hwnd = nullptr;
};

TEST_F(WindowLayer, ClassNamesAreUniqueAndUnknownClassesMakeNoWindow) {
  WindowClass wc;
  wc.name = "testclass"; // class names ignore case
  wc.proc = TestProc;
  EXPECT_FALSE(RegisterClass(wc));
  EXPECT_EQ(CreateWindow("NoSuchClass", "", WS_POPUP, 0, 0, 10, 10), nullptr);
}

TEST_F(WindowLayer, SendFromAnotherThreadRunsOnTheWindowThreadAndWaits) {
  std::atomic<LRESULT> result{-1};
  std::thread worker([&] { result = SendMessage(hwnd, WM_USER + 1, 20, 0); });
  ASSERT_TRUE(PumpUntil([&] { return result.load() != -1; }));
  worker.join();
  EXPECT_EQ(result.load(), 41);
  const auto seen = SeenOf(WM_USER + 1);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_TRUE(seen[0].onWindowThread);
  // On the window thread itself a send is a direct call.
  EXPECT_EQ(SendMessage(hwnd, WM_USER + 1, 1, 0), 3);
}

TEST_F(WindowLayer, PostedMessagesArriveLaterAndInOrder) {
  std::thread worker([&] {
    for (WPARAM i = 0; i < 100; ++i)
      EXPECT_TRUE(PostMessage(hwnd, WM_USER + 2, i, 0));
  });
  worker.join();
  EXPECT_TRUE(SeenOf(WM_USER + 2).empty());
  ASSERT_TRUE(PumpUntil([&] { return SeenOf(WM_USER + 2).size() == 100; }));
  const auto seen = SeenOf(WM_USER + 2);
  for (WPARAM i = 0; i < 100; ++i)
    EXPECT_EQ(seen[i].wParam, i);
}

// A handler that runs a modal loop (a box) holds up nothing queued behind
// it: that loop delivers it while the box is open.
TEST_F(WindowLayer, AModalLoopDeliversWhatWasQueuedBeforeIt) {
  PostMessage(hwnd, WM_USER + 3, 0, 0);
  PostMessage(hwnd, WM_USER + 2, 7, 0);
  bool seenWhileOpen = false;
  int looks = 0;
  QTimer look;
  QObject::connect(&look, &QTimer::timeout, [&] {
    for (QWidget *w : QApplication::topLevelWidgets())
      if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible()) {
        seenWhileOpen = !SeenOf(WM_USER + 2).empty();
        if (seenWhileOpen || ++looks > 200)
          box->done(0);
      }
  });
  look.start(10);
  ASSERT_TRUE(PumpUntil([&] { return !SeenOf(WM_USER + 2).empty(); }));
  PumpUntil([&] { return looks > 0 || seenWhileOpen; });
  EXPECT_TRUE(seenWhileOpen);
}

TEST_F(WindowLayer, TimersTickWithTheirIdUntilKilledFromAnyThread) {
  std::thread([&] { SetTimer(hwnd, 0, 20); }).join();
  EXPECT_TRUE(IsTimerSet(hwnd, 0));
  ASSERT_TRUE(PumpUntil([&] { return SeenOf(WM_TIMER).size() >= 3; }));
  for (const Seen &s : SeenOf(WM_TIMER)) {
    EXPECT_EQ(s.wParam, 0u);
    EXPECT_TRUE(s.onWindowThread);
  }
  std::thread([&] { KillTimer(hwnd, 0); }).join();
  EXPECT_FALSE(IsTimerSet(hwnd, 0));
  PumpFor(std::chrono::milliseconds(30));
  const std::size_t ticks = SeenOf(WM_TIMER).size();
  PumpFor(std::chrono::milliseconds(100));
  EXPECT_EQ(SeenOf(WM_TIMER).size(), ticks);
}

TEST_F(WindowLayer, KillThenSetFromTwoThreadsLeavesTheTimerRunning) {
  SetTimer(hwnd, 7, 10);
  std::thread([&] { KillTimer(hwnd, 7); }).join();
  SetTimer(hwnd, 7, 10); // queued after the worker's kill
  ASSERT_TRUE(PumpUntil([&] { return SeenOf(WM_TIMER).size() >= 2; }));
  EXPECT_EQ(SeenOf(WM_TIMER)[0].wParam, 7u);
}

TEST_F(WindowLayer, VisibilityChangesAtOnceForEveryThreadAndTheWindowFollows) {
  std::thread([&] { ShowWindow(hwnd, SW_SHOW); }).join();
  EXPECT_TRUE(IsWindowVisible(hwnd));
  ASSERT_TRUE(PumpUntil([&] { return WidgetOf(hwnd)->isVisible(); }));
  // A hide from a worker and a show from the window thread, queued in the
  // other order, still end where the last call asked.
  std::thread([&] { ShowWindow(hwnd, SW_HIDE); }).join();
  ShowWindow(hwnd, SW_SHOW);
  PumpFor(std::chrono::milliseconds(50));
  EXPECT_TRUE(IsWindowVisible(hwnd));
  EXPECT_TRUE(WidgetOf(hwnd)->isVisible());
  ShowWindow(hwnd, SW_HIDE);
  ASSERT_TRUE(PumpUntil([&] { return !WidgetOf(hwnd)->isVisible(); }));
}

TEST_F(WindowLayer, AButtonIsLetGoOnlyWhereTheWindowWouldReceiveIt) {
  // At (10, 20), with round corners; pressed in the client area each time.
  SetWindowRoundRegion(hwnd, 336, 301, 20, 20);
  ShowWindow(hwnd, SW_SHOW);
  QWidget *widget = WidgetOf(hwnd);
  ASSERT_TRUE(PumpUntil([&] { return widget->isVisible(); }));
  auto send = [&](QEvent::Type type, QPoint at, Qt::MouseButton button,
                  Qt::MouseButtons held) {
    QMouseEvent event(type, QPointF(at), QPointF(at + QPoint(10, 20)), button,
                      held, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
  };
  struct Case {
    const char *where;
    QPoint at;
    bool counts;
  } cases[] = {
      {"off the right edge", {400, 150}, false},
      {"off the left edge", {-5, 150}, false},
      {"below the window", {150, 320}, false},
      {"on the drag strip", {150, 10}, false},
      {"in a cut-off corner", {1, 299}, false},
      {"in the client area", {150, 150}, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.where);
    send(QEvent::MouseButtonPress, {100, 100}, Qt::LeftButton, Qt::LeftButton);
    {
      std::lock_guard lock(g_seenMutex);
      g_seen.clear();
    }
    send(QEvent::MouseMove, c.at, Qt::NoButton, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, c.at, Qt::LeftButton, Qt::NoButton);
    std::vector<UINT> pointer;
    {
      std::lock_guard lock(g_seenMutex);
      for (const Seen &s : g_seen)
        if (s.message >= WM_MOUSEMOVE && s.message <= WM_RBUTTONUP)
          pointer.push_back(s.message);
    }
    if (!c.counts) {
      EXPECT_TRUE(pointer.empty()) << "first: " << pointer[0];
      continue;
    }
    // A move over the point (one for the move, one for the release), then
    // the release at it.
    ASSERT_EQ(pointer,
              (std::vector<UINT>{WM_MOUSEMOVE, WM_MOUSEMOVE, WM_LBUTTONUP}));
    const auto up = SeenOf(WM_LBUTTONUP);
    EXPECT_EQ(GET_X_LPARAM(up[0].lParam), 150);
    EXPECT_EQ(GET_Y_LPARAM(up[0].lParam), 150);
  }
}

TEST_F(WindowLayer, AWindowTheDesktopBringsBackIsVisibleAndPaintedAgain) {
  ShowWindow(hwnd, SW_SHOW);
  QWidget *widget = WidgetOf(hwnd);
  ASSERT_TRUE(PumpUntil([&] { return widget->isVisible(); }));
  // Hidden by the program as a desktop without a tray does it: minimized.
  ShowWindow(hwnd, SW_HIDE);
  widget->showMinimized();
  PumpFor(std::chrono::milliseconds(50));
  ASSERT_FALSE(IsWindowVisible(hwnd));
  InvalidateRect(hwnd);
  PumpFor(std::chrono::milliseconds(50));
  ASSERT_TRUE(SeenOf(WM_PAINT).empty()) << "painted while hidden";
  // The task bar restores it.
  widget->showNormal();
  ASSERT_TRUE(PumpUntil([&] { return !SeenOf(WM_PAINT).empty(); }));
  EXPECT_TRUE(IsWindowVisible(hwnd));
  const auto shown = SeenOf(WM_SHOWWINDOW);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].wParam, 1u);
  // The program's own show of a minimized window is no desktop's.
  ShowWindow(hwnd, SW_HIDE);
  widget->showMinimized();
  PumpFor(std::chrono::milliseconds(50));
  ShowWindow(hwnd, SW_RESTORE);
  ASSERT_TRUE(PumpUntil(
      [&] { return !widget->windowState().testFlag(Qt::WindowMinimized); }));
  EXPECT_EQ(SeenOf(WM_SHOWWINDOW).size(), 1u);
}

TEST_F(WindowLayer, GeometryTitleAndTopmost) {
  RECT r;
  ASSERT_TRUE(GetWindowRect(hwnd, &r));
  EXPECT_EQ(r.left, 10);
  EXPECT_EQ(r.top, 20);
  EXPECT_EQ(r.right - r.left, 336);
  EXPECT_EQ(r.bottom - r.top, 301);
  EXPECT_EQ(GetWindowText(hwnd), "Title");
  SetWindowPos(hwnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
  SetWindowPos(hwnd, HWND_TOP, -1200, 5, 0, 0, SWP_NOSIZE);
  std::thread([&] { SetWindowText(hwnd, "Door \xe9"); }).join();
  ShowWindow(hwnd, SW_SHOW);
  ASSERT_TRUE(PumpUntil([&] { return WidgetOf(hwnd)->isVisible(); }));
  EXPECT_TRUE(IsTopmost(hwnd));
  EXPECT_TRUE(WidgetOf(hwnd)->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(WidgetOf(hwnd)->windowFlags().testFlag(Qt::FramelessWindowHint));
  EXPECT_EQ(WidgetOf(hwnd)->geometry(), QRect(-1200, 5, 336, 301));
  EXPECT_EQ(WidgetOf(hwnd)->windowTitle(), QString::fromUtf8("Door é"));
  EXPECT_EQ(GetWindowText(hwnd), "Door \xe9");
}

TEST_F(WindowLayer, ResizingSendsSizeAtOnceThenAPaintOnceShown) {
  SetWindowPos(hwnd, HWND_TOP, 0, 0, 640, 480, SWP_NOMOVE);
  const auto sizes = SeenOf(WM_SIZE);
  ASSERT_FALSE(sizes.empty());
  EXPECT_EQ(LOWORD(sizes.back().lParam), 640u);
  EXPECT_EQ(HIWORD(sizes.back().lParam), 480u);
  EXPECT_TRUE(SeenOf(WM_PAINT).empty()) << "painting waits for the loop";
  // Hidden, it waits for being shown too: a paint handler that shows the
  // window (as the skin's does) would otherwise undo a hide.
  PumpFor(std::chrono::milliseconds(100));
  EXPECT_TRUE(SeenOf(WM_PAINT).empty()) << "a hidden window was painted";
  ShowWindow(hwnd, SW_SHOW);
  ASSERT_TRUE(PumpUntil([&] { return !SeenOf(WM_PAINT).empty(); }));
  // Hidden again, a new size is painted only after the next show.
  ShowWindow(hwnd, SW_HIDE);
  PumpFor(std::chrono::milliseconds(50));
  const std::size_t painted = SeenOf(WM_PAINT).size();
  SetWindowPos(hwnd, HWND_TOP, 0, 0, 500, 400, SWP_NOMOVE);
  PumpFor(std::chrono::milliseconds(100));
  EXPECT_EQ(SeenOf(WM_PAINT).size(), painted);
  ShowWindow(hwnd, SW_SHOW);
  ASSERT_TRUE(PumpUntil([&] { return SeenOf(WM_PAINT).size() > painted; }));
  SetWindowPos(hwnd, HWND_TOP, 0, 0, 640, 480, SWP_NOMOVE);
  PumpFor(std::chrono::milliseconds(50));
  const SurfaceCopy surface = CopySurface(hwnd);
  EXPECT_EQ(surface.width, 640);
  EXPECT_EQ(surface.height, 480);
  // The same size again is no change: no further WM_SIZE.
  const std::size_t sized = SeenOf(WM_SIZE).size();
  SetWindowPos(hwnd, HWND_TOP, 0, 0, 640, 480, SWP_NOMOVE);
  EXPECT_EQ(SeenOf(WM_SIZE).size(), sized);
}

TEST_F(WindowLayer, ManyThreadsDrawAtOnceAndEveryStrokeLands) {
  ShowWindow(hwnd, SW_SHOW);
  constexpr int kThreads = 4, kRounds = 200;
  std::vector<std::thread> painters;
  for (int t = 0; t < kThreads; ++t)
    painters.emplace_back([&, t] {
      std::vector<std::uint8_t> pixels(16 * 16 * 4);
      for (int round = 0; round < kRounds; ++round) {
        for (std::size_t i = 0; i < pixels.size(); i += 4) {
          pixels[i] = static_cast<std::uint8_t>(t * 50);    // blue
          pixels[i + 1] = static_cast<std::uint8_t>(round); // green
          pixels[i + 2] = 200;                              // red
        }
        HDC dc = GetDC(hwnd);
        ASSERT_NE(dc, nullptr);
        DrawPixels(dc, t * 20, 0, 16, 16, pixels.data(), 16 * 4);
        TextOut(dc, t * 20, 40, "x", RGB(255, 255, 0));
        ReleaseDC(hwnd, dc);
      }
    });
  // The window thread presents while the painters work.
  std::atomic<bool> done{false};
  std::thread joiner([&] {
    for (auto &p : painters)
      p.join();
    done = true;
  });
  ASSERT_TRUE(PumpUntil([&] { return done.load(); }));
  joiner.join();
  PumpFor(std::chrono::milliseconds(30));
  const SurfaceCopy s = CopySurface(hwnd);
  for (int t = 0; t < kThreads; ++t)
    EXPECT_EQ(s.at(t * 20 + 8, 8),
              (200u << 16) | ((kRounds - 1u) << 8) | unsigned(t * 50));
  EXPECT_EQ(s.at(100, 100), 0u) << "untouched surface keeps the background";
}

// Pixel rows go in four at a time with a tail for the rest; a picture that
// reaches past the surface is cut there, its X byte always made opaque.
TEST_F(WindowLayer, PixelsOfAnyWidthLandWhereAskedAndAreCutAtTheEdge) {
  const SurfaceCopy before = CopySurface(hwnd);
  const int w = before.width, h = before.height;
  constexpr int kW = 7, kH = 3;
  std::vector<std::uint8_t> pixels(kW * kH * 4);
  for (int i = 0; i < kW * kH; ++i) {
    pixels[i * 4] = static_cast<std::uint8_t>(i);         // blue: the index
    pixels[i * 4 + 1] = 0x40;                             // green
    pixels[i * 4 + 2] = static_cast<std::uint8_t>(i * 3); // red
    pixels[i * 4 + 3] = 0x00; // X: anything; the surface is opaque anyway
  }
  HDC dc = GetDC(hwnd);
  ASSERT_NE(dc, nullptr);
  DrawPixels(dc, 3, 5, kW, kH, pixels.data(), kW * 4);
  DrawPixels(dc, w - 2, h - 1, kW, kH, pixels.data(), kW * 4); // cut
  ReleaseDC(hwnd, dc);
  const SurfaceCopy s = CopySurface(hwnd);
  auto expect = [](int i) {
    return (static_cast<unsigned>(i * 3) << 16) | 0x4000u | unsigned(i);
  };
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x)
      EXPECT_EQ(s.at(3 + x, 5 + y), expect(y * kW + x)) << x << "," << y;
  EXPECT_EQ(s.at(2, 5), before.at(2, 5)) << "nothing left of the picture";
  EXPECT_EQ(s.at(3 + kW, 5), before.at(3 + kW, 5)) << "nor right of it";
  EXPECT_EQ(s.at(w - 2, h - 1), expect(0));
  EXPECT_EQ(s.at(w - 1, h - 1), expect(1));
}

TEST_F(WindowLayer, BitmapsBlitAndOnlyRealBmpFilesLoad) {
  std::vector<std::uint8_t> pixels(4 * 3 * 4, 0);
  for (std::size_t i = 0; i < pixels.size(); i += 4)
    pixels[i + 1] = 0xAB; // green
  HBITMAP bmp = CreateBitmap(4, 3, pixels.data(), 16);
  ASSERT_NE(bmp, nullptr);
  EXPECT_EQ(BitmapWidth(bmp), 4);
  EXPECT_EQ(BitmapHeight(bmp), 3);
  HDC dc = GetDC(hwnd);
  BitBlt(dc, 5, 6, 2, 2, bmp, 1, 1);
  ReleaseDC(hwnd, dc);
  const SurfaceCopy s = CopySurface(hwnd);
  EXPECT_EQ(s.at(5, 6), 0x00AB00u);
  EXPECT_EQ(s.at(6, 7), 0x00AB00u);
  EXPECT_EQ(s.at(7, 8), 0u);
  DeleteObject(bmp);

  const std::uint8_t png[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  EXPECT_EQ(LoadBitmapMemory(png, sizeof png), nullptr);
  const std::uint8_t truncated[] = {'B', 'M', 0x10, 0, 0, 0};
  EXPECT_EQ(LoadBitmapMemory(truncated, sizeof truncated), nullptr);
  EXPECT_EQ(LoadBitmapFile("/nonexistent/skin.bmp"), nullptr);
}

TEST_F(WindowLayer, RoundedShapeCutsOnlyTheCorners) {
  SetWindowRoundRegion(hwnd, 337, 302, 15, 15);
  EXPECT_FALSE(WindowRegionContains(hwnd, 0, 0));
  EXPECT_FALSE(WindowRegionContains(hwnd, 335, 300));
  EXPECT_TRUE(WindowRegionContains(hwnd, 7, 0));
  EXPECT_TRUE(WindowRegionContains(hwnd, 0, 7));
  EXPECT_TRUE(WindowRegionContains(hwnd, 168, 150));
  EXPECT_TRUE(WindowRegionContains(hwnd, 335, 150));
}

TEST_F(WindowLayer, DestroyedWindowTellsItsProcedureThenRefusesEverything) {
  const int before = g_destroyed.load();
  std::atomic<LRESULT> result{-1};
  ASSERT_EQ(SendMessage(hwnd, WM_CLOSE, 0, 0), 0); // default: destroy
  EXPECT_EQ(g_destroyed.load(), before + 1);
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_EQ(GetDC(hwnd), nullptr);
  EXPECT_FALSE(PostMessage(hwnd, WM_USER + 1, 1, 0));
  std::thread([&] { result = SendMessage(hwnd, WM_USER + 1, 1, 0); }).join();
  EXPECT_EQ(result.load(), 0);
}

TEST_F(WindowLayer, QuitEndsTheLoopWithItsCode) {
  PostMessage(hwnd, WM_USER + 3, 0, 0);
  std::thread([] { PostQuitMessage(7); }).join();
  EXPECT_EQ(RunMessageLoop(), 7);
  EXPECT_EQ(SeenOf(WM_USER + 3).size(), 1u) << "messages before the quit run";
}

TEST(RegisteredMessages, SameNameSameIdDifferentNamesDiffer) {
  const UINT a = RegisterWindowMessage("Vestibell_1.39");
  EXPECT_GE(a, 0xC000u);
  EXPECT_LE(a, 0xFFFFu);
  EXPECT_EQ(RegisterWindowMessage("Vestibell_1.39"), a);
  EXPECT_NE(RegisterWindowMessage("Vestibell_1.40"), a);
  EXPECT_EQ(RegisterWindowMessage(""), 0u);
}

} // namespace
