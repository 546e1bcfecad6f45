#include "events/window_proc.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "commands/commands.h"
#include "instance/identity.h"
#include "instance/settings.h"
#include "platform/gdi.h"
#include "platform/message_space.h"
#include "platform/trace.h"
#include "resources/dialog_templates.h"
#include "skin/skin.h"
#include "telephony/caller.h"
#include "telephony/telephony.h"
#include "video/video.h"

using namespace plat;

namespace {
void (*g_closeSequence)() = nullptr;

// The byte blocks that travel with WM_COPYDATA, in dwData.
constexpr std::uintptr_t COPYDATA_DOOR_ID = 0;
constexpr std::uintptr_t COPYDATA_CALL_TARGET = 6;

// The door-unit identity's buffer with a SIP server, and IP_addr's.
constexpr std::uint32_t kSipIdentitySize = 128;
constexpr std::uint32_t kIpIdentitySize = 64;

// The core owner's working copies of a received text.
constexpr std::size_t kMatchTextSize = 64;
constexpr std::size_t kCallTextSize = 100;

// Only the instance that holds the core acts on requests for the core.
SipCore *CoreOwned() { return the_core.load(); }

void SendCode(HWND to, WPARAM code, LPARAM lParam) {
  SendMessage(to, MESSAGE, code, lParam);
}

void SendCopyData(HWND to, std::uintptr_t kind, const void *data,
                  std::uint32_t size) {
  COPYDATASTRUCT cds{kind, size, data};
  SendMessage(to, WM_COPYDATA, static_cast<WPARAM>(HandleValue(g_hwndMain)),
              reinterpret_cast<LPARAM>(&cds));
}

// Code 0: tell the core owner which door unit this instance serves.
void ReportDoorId(HWND coreOwner) {
  if (UseSIP) {
    char id[kSipIdentitySize];
    std::memset(id, ' ', sizeof id);
    std::snprintf(id, sizeof id, "%s%s", SIP_call_prefix, SIP_id_doorphone);
    SendCopyData(coreOwner, COPYDATA_DOOR_ID, id, sizeof id);
  } else {
    char ip[kIpIdentitySize] = {};
    IP_addr.CopyTo(ip, sizeof ip);
    SendCopyData(coreOwner, COPYDATA_DOOR_ID, ip, sizeof ip);
  }
}

// The text at the start of a received block: up to its first NUL, never
// past the block (a sender's block need not hold a NUL), cut to fit.
template <std::size_t N>
void PayloadText(const COPYDATASTRUCT &cds, char (&out)[N]) {
  const char *data = static_cast<const char *>(cds.lpData);
  const std::size_t limit =
      data == nullptr ? 0 : std::min<std::size_t>(cds.cbData, N - 1);
  std::size_t n = 0;
  while (n < limit && data[n] != '\0')
    ++n;
  std::memcpy(out, data == nullptr ? "" : data, n);
  out[n] = '\0';
}

void HandleCopyData(WPARAM wParam, const COPYDATASTRUCT *cds) {
  SipCore *core = CoreOwned();
  // Only the core owner asked for these blocks.
  if (core == nullptr || cds == nullptr)
    return;
  const HWND sender = HandleFromValue(static_cast<LPARAM>(wParam));
  if (cds->dwData == COPYDATA_DOOR_ID) {
    char text[kMatchTextSize];
    PayloadText(*cds, text);
    AnswerAndMatch(core, sender, text);
  } else if (cds->dwData == COPYDATA_CALL_TARGET) {
    char text[kCallTextSize];
    PayloadText(*cds, text);
    PlaceCall(core, sender, text);
  }
}

// A reply to the registration query is 0 or 1; the query itself carries a
// window's handle value, which is never 0 or 1.
bool IsRegistrationReply(LPARAM lParam) { return lParam == 0 || lParam == 1; }

void HandleProtocol(WPARAM code, LPARAM lParam) {
  switch (code) {
  case MSG_REPORT_DOOR_ID:
    ReportDoorId(HandleFromValue(lParam));
    break;
  case MSG_SHOW_WINDOW:
    ShowMyWindow(g_hwndMain, ShowData);
    break;
  case MSG_SET_IN_CALL:
    SetLinCall(lParam != 0);
    break;
  case MSG_HANG_UP:
    if (SipCore *core = CoreOwned())
      HangUpReportedCall(core);
    break;
  case MSG_DIAL_REQUEST:
    if (CoreOwned() != nullptr)
      SendCode(HandleFromValue(lParam), MSG_SEND_CALL_TARGET,
               HandleValue(g_hwndMain));
    break;
  case MSG_SEND_CALL_TARGET:
    SendCopyData(HandleFromValue(lParam), COPYDATA_CALL_TARGET, CallToDoorPhone,
                 sizeof CallToDoorPhone);
    break;
  case MSG_RELOAD_SIP_SETTINGS:
    if (CoreOwned() != nullptr)
      ReloadSipSettings();
    break;
  case MSG_CORE_RELEASED:
    if (HandleFromValue(lParam) != g_hwndMain)
      SendCode(g_hwndMain, MSG_START_CORE, HandleValue(g_hwndMain));
    break;
  case MSG_CALL_ENDED:
    SetLinCall(false);
    break;
  case MSG_START_CORE:
    // One core per instance: with three or more instances a hand-over
    // reaches core owners too, and a second core would keep the first one
    // running unreachable on the same port.
    if (CoreOwned() == nullptr)
      StartCore();
    break;
  case MSG_REG_STATE:
    if (CoreOwned() != nullptr) {
      QueryRegistration();
      if (!IsRegistrationReply(lParam))
        SendCode(HandleFromValue(lParam), MSG_REG_STATE, SIP_reg.load());
    } else if (IsRegistrationReply(lParam)) {
      // The query's own handle value would otherwise overwrite the core
      // owner's answer in the requester, depending on the broadcast's order.
      SIP_reg = static_cast<int>(lParam);
    }
    break;
  default:
    break; // code 1 and codes above 11
  }
}

} // namespace

void SetCloseSequence(void (*close)()) { g_closeSequence = close; }

LRESULT WindowProcMain(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  // The registered message comes first: its number is only known at run
  // time.
  if (message == MESSAGE && MESSAGE != 0) {
    HandleProtocol(wParam, lParam);
    return DefWindowProc(hwnd, message, wParam, lParam);
  }
  switch (message) {
  case WM_DESTROY:
    PostQuitMessage(0);
    break;
  case WM_SIZE: {
    const t_ClientSize size{static_cast<int>(LOWORD(lParam)),
                            static_cast<int>(HIWORD(lParam))};
    ShowData.Size.store(size);
    // The frameless window is exactly as large as its client area.
    SetWindowPos(g_hwndMain, HWND_TOP, 0, 0, size.width, size.height,
                 SWP_NOMOVE);
    SkinBitmapPos(Skin, size.height, size.width);
    break;
  }
  case WM_PAINT: {
    // The paint context only validates here: ShowMyWindow takes its own,
    // and a surface cannot be held twice by one thread.
    HDC hdc = BeginPaint(g_hwndMain);
    EndPaint(g_hwndMain, hdc);
    ShowMyWindow(g_hwndMain, ShowData);
    break;
  }
  case WM_CLOSE:
    if (g_closeSequence != nullptr)
      g_closeSequence();
    break;
  case WM_COPYDATA:
    HandleCopyData(wParam, reinterpret_cast<const COPYDATASTRUCT *>(lParam));
    break;
  case WM_GETMINMAXINFO:
    reinterpret_cast<MINMAXINFO *>(lParam)->ptMinTrackSize =
        SkinMinTrackSize(Skin);
    break;
  case WM_NCHITTEST:
    return MyNCHitTest(hwnd, message, wParam, lParam);
  case WM_TIMER:
    // Only the reader's timer, and only while the video is not connected.
    if (wParam != kReaderTimerId || ShowData.Kill_TCP != 1)
      break;
    EndReaderThread(MJPEG_Thread);
    MJPEG_Thread = StartReaderThread();
    break;
  case WM_MOUSEMOVE:
    ShowData.Button = MyMouseMove(wParam, lParam);
    break;
  case WM_LBUTTONDOWN:
    MyLButtonDown(ShowData.Button);
    break;
  case WM_LBUTTONUP:
    MyLButtonUp(ShowData.Button);
    break;
  case WM_SHOWWINDOW:
    // Brought back from the task bar: the same bookkeeping as a show from
    // the tray, the paint that follows with no button lit.
    if (wParam != 0)
      PopupOnWindow(hwnd, PopupEvent::BroughtBack);
    break;
  case WM_USER:
    OnSipNotification(wParam, lParam);
    break;
  case WM_TRAYICON:
    if (static_cast<UINT>(lParam) == WM_LBUTTONDOWN)
      PopupOnWindow(hwnd, PopupEvent::TrayClick);
    break;
  default:
    break;
  }
  // Every message but the hit test also gets the default processing; for
  // WM_CLOSE that destroys the window.
  return DefWindowProc(hwnd, message, wParam, lParam);
}
