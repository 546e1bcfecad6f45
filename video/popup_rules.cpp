#include "video/popup_rules.h"

#include <mutex>

std::atomic<int> show{1};
std::atomic<int> hide{1};

namespace {

std::mutex g_transition;

} // namespace

t_PopupStep PopupRule(bool popUp, PopupEvent event, t_PopupState now,
                      bool visible) {
  t_PopupStep step;
  t_PopupState &next = step.next;
  next = now;
  unsigned &act = step.actions;
  // Only a ring in pop-up mode moves `show` and `hide`.
  const bool ringing = popUp && now.call;
  switch (event) {
  case PopupEvent::RingOff:
    if (ringing)
      next.show = 1; // the next ring may pop up again
    if (visible && now.call)
      act |= kPopupShowPainted; // without the call indicator
    next.call = 0;
    if (popUp && visible && now.hide)
      act |= kPopupHide | kPopupResetButton;
    break;
  case PopupEvent::RingOn:
    if (!now.call) {
      act |= kPopupTraceCall;
      if (popUp)
        next.hide = 1; // popped up by the ring: it goes when the ring ends
      if (visible)
        act |= kPopupShowPainted; // with the call indicator
    }
    next.call = 1;
    if (popUp && now.show && !visible)
      act |= kPopupAlert | kPopupShowPainted; // pops up, indicator lit
    break;
  case PopupEvent::TrayClick:
    act |= kPopupResetButton;
    if (visible) {
      act |= kPopupHide;
      next.show = ringing ? 0 : 1; // hidden during a ring: not again
    } else {
      act |= kPopupRestore;
      next.hide = ringing ? 1 : 0; // opened during a ring: goes with it
    }
    break;
  case PopupEvent::HideButton:
    act |= kPopupHide | kPopupResetButton;
    if (ringing)
      next.show = 0;
    break;
  case PopupEvent::BroughtBack:
    // As a show from the tray; the paint that follows lights no button.
    act |= kPopupResetButton;
    next.hide = ringing ? 1 : 0;
    break;
  case PopupEvent::RunEnded:
    // The reader paints the window anew itself; show and hide stay.
    next.call = 0;
    break;
  }
  return step;
}

unsigned PopupStep(const t_PopupCells &cells, bool popUp, PopupEvent event,
                   bool visible) {
  std::lock_guard lock(g_transition);
  const t_PopupState now{cells.show.load(), cells.hide.load(),
                         cells.call.load()};
  const t_PopupStep step = PopupRule(popUp, event, now, visible);
  cells.show.store(step.next.show);
  cells.hide.store(step.next.hide);
  cells.call.store(step.next.call);
  return step.actions;
}

void PopupRearm(const t_PopupCells &cells) {
  std::lock_guard lock(g_transition);
  cells.show.store(1);
  cells.hide.store(1);
}
