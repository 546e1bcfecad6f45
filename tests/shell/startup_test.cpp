// Start-up under the offscreen platform, in this process.
#include <gtest/gtest.h>

#include <QWidget>

#include <sys/stat.h>

#include "env_guard.h"
#include "instance/identity.h"
#include "instance/settings.h"
#include "instance/tray.h"
#include "platform/gdi.h"
#include "platform/test_hooks.h"
#include "platform/window.h"
#include "shell/main.h"
#include "support/temp_dir.h"

namespace {

TEST(Startup, InitAppReadsTheConfigurationAndMakesTheMainWindow) {
  EnvGuard env;
  TempDir dir;
  env.Set("ALLUSERSPROFILE", dir.path());
  ASSERT_EQ(mkdir((dir / "Vestibell").c_str(), 0700), 0);
  WriteFile(dir / "Vestibell/Vestibell.ini",
            "[Window 0]\nIP_addr=127.0.0.1\nLeft=30\nTop=-40\nWidth=500\n"
            "Height=350\npop=1\n");
  ASSERT_TRUE(plat::Initialize());
  const unsigned beeps = plat::BeepCount();

  ASSERT_EQ(InitApp(), 1);
  ASSERT_NE(g_hwndMain, nullptr);
  plat::RECT r;
  ASSERT_TRUE(plat::GetWindowRect(g_hwndMain, &r));
  EXPECT_EQ(r.left, 30);
  EXPECT_EQ(r.top, -40);
  EXPECT_EQ(r.right - r.left, 500);
  EXPECT_EQ(r.bottom - r.top, 350);
  EXPECT_EQ(plat::GetWindowText(g_hwndMain), "Vestibell_1.39");
  EXPECT_EQ(PopUp.load(), 1);
  EXPECT_TRUE(plat::IsTimerSet(g_hwndMain, 0));
  EXPECT_FALSE(plat::IsWindowVisible(g_hwndMain)) << "shown later";
  QWidget *widget = plat::WidgetOf(g_hwndMain);
  ASSERT_NE(widget, nullptr);
  EXPECT_TRUE(widget->windowFlags().testFlag(Qt::FramelessWindowHint));
  const plat::SurfaceCopy surface = plat::CopySurface(g_hwndMain);
  ASSERT_EQ(surface.width, 500);
  EXPECT_EQ(surface.at(250, 175), 0u) << "black background";

  // A second registration of the class fails: no window, no sound.
  plat::HWND first = g_hwndMain;
  EXPECT_EQ(InitApp(), 0);
  EXPECT_EQ(plat::BeepCount(), beeps);
  EXPECT_EQ(g_hwndMain, first);
}

} // namespace
