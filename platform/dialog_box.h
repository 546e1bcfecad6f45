// Dialogs built from Windows dialog templates: the template description, the
// program's resources as a module handle, and the dialog operations with
// their Windows meaning.
//
// The widgets live on the window thread. A dialog procedure runs on the
// thread that made the dialog: CreateDialogParam on the window thread, and
// DialogBoxParam on whichever thread called it (a worker blocks there, its
// procedure runs there, while the widgets stay on the window thread).
// Control texts and the caption are mirrored, so reading them from any
// thread never waits for the window thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/message_box.h"
#include "platform/module.h"
#include "platform/window.h"

namespace plat {

using INT_PTR = std::intptr_t;

constexpr UINT WM_INITDIALOG = 0x0110;
constexpr UINT WM_COMMAND = 0x0111;
constexpr int IDCANCEL = 2; // IDOK: message_box.h
constexpr int IDC_STATIC = -1;
constexpr unsigned BN_CLICKED = 0;
constexpr unsigned CBN_SELCHANGE = 1; // the user chose another entry

// Template styles (Windows values).
constexpr std::uint32_t DS_SYSMODAL = 0x0002; // stays above other windows
constexpr std::uint32_t DS_FIXEDSYS = 0x0008;
constexpr std::uint32_t DS_SETFONT = 0x0040;
constexpr std::uint32_t DS_MODALFRAME = 0x0080;
constexpr std::uint32_t WS_VISIBLE = 0x10000000u; // shown on creation
constexpr std::uint32_t WS_CAPTION = 0x00C00000u;
constexpr std::uint32_t WS_BORDER = 0x00800000u;
constexpr std::uint32_t WS_SYSMENU = 0x00080000u;
constexpr std::uint32_t WS_TABSTOP = 0x00010000u;
constexpr std::uint32_t WS_VSCROLL = 0x00200000u;
// Control styles.
constexpr std::uint32_t SS_LEFT = 0x0000;
constexpr std::uint32_t SS_CENTER = 0x0001;
constexpr std::uint32_t SS_ETCHEDHORZ = 0x0010; // a sunken line, no text
constexpr std::uint32_t SS_ETCHEDVERT = 0x0011;
constexpr std::uint32_t SS_TYPEMASK = 0x001F;
constexpr std::uint32_t BS_PUSHBUTTON = 0x0000;
constexpr std::uint32_t BS_DEFPUSHBUTTON = 0x0001;
constexpr std::uint32_t BS_AUTOCHECKBOX = 0x0003;  // ControlKind::CheckBox
constexpr std::uint32_t CBS_DROPDOWNLIST = 0x0003; // ControlKind::ComboBox
constexpr std::uint32_t ES_PASSWORD = 0x0020;
constexpr std::uint32_t ES_AUTOHSCROLL = 0x0080;
constexpr std::uint32_t ES_NUMBER = 0x2000; // typing takes digits only

// Edit control messages (SendDlgItemMessage).
constexpr UINT EM_REPLACESEL =
    0x00C2; // lParam: const char *, replaces the selection
constexpr UINT EM_LIMITTEXT = 0x00C5;   // wParam: most characters, 0 = no limit
constexpr UINT EM_SETREADONLY = 0x00CF; // wParam: TRUE or FALSE
// Check box messages.
constexpr UINT BM_GETCHECK = 0x00F0; // returns BST_CHECKED or BST_UNCHECKED
constexpr UINT BM_SETCHECK = 0x00F1; // wParam: BST_CHECKED or BST_UNCHECKED
constexpr WPARAM BST_UNCHECKED = 0;
constexpr WPARAM BST_CHECKED = 1;
// Drop-down list messages. Indexes from 0; CB_ERR for none.
constexpr UINT CB_ADDSTRING = 0x0143; // lParam: const char *; the new index
constexpr UINT CB_GETCOUNT = 0x0146;
constexpr UINT CB_GETCURSEL = 0x0147;
// wParam: index; lParam: char * with room for CB_GETLBTEXTLEN + 1 bytes.
constexpr UINT CB_GETLBTEXT = 0x0148;
constexpr UINT CB_GETLBTEXTLEN = 0x0149;    // wParam: index
constexpr UINT CB_SETCURSEL = 0x014E;       // wParam: index, or -1 for none
constexpr UINT CB_SETDROPPEDWIDTH = 0x0160; // wParam: least width, pixels
constexpr LRESULT CB_ERR = -1;

// Static covers text and, with SS_ETCHEDHORZ or SS_ETCHEDVERT, lines.
// A check box tells its clicks with BN_CLICKED; a drop-down list (its
// rectangle's height is that of the list opened) a choice with
// CBN_SELCHANGE, both in the high word of WM_COMMAND's wParam.
enum class ControlKind { Static, PushButton, Edit, CheckBox, ComboBox };

// One control, in dialog units; the order of controls is the Tab order.
struct DialogControl {
  ControlKind kind;
  int id; // IDC_STATIC for none
  std::uint32_t style;
  int x, y, cx, cy;
  const char *text;
};

struct DialogTemplate {
  std::uint32_t style;
  int x, y, cx, cy; // the client area; x, y from the owner's top left
  const char *caption;
  const char *font; // with DS_SETFONT; else "MS Shell Dlg" 8
  int pointSize;
  const DialogControl *controls;
  std::size_t controlCount;
};

struct Dialog;
using HDLG = Dialog *;
using DLGPROC = INT_PTR (*)(HDLG, UINT, WPARAM, LPARAM);

// Modeless; window thread only (null elsewhere, or for an unknown template).
// Shown at once, taking the keyboard, when the template has WS_VISIBLE,
// unless the procedure has shown it during WM_INITDIALOG, which reaches it
// before this returns, with lParam = param.
HDLG CreateDialogParam(HINSTANCE module, int templateId, HWND owner,
                       DLGPROC proc, LPARAM param);
HDLG CreateDialogIndirectParam(const DialogTemplate &tpl, HWND owner,
                               DLGPROC proc, LPARAM param);
// Modal: returns the EndDialog result, or -1 when no dialog could be made.
// From any thread; the owner does not take input meanwhile. Returns 0 when
// the message loop ends first.
INT_PTR DialogBoxParam(HINSTANCE module, int templateId, HWND owner,
                       DLGPROC proc, LPARAM param);
INT_PTR DialogBoxIndirectParam(const DialogTemplate &tpl, HWND owner,
                               DLGPROC proc, LPARAM param);
// From any thread. Closes the dialog once its procedure has returned; a
// closed modeless dialog is destroyed. Handles are never freed, so ending
// an already closed dialog is harmless (returns FALSE). No further messages
// reach the procedure once this was called.
BOOL EndDialog(HDLG dlg, INT_PTR result);
// Whether the dialog is open: made and not yet ended.
bool IsWindow(HDLG dlg);

// SW_SHOW, SW_SHOWNOACTIVATE (shown without taking the keyboard; a click
// gives it the keyboard) and SW_HIDE, as for windows. False for a dialog
// that is not open.
bool ShowWindow(HDLG dlg, int cmd);
// As for windows: the user's attention until the dialog is activated.
bool FlashWindow(HDLG dlg, BOOL invert);
bool SetWindowText(HDLG dlg, const char *text);
std::string GetWindowText(HDLG dlg);
// Copies at most max - 1 characters and a NUL; returns the count copied.
UINT GetDlgItemText(HDLG dlg, int id, char *buffer, int max);
bool SetDlgItemText(HDLG dlg, int id, const char *text);
// EM_REPLACESEL, EM_LIMITTEXT and EM_SETREADONLY on edit controls; the BM_
// messages on check boxes; the CB_ messages on drop-down lists. Read from
// any thread without waiting for the window thread.
LRESULT SendDlgItemMessage(HDLG dlg, int id, UINT message, WPARAM wParam,
                           LPARAM lParam);

// The icon of every dialog of the process, open or opened later (the
// dialog class's small icon, GCL_HICONSM). Until it is set, a dialog shows
// its owner's icon.
bool SetDialogClassIcon(HDLG dlg, HICON icon);
// The module's icon resource: its 16, 32 and 48 pixel images. Window
// thread; null when the module has none.
HICON LoadIcon(HINSTANCE module, int id);

// Dialog units of a font as the Windows dialog manager measures them:
// x = average character width / 4 pixels, y = height / 8. The average width
// is measured as Windows does: the advance of "A".."Z" "a".."z" (52
// letters) w, average (w / 26 + 1) / 2, rounded to whole pixels; the height
// is ascent + descent. Base units are returned whole (x = average width,
// y = height); MapDialogRect divides. The point size becomes pixels at 96
// dots per inch. Window thread.
struct BaseUnits {
  int x;
  int y;
};
BaseUnits DialogBaseUnits(const char *font, int pointSize);

} // namespace plat
