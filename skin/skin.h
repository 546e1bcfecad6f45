// Module skin: the skinned main window. Its 27 elements and their loading,
// their layout for a client size, the painting of the window and the
// feedback of its buttons under the pointer.
//
// Coordinates follow the skin's own naming throughout: X is vertical and Y
// horizontal, so PosX is an element's top (row) and PosY its left (column).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "instance/display_state.h"
#include "platform/gdi.h"
#include "platform/window.h"
#include "skin/skin_elements.h"

// One skin element. The table owns ShBitmap from InitSkin until shutdown.
// The geometry is rewritten by every layout pass, which may run on the
// window thread (WM_SIZE) while another thread paints, so each field is
// atomic; a copy loads every field once.
struct t_Skin {
  const char *Name = nullptr;
  plat::HBITMAP ShBitmap = nullptr;
  std::atomic<int> PosX{0}; // top
  std::atomic<int> PosY{0}; // left
  std::atomic<int> Width{0};
  std::atomic<int> Height{0};

  t_Skin() = default;
  t_Skin(const t_Skin &o)
      : Name(o.Name), ShBitmap(o.ShBitmap), PosX(o.PosX.load()),
        PosY(o.PosY.load()), Width(o.Width.load()), Height(o.Height.load()) {}
  t_Skin &operator=(const t_Skin &) = delete;
};

// The element table. Name and ShBitmap are written by InitSkin on the window
// thread before any other thread starts, and only read afterwards.
extern t_Skin Skin[kSkinCount];

// Values of ShowData.Button: the index of the element drawn while the
// pointer is over the button; BTN_NONE (the index of `tr`) is no button.
enum : int {
  BTN_NONE = 5,
  BTN_RELAY1 = 11,
  BTN_RELAY2 = 12,
  BTN_SETTINGS = 15,
  BTN_HIDE = 16,
  BTN_CLOSE = 17,
  BTN_CALL = 21,
  BTN_HANGUP = 22,
};

// --- loading -----------------------------------------------------------------
// Loads each element from "Skin/<name>.bmp" in the current directory when
// that file is a Windows BMP of a sensible size, else from the built-in
// skin, and reads the background picture. Window thread, once at start-up.
// `hwnd` is not used.
void InitSkin(plat::HWND hwnd, t_Skin *Skin);
// Releases the 27 bitmaps (shutdown).
void FreeSkin(t_Skin *Skin);

// --- layout ------------------------------------------------------------------
// Places all 27 elements for a client size (height before width).
void SkinBitmapPos(t_Skin *Skin, int ClientHeight, int ClientWidth);
// A private copy of the table laid out for `size`, for painting: only the
// window thread lays out the shared table, and a painter on another thread
// reading it during a resize could take one element from each layout.
void SkinLayoutFor(const t_Skin *Skin, t_ClientSize size,
                   t_Skin (&out)[kSkinCount]);
// The video area of the current layout, in client pixels; right and bottom
// exclusive. Empty (or inverted) when the window is too small for one.
plat::RECT SkinVideoArea(const t_Skin *Skin, int ClientHeight, int ClientWidth);
// The smallest window the bottom row fits in: the answer to
// WM_GETMINMAXINFO's ptMinTrackSize (268 x 61 with the built-in skin).
plat::POINT SkinMinTrackSize(const t_Skin *Skin);

// --- painting (any thread) ---------------------------------------------------
// Shapes, shows and repaints the whole window from a copy of ShowData.
void ShowMyWindow(plat::HWND hwnd, t_ShowData SData);
// Repaints the title line and the top-right corner.
void ShowTitle(plat::HWND hwnd, t_ShowData SData);
// Draws len_text characters of `text` at row posx, column posy.
void ShowMyText(plat::HDC hdc, const char *text, int len_text, int posx,
                int posy, plat::COLORREF color);

// --- pointer feedback (window thread) ----------------------------------------
// True when `cur` (client x, y) lies inside the element's sensitive
// rectangle: the first row and column and the last five of each excluded.
plat::BOOL OverBMP(t_Skin s, plat::POINT cur);
// WM_NCHITTEST: the drag strip along the top and the resize grip.
plat::LRESULT MyNCHitTest(plat::HWND hwnd, plat::UINT message,
                          plat::WPARAM wParam, plat::LPARAM lParam);
// WM_MOUSEMOVE: the button under the pointer; redraws a change of hover.
int MyMouseMove(plat::WPARAM wParam, plat::LPARAM lParam);
// WM_LBUTTONDOWN: draws the pressed face of the button `But`.
void MyLButtonDown(int But);
// This instance's door unit enters or leaves a SIP call: the call key under
// the pointer becomes the hang-up key or back, so that its face, its
// tooltip and a click on it show and do the same, the top edge counts the
// call, and a visible window shows it at once. Window thread.
void SetLinCall(bool inCall);
// WM_NOTIFY, TTN_GETDISPINFO: the tooltip of the button under the pointer
// (none elsewhere).
void ButtonToolTip(plat::NMTTDISPINFO &info);

// --- the top edge's words about a call (window thread unless said) -----------
// The window's timer while the top edge says something about a call: its
// clock, the end of a note.
inline constexpr std::uintptr_t kCallLineTimerId = 1;
// How long a note stands in place of the title.
inline constexpr int kCallNoteMs = 10000;
// The call key was pressed: "Calling <title>..." until the core owner's
// MSG_CALL_PROGRESS says more.
void ShowCalling();
// Whether a MSG_CALL_PROGRESS came since the last ShowCalling: none means
// that no copy holds a SIP core.
bool CallProgressHeard();
// MSG_CALL_PROGRESS: ringing, answered ("In call 0:42" counts from now), or
// why the call failed or was not placed, as a note.
void ShowCallProgress(plat::LPARAM progress);
// `note` ("SIP port 5060 is taken") in place of the title for kCallNoteMs.
void ShowCallNote(const char *note);
// SetLinCall's part: a call shown with the hang-up key counts as in call
// unless it is still being placed; its end brings the title back, and
// leaves a note standing.
void CallLineFollows(bool inCall);
// kCallLineTimerId.
void CallLineTick();
// What the top edge reads now: the title, or what it says about the call.
// Any thread.
void TitleLineText(const t_ShowData &SData, char *out, std::size_t size);
