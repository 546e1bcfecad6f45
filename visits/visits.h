// Module visits: the visitors' record. Each ring of the door unit's stream
// becomes a visit, with the pictures from 3 s before the ring to 10 s after
// it and whether this copy's door unit got into a call; the core owner adds
// every SIP call it receives. What it keeps, and how, is in
// visit_store.h; the rules in visit_rules.h.
//
// Threads: StartVisits and StopVisits on the window thread (start-up,
// closing); VisitPicture and VisitRing on the reader thread; VisitInCall
// on the window thread; VisitSipCall on the window thread or the SIP
// thread; UnseenMissedVisits and RecountVisits on any thread. A hand-in
// takes one small lock for a moment and never waits for the worker, which
// alone touches the database and the disk.
#pragma once

#include <cstdint>
#include <string>

#include "instance/settings.h"
#include "visits/picture_buffer.h"
#include "visits/visit_rules.h"
#include "visits/visit_store.h"

struct t_VisitsSetup {
  std::string dataFolder; // where the settings file is
  int copy = 1;           // this copy's number, for its visits' folders
  t_VisitSettings settings;
};

// Starts the worker, which opens the record; a record that cannot be kept
// is said on standard error once and the hand-ins then do nothing.
void StartVisits(const t_VisitsSetup &setup);
// Ends the worker after it has written what it holds (a visit still
// ringing is decided as it stands): at most a few seconds, and only once
// the reader and the SIP thread have ended.
void StopVisits();

// A whole picture of the stream, as received.
void VisitPicture(visits::t_PictureBytes picture);
// The stream's call flag rose (`ringing`) or fell; `title` is the stream's
// title at that moment.
void VisitRing(bool ringing, const char *title);
// This copy's door unit got into a call, or out of it.
void VisitInCall(bool inCall);

// A SIP call the core owner received: as it comes in (Undecided), and as
// it ends, by its `call` number; a caller turned away busy once, with
// `call` 0.
struct t_SipVisit {
  std::uint32_t call = 0;
  std::string caller;      // "user@host", or "host"
  std::int64_t whenMs = 0; // since 1970, UTC
  visits::VisitOutcome outcome = visits::VisitOutcome::Undecided;
};
void VisitSipCall(const t_SipVisit &call);

// The missed visits nobody has looked at yet (t_VisitStore's
// CountUnseenMissed), as the worker last counted them: after each change
// it made, and within kRecountMs of a change by another connection or
// copy. Reading it touches no database.
inline constexpr int kRecountMs = 2000;
int UnseenMissedVisits();
// Called on the worker thread whenever that count changes (a window thread
// that wants it posts it to itself). Set once, before StartVisits.
void SetUnseenMissedHook(void (*hook)(int count));
// Asks the worker to count again now (the Visitors window marked visits
// seen or deleted some through its own connection).
void RecountVisits();
