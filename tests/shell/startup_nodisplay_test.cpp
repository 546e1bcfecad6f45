// Without a display the main window cannot be made: a beep and a failed
// start-up, never a crash.
#include <gtest/gtest.h>

#include "env_guard.h"
#include "instance/identity.h"
#include "instance/settings.h"
#include "instance/tray.h"
#include "platform/test_hooks.h"
#include "platform/window.h"
#include "shell/main.h"
#include "support/temp_dir.h"

namespace {

TEST(StartupWithoutDisplay, WindowCreationFailureBeepsAndFails) {
  EnvGuard env;
  TempDir dir;
  env.Set("ALLUSERSPROFILE", dir.path());
  // The window system is never started in this process.
  const unsigned beeps = plat::BeepCount();
  EXPECT_EQ(InitApp(), 0);
  EXPECT_EQ(plat::BeepCount(), beeps + 1);
  EXPECT_EQ(g_hwndMain, nullptr);
}

} // namespace
