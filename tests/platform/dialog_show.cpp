// Shows one call dialog over an owner window, as the program will, for the
// display test: dialog_show TEMPLATE-ID. The Authentication dialog is opened
// by a worker thread, as the SIP thread opens it. With "reraise" the owner
// is hidden and shown again once the dialog is up, as a ring brings the
// main window back: dialog_show TEMPLATE-ID reraise.
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/dialog_box.h"
#include "platform/gdi.h"
#include "resources/dialog_templates.h"
#include "resources/resources.h"

using namespace plat;

namespace {

LRESULT OwnerProc(HWND hwnd, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_TIMER) {
    KillTimer(hwnd, w);
    ShowWindow(hwnd, w == 1 ? SW_HIDE : SW_SHOW);
    if (w == 1)
      SetTimer(hwnd, 2, 300);
  }
  return DefWindowProc(hwnd, m, w, l);
}

// The caller as title and the program's icon; the account offered.
INT_PTR ShowProc(HDLG dlg, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) {
    static HICON icon = LoadIcon(res::ProgramModule(), res::kIconId);
    SetDialogClassIcon(dlg, icon);
    if (GetWindowText(dlg) != "Authentication")
      SetWindowText(dlg, "door-unit");
    SendDlgItemMessage(dlg, res::kFieldUserName, EM_REPLACESEL, 0,
                       reinterpret_cast<LPARAM>("Vestibell"));
    SendDlgItemMessage(dlg, res::kFieldPassword, EM_REPLACESEL, 0,
                       reinterpret_cast<LPARAM>("secret"));
  } else if (message == WM_COMMAND) {
    EndDialog(dlg, LOWORD(wParam));
  }
  return 0;
}

} // namespace

int main(int argc, char **argv) {
  if (argc < 2 || !Initialize())
    return 2;
  const int id = std::atoi(argv[1]);
  WindowClass wc;
  wc.name = "Owner";
  wc.proc = OwnerProc;
  static HICON icon = LoadIcon(res::ProgramModule(), res::kIconId);
  wc.icon = icon;
  wc.background = RGB(40, 60, 90);
  RegisterClass(wc);
  HWND owner =
      CreateWindow("Owner", "Vestibell_1.39", WS_POPUP, 40, 40, 336, 301);
  SetWindowPos(owner, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  ShowWindow(owner, SW_SHOW);
  std::thread worker;
  if (id == res::kDialogAuthentication) {
    worker = std::thread([owner, id] {
      const INT_PTR r =
          DialogBoxParam(res::ProgramModule(), id, owner, ShowProc, 0);
      PostQuitMessage(static_cast<int>(r));
    });
  } else if (CreateDialogParam(res::ProgramModule(), id, owner, ShowProc, 0) ==
             nullptr) {
    return 2;
  }
  if (argc > 2 && std::string(argv[2]) == "reraise")
    SetTimer(owner, 1, 500);
  const int code = RunMessageLoop();
  if (worker.joinable())
    worker.join();
  return code;
}
