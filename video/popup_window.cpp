// The pop-up rules carried out on the main window.
#include "instance/identity.h"
#include "instance/settings.h"
#include "platform/trace.h"
#include "platform/window.h"
#include "skin/skin.h"
#include "video/popup_rules.h"
#include "video/video.h"

void PopupOnWindow(plat::HWND hwnd, PopupEvent event) {
  const unsigned act = PopupStep({show, hide, ShowData.call}, PopUp != 0, event,
                                 plat::IsWindowVisible(hwnd));
  if (act & kPopupTraceCall)
    plat::Trace(plat::TRACE_CALL);
  if (act & kPopupAlert) {
    // What the user is typing goes on reaching what they type in.
    plat::ShowWindow(hwnd, plat::SW_SHOWNOACTIVATE);
    plat::FlashWindow(hwnd, true);
  }
  if (act & kPopupShowPainted)
    ShowMyWindow(hwnd, ShowData);
  if (act & kPopupHide)
    plat::ShowWindow(hwnd, plat::SW_HIDE);
  if (act & kPopupRestore) {
    plat::ShowWindow(hwnd, plat::SW_RESTORE);
    plat::SetForegroundWindow(hwnd);
  }
  if (act & kPopupResetButton)
    ShowData.Button = BTN_NONE;
}
