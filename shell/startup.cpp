// Start-up: one instance of the program from its first step to the end of
// its message loop.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "desktop/visitors_window.h"
#include "events/window_proc.h"
#include "instance/identity.h"
#include "instance/protocol.h"
#include "instance/settings.h"
#include "instance/tray.h"
#include "notices/notices.h"
#include "platform/gdi.h"
#include "platform/message_space.h"
#include "platform/named_object.h"
#include "platform/report.h"
#include "platform/sound.h"
#include "platform/window.h"
#include "resources/dialog_templates.h"
#include "resources/resources.h"
#include "shell/main.h"
#include "skin/skin.h"
#include "telephony/telephony.h"
#include "video/video.h"
#include "visits/visits.h"

namespace {

constexpr plat::UINT kClassStyle = 3; // redraw on width and height changes
constexpr plat::COLORREF kBlack = 0x000000;

// Every name probed stays held for the life of the process: a number is
// taken while its owner, or any instance that probed past it, still runs.
std::vector<plat::NamedObject *> g_heldNames;

// A place saved on a screen that is gone (or edited by hand) would open
// the window where nobody can reach it, and save it back there.
void KeepReachable() {
  plat::RECT rect;
  if (!plat::GetWindowRect(g_hwndMain, &rect))
    return;
  const plat::POINT at = ReachablePlace(
      rect, Skin[SKIN_T].Height, Skin[SKIN_TR].Width, plat::ScreenWorkAreas());
  if (at.x != rect.left || at.y != rect.top)
    plat::SetWindowPos(g_hwndMain, nullptr, at.x, at.y, 0, 0,
                       plat::SWP_NOSIZE | plat::SWP_NOZORDER);
}

// The saved size, kept within the skin's minimum now that it is loaded.
t_ClientSize KeepAboveSkinMinimum() {
  const t_ClientSize saved = ShowData.Size.load();
  const t_ClientSize size =
      UsableSize(saved, SkinMinTrackSize(Skin), plat::ScreenWorkAreas());
  if (!(size == saved)) {
    ShowData.Size.store(size);
    plat::SetWindowPos(g_hwndMain, nullptr, 0, 0, size.width, size.height,
                       plat::SWP_NOMOVE | plat::SWP_NOZORDER);
  }
  return size;
}

visits::VisitOutcome RecordedOutcome(ReceivedCallOutcome outcome) {
  switch (outcome) {
  case ReceivedCallOutcome::Answered:
    return visits::VisitOutcome::Answered;
  case ReceivedCallOutcome::Declined:
    return visits::VisitOutcome::Declined;
  case ReceivedCallOutcome::Missed:
    return visits::VisitOutcome::Missed;
  case ReceivedCallOutcome::Stranger:
    return visits::VisitOutcome::Stranger;
  case ReceivedCallOutcome::Busy:
    return visits::VisitOutcome::Busy;
  case ReceivedCallOutcome::Ringing:
    break;
  }
  return visits::VisitOutcome::Undecided;
}

// The record's worker counts; the window thread shows the count.
void PostMissedVisitors(int count) {
  plat::PostMessage(g_hwndMain, WM_MISSED_VISITORS,
                    static_cast<plat::WPARAM>(count), 0);
}

void OpenVisitors() { desktop::OpenVisitorsWindow(SettingsFolder()); }
// A missed visitor's notice clicked: the Visitors window at that visit.
void OpenVisitorsAt(const t_VisitorsAt &visit) {
  desktop::t_VisitorsAt at;
  at.startedMs = visit.startedMs;
  at.sip = visit.sip;
  desktop::OpenVisitorsWindow(SettingsFolder(), at);
}

void RecordReceivedCall(const t_ReceivedCall &call) {
  t_SipVisit visit;
  visit.call = call.call;
  visit.caller = call.caller;
  visit.whenMs = call.whenMs;
  visit.outcome = RecordedOutcome(call.outcome);
  VisitSipCall(visit);
  NoticeReceivedCall(call);
}

// What the reader hands on goes to the record and to the ring notices.
std::atomic<bool> g_visitPictures{false};

void OnStreamRing(bool ringing, const char *title) {
  VisitRing(ringing, title);
  NoticeRing(ringing, title);
}

void OnStreamPicture(std::shared_ptr<const std::vector<std::uint8_t>> picture) {
  if (g_visitPictures)
    VisitPicture(picture);
  NoticePicture(std::move(picture));
}

} // namespace

void WireVisits() {
  // A settings folder whose path does not fit has no visits folder either.
  if (ini_file[0] != '\0') {
    t_VisitsSetup setup;
    setup.dataFolder = SettingsFolder();
    setup.copy = PocSpusteni;
    setup.settings = ReadVisitSettings();
    StartVisits(setup);
    // Without pictures the record keeps none; the ring notices still show
    // the one of the ring.
    g_visitPictures = setup.settings.pictures;
  }
  StartDoorNotices();
  t_ReaderHooks hooks;
  hooks.ring = OnStreamRing;
  hooks.picture = OnStreamPicture;
  hooks.ringComing = NoticeRingComing;
  SetReaderHooks(hooks);
  SetReceivedCallHook(RecordReceivedCall);
  SetAcceptPressedHook(NoticeAcceptPressed);
}

plat::POINT ReachablePlace(const plat::RECT &window, int stripHeight,
                           int cornerWidth,
                           const std::vector<plat::RECT> &screens) {
  const plat::POINT kept{window.left, window.top};
  if (screens.empty())
    return kept;
  const int width = window.right - window.left;
  const int height = window.bottom - window.top;
  // At least one pixel of strip, whatever the skin says.
  const plat::RECT strip{window.left, window.top,
                         window.left + std::max(width - cornerWidth, 1),
                         window.top + std::max(stripHeight, 1)};
  for (const plat::RECT &s : screens)
    if (strip.left < s.right && s.left < strip.right && strip.top < s.bottom &&
        s.top < strip.bottom)
      return kept;
  const plat::RECT &primary = screens.front();
  return {
      primary.left + std::max((primary.right - primary.left - width) / 2, 0),
      primary.top + std::max((primary.bottom - primary.top - height) / 2, 0)};
}

t_ClientSize UsableSize(t_ClientSize saved, plat::POINT minimum,
                        const std::vector<plat::RECT> &screens) {
  t_ClientSize size = saved;
  if (!screens.empty()) {
    plat::RECT box = screens.front();
    for (const plat::RECT &s : screens) {
      box.left = std::min(box.left, s.left);
      box.top = std::min(box.top, s.top);
      box.right = std::max(box.right, s.right);
      box.bottom = std::max(box.bottom, s.bottom);
    }
    size.width = std::min(size.width, box.right - box.left);
    size.height = std::min(size.height, box.bottom - box.top);
  }
  size.width = std::max(size.width, std::max(minimum.x, 1));
  size.height = std::max(size.height, std::max(minimum.y, 1));
  return size;
}

void NumberInstance() {
  // Without a runtime folder the copies that share a settings folder still
  // number themselves apart there: they would otherwise write one frame
  // file and each make a SIP core on the same port.
  const std::string fallback = SettingsFolder();
  bool existed;
  do {
    ++PocSpusteni;
    std::snprintf(AppName, sizeof AppName, "%s%i", kAppTitle, PocSpusteni);
    // A name that cannot be made at all ends the probe like a free one.
    g_heldNames.push_back(plat::CreateNamedObject(AppName, &existed, fallback));
  } while (existed);
}

int InitApp() {
  AccessIniFile();
  ReadConfiguration();

  plat::WindowClass wc;
  wc.name = kClassName;
  wc.style = kClassStyle;
  wc.proc = WindowProcMain;
  SetCloseSequence(MyClose);
  SetVisitorsOpener(OpenVisitors);
  SetOpenVisitorsHook(OpenVisitorsAt);
  wc.icon = res::ProgramIcon();
  wc.smallIcon = wc.icon;
  wc.background = kBlack;
  if (!plat::RegisterClass(wc))
    return 0;

  // Whatever the file says, the window is never made larger than the
  // screens (its surface is as large as the window); the skin's minimum
  // follows once the skin is loaded.
  const t_ClientSize size =
      UsableSize(ShowData.Size.load(), {1, 1}, plat::ScreenWorkAreas());
  ShowData.Size.store(size);
  g_hwndMain = plat::CreateWindow(kClassName, kAppTitle, plat::WS_POPUP, left,
                                  top, size.width, size.height);
  if (g_hwndMain == nullptr) {
    plat::Beep(1000, 1000);
    return 0;
  }
  plat::SetTimer(g_hwndMain, kReaderTimerId, kReaderTimerMs);
  return 1;
}

void SetInitialDisplayState() {
  ShowData.Size.store({kDefaultClientWidth, kDefaultClientHeight});
  ShowData.Kill_TCP = 1;
  ShowData.call = 0;
  ShowData.lin_call = 0;
  ShowData.Button = BTN_NONE;
  ShowData.Skin = Skin;
}

int VestibellMain() {
  plat::NameSoundStreams();
  SetInitialDisplayState();

  MESSAGE = plat::RegisterWindowMessage(kAppTitle);
  NumberInstance();

  if (!plat::Initialize())
    plat::Report("no display to open the window on (DISPLAY is not set)");
  if (!InitApp())
    return 0;
  SetUnseenMissedHook(PostMissedVisitors);
  WireVisits();

  InitSkin(g_hwndMain, Skin);
  const t_ClientSize size = KeepAboveSkinMinimum();
  SkinBitmapPos(Skin, size.height, size.width);
  KeepReachable();
  ShowMyWindow(g_hwndMain, ShowData);
  if (!AddNotifyIcon())
    return 0;

  plat::SetWindowPos(g_hwndMain, plat::HWND_TOPMOST, 0, 0, 0, 0,
                     plat::SWP_NOSIZE | plat::SWP_NOMOVE);
  plat::ShowWindow(g_hwndMain, plat::SW_SHOW);
  plat::UpdateWindow(g_hwndMain);
  plat::CloseOnTerminationSignals(g_hwndMain);

  MJPEG_Thread = StartReaderThread();
  // Before the core: the instances' messages reach the window from here on.
  // Without the space the instance still runs, alone.
  plat::JoinMessageSpace(g_hwndMain, kAppTitle);
  // The first instance holds the SIP core; the others ask it for calls.
  if (PocSpusteni == 1)
    SendCode(g_hwndMain, MSG_START_CORE, 0);

  return plat::RunMessageLoop();
}
