// The pop-up rules: what a call flag from the door unit, a click on the tray
// icon, the hide button and a window brought back by the desktop do to the
// window and to the pop-up bookkeeping. Pure: no window, no platform; the
// callers carry out the actions.
#pragma once

#include <atomic>

// Pop-up bookkeeping, shared by the video reader and the window thread.
// show: a ring may pop the window up (cleared when the user hides it during
// the ring). hide: the window goes away when the ring ends (set when the ring
// or the user brought it up during a ring). Change them through PopupStep.
extern std::atomic<int> show;
extern std::atomic<int> hide;

enum class PopupEvent {
  RingOff,     // call flag '0'
  RingOn,      // call flag '1' or '2'
  TrayClick,   // the tray icon was clicked
  HideButton,  // the hide button was released
  BroughtBack, // the desktop showed the window again (task bar)
  RunEnded,    // the connection to the door unit ended: no ring known
};

// What the caller does, in this order when several are set.
enum PopupAction : unsigned {
  kPopupNone = 0,
  kPopupTraceCall = 1u << 0, // trace the start of a ring
  // A ring pops the window up: shown without taking the keyboard from what
  // the user is typing in, and marked for the user's attention instead.
  kPopupAlert = 1u << 1,
  kPopupShowPainted = 1u << 2, // show the window, painted whole
  kPopupHide = 1u << 3,        // hide the window
  kPopupRestore = 1u << 4,     // show the window and bring it to the front
  kPopupResetButton = 1u << 5, // no button lit any more
};

struct t_PopupState {
  int show = 1;
  int hide = 1;
  int call = 0; // a ring is going on (lights the call indicator)
  bool operator==(const t_PopupState &) const = default;
};

struct t_PopupStep {
  t_PopupState next;
  unsigned actions = kPopupNone;
};

// The rules themselves: `popUp` is the pop-up mode, `visible` whether the
// window is shown when the event is handled.
t_PopupStep PopupRule(bool popUp, PopupEvent event, t_PopupState now,
                      bool visible);

// Where the bookkeeping lives: the program passes show, hide and
// ShowData.call.
struct t_PopupCells {
  std::atomic<int> &show;
  std::atomic<int> &hide;
  std::atomic<int> &call;
};

// One whole transition: the cells are read, ruled on and written under one
// lock, so the reader's call flags and the window thread's clicks are
// ordered. A hide during a ring is thus always seen by that ring (it pops
// up no more) and a ring's end always sees the ring. Returns the actions,
// for the caller to carry out after the lock is let go. Any thread.
unsigned PopupStep(const t_PopupCells &cells, bool popUp, PopupEvent event,
                   bool visible);
// Arms both automatic behaviours again (show and hide set), under the same
// lock: new settings start from a clean slate. Any thread.
void PopupRearm(const t_PopupCells &cells);
