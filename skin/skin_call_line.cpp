// What the top edge says about this copy's call in place of the door
// unit's title: the call being placed, the time in a call, and for a while
// why a call failed or could not be placed. The state lives in ShowData,
// so that every painter of the title line draws it.
#include <chrono>
#include <cstdio>
#include <cstring>

#include "instance/identity.h"
#include "instance/protocol.h"
#include "instance/settings.h"
#include "skin/skin.h"

namespace {

constexpr unsigned kTickMs = 250;

// Whether a MSG_CALL_PROGRESS came since the call key was pressed.
bool g_heard = false; // window thread only

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void RepaintTitle() {
  if (plat::IsWindowVisible(g_hwndMain))
    ShowTitle(g_hwndMain, ShowData);
}

// The line takes `line` from now on; the timer runs while it is not the
// title.
void SetLine(int line) {
  ShowData.callSince = NowMs();
  ShowData.callLine = line;
  if (line == kLineTitle)
    plat::KillTimer(g_hwndMain, kCallLineTimerId);
  else
    plat::SetTimer(g_hwndMain, kCallLineTimerId, kTickMs);
  RepaintTitle();
}

// What a failed or refused call's progress says, in a phone's few words
// (the top edge has room for about 28 characters at the skin's natural
// size); null for another value (a later version's), which changes
// nothing.
const char *ProgressNote(plat::LPARAM progress) {
  switch (progress) {
  case CALL_NO_ANSWER:
    return "No answer";
  case CALL_BUSY:
    return "Busy";
  case CALL_DECLINED:
    return "Declined";
  case CALL_NOT_FOUND:
    return "Not found";
  case CALL_NO_CONNECTION:
    return "No SIP connection";
  case CALL_FAILED:
    return "Call failed";
  case CALL_REFUSED_IN_CALL:
    return "Another call is on";
  case CALL_REFUSED_UNREGISTERED:
    return "Not registered";
  case CALL_REFUSED_TARGET:
    return "No SIP address to call";
  default:
    return nullptr;
  }
}

// The title without the spaces a run's end leaves in it.
void TrimmedTitle(const t_ShowData &SData, char (&title)[64]) {
  SData.title.CopyTo(title, sizeof title);
  std::size_t n = std::strlen(title);
  while (n > 0 && title[n - 1] == ' ')
    title[--n] = '\0';
}

} // namespace

void ShowCalling() {
  g_heard = false;
  SetLine(kLineCalling);
}

bool CallProgressHeard() { return g_heard; }

void ShowCallProgress(plat::LPARAM progress) {
  g_heard = true;
  if (progress == CALL_RINGING)
    SetLine(kLineCalling);
  else if (progress == CALL_ANSWERED)
    SetLine(kLineInCall);
  else if (const char *note = ProgressNote(progress))
    ShowCallNote(note);
}

void ShowCallNote(const char *note) {
  ShowData.callNote.Set(note);
  SetLine(kLineNote);
}

void CallLineFollows(bool inCall) {
  const int line = ShowData.callLine;
  if (inCall && line != kLineCalling && line != kLineInCall)
    SetLine(kLineInCall);
  else if (!inCall && (line == kLineCalling || line == kLineInCall))
    SetLine(kLineTitle);
}

void CallLineTick() {
  if (ShowData.callLine == kLineNote &&
      NowMs() - ShowData.callSince >= kCallNoteMs)
    SetLine(kLineTitle);
  else if (ShowData.callLine == kLineTitle)
    plat::KillTimer(g_hwndMain, kCallLineTimerId);
  else
    RepaintTitle(); // the clock; nothing is drawn while it shows the same
}

void TitleLineText(const t_ShowData &SData, char *out, std::size_t size) {
  if (size == 0)
    return;
  char title[64];
  switch (SData.callLine.load()) {
  case kLineCalling: {
    TrimmedTitle(SData, title);
    if (title[0] == '\0') // no pictures yet: the door unit by its address
      IP_addr.CopyTo(title, sizeof title);
    std::snprintf(out, size, "Calling %s...", title);
    return;
  }
  case kLineInCall: {
    TrimmedTitle(SData, title);
    const std::int64_t s = (NowMs() - SData.callSince) / 1000;
    char clock[24];
    if (s >= 3600)
      std::snprintf(clock, sizeof clock, "%d:%02d:%02d", int(s / 3600),
                    int(s / 60 % 60), int(s % 60));
    else
      std::snprintf(clock, sizeof clock, "%d:%02d", int(s / 60), int(s % 60));
    if (title[0] == '\0')
      std::snprintf(out, size, "In call %s", clock);
    else
      std::snprintf(out, size, "In call %s \xB7 %s", clock, title);
    return;
  }
  case kLineNote:
    SData.callNote.CopyTo(out, size);
    return;
  default:
    SData.title.CopyTo(out, size);
    return;
  }
}
