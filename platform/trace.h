// Timestamps of the video path's and the calls' events, for the benchmarks.
//
// Off unless the environment variable VESTIBELL_TRACE names a file when the
// program starts; then every event appends one line "NAME NANOSECONDS" to
// it (monotonic clock, the clock of std::chrono::steady_clock). Off, an
// event costs one test of an integer.
#pragma once

namespace plat {

enum TraceEvent {
  TRACE_FRAME,     // the reader completed a frame ("frame")
  TRACE_DRAWN,     // the frame is in the window's surface ("drawn")
  TRACE_PRESENTED, // the window put drawn pixels on the screen ("presented")
  TRACE_CALL,      // the reader saw a ring begin ("call")
  TRACE_SHOWN,     // a window that was hidden is on the screen ("shown")
  TRACE_INVITE,    // an incoming SIP call reached the program ("invite")
  TRACE_RINGING,   // the Accept dialog is made and the ring started ("ringing")
  TRACE_DIALOG,    // a dialog painted for the first time ("dialog")
  TRACE_HANGUP,    // the user ended a call: before the core is told ("hangup")
  TRACE_HUNG_UP,   // the core was told to end the call ("hung-up")
  TRACE_ACCEPTED,  // the user pressed the Accept dialog's OK ("accepted")
  TRACE_ANSWERED,  // the core was told to answer the call ("answered")
  TRACE_DIAL,      // the user pressed the call button ("dial")
  TRACE_INVITED,   // the core sent the call's INVITE ("invited")
  TRACE_CORE_UP,   // this instance made its SIP core ("core-up")
  TRACE_REGISTERED,  // the registrar accepted the account ("registered")
  TRACE_VISIT_SAVED, // a visit's last picture is on disk ("visit-saved")
};

// The trace file's descriptor, -1 when tracing is off. Set before main and
// never changed afterwards.
extern const int g_traceFd;

void TraceWrite(TraceEvent event);

inline void Trace(TraceEvent event) {
  if (g_traceFd >= 0)
    TraceWrite(event);
}

} // namespace plat
