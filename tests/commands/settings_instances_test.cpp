// The settings dialog between instances: the program runs as instance 1 and
// holds the SIP core; this test is instance 2, without a core, in the same
// message space. A loopback registrar takes the account saved here.
#include <gtest/gtest.h>

#include <QCheckBox>

#include <csignal>
#include <string>

#include "instance/identity.h"
#include "instance/settings.h"
#include "platform/message_space.h"
#include "platform/profile.h"
#include "resources/dialog_templates.h"
#include "shell/main.h"
#include "support/kamailio.h"
#include "support/process.h"
#include "support/pump.h"
#include "support/settings_driver.h"
#include "support/temp_dir.h"
#include "telephony/telephony.h"
#include "video/video.h"

using namespace plat;

namespace {

bool Traced(const std::string &file, const std::string &event) {
  return ("\n" + ReadFile(file)).find("\n" + event + " ") != std::string::npos;
}

TEST(SettingsInstances,
     AnAccountSavedHereRegistersInTheCoreOwnerAndIsReported) {
  TempDir data;
  setenv("ALLUSERSPROFILE", data.path().c_str(), 1);
  setenv("XDG_RUNTIME_DIR", data.path().c_str(), 1);
  Kamailio registrar(KAMAILIO_CFG, "door", "secret");
  ASSERT_TRUE(registrar.up());

  AccessIniFile();
  for (const auto &[section, key, value] :
       {std::tuple{"Window 0", "IP_addr", "127.0.0.1"},
        {"SIP", "UseSIP", "0"},
        {"SIP", "SIP_bind_addr", "127.0.0.1"},
        {"SIP", "SIP_port", "0"}})
    ASSERT_TRUE(WritePrivateProfileString(section, key, value, ini_file));
  const std::string trace = data / "trace1";
  Child first({VESTIBELL},
              {"ALLUSERSPROFILE=" + data.path(),
               "XDG_RUNTIME_DIR=" + data.path(), "QT_QPA_PLATFORM=offscreen",
               "VESTIBELL_TRACE=" + trace});
  ASSERT_TRUE(first.started());
  ASSERT_TRUE(PumpUntil([&] { return Traced(trace, "core-up"); },
                        std::chrono::seconds(20)));

  // This process: instance 2, in the same space, no core.
  ASSERT_TRUE(Initialize());
  SetInitialDisplayState();
  MESSAGE = RegisterWindowMessage(kAppTitle);
  PocSpusteni = 2;
  ASSERT_EQ(InitApp(), 1);
  ASSERT_TRUE(JoinMessageSpace(g_hwndMain, kAppTitle));

  RunSettings([&](QDialog *d) {
    EXPECT_EQ(Text(d, res::kSetStatus), "");
    qobject_cast<QCheckBox *>(Ctl(d, res::kSetUseSip))->click();
    Type(Edit(d, res::kSetSipAddr), registrar.address());
    Edit(d, res::kSetSipId)->clear();
    Type(Edit(d, res::kSetSipId), "door");
    Type(Edit(d, res::kSetSipPass), "secret");
    Key(d->focusWidget(), Qt::Key_Return);
  });
  // Instance 1 reads the account from the file and registers with it.
  EXPECT_TRUE(PumpUntil([&] { return Traced(trace, "registered"); },
                        std::chrono::seconds(15)));

  // Opened again, the dialog asks the core owner, in the other process.
  RunSettings([&](QDialog *d) {
    EXPECT_EQ(Text(d, res::kSetStatus), "Registration successful");
    EXPECT_EQ(Text(d, res::kSetAddressLabel), "Vestibell video IP address:");
    Key(d, Qt::Key_Escape);
  });
  EXPECT_EQ(SIP_reg, 1);

  kill(first.pid(), SIGTERM);
  EXPECT_TRUE(first.Wait(std::chrono::seconds(20)).has_value());
  LeaveMessageSpace();
}

} // namespace
