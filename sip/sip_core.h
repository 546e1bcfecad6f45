// The SIP library behind the small set of calls the telephony code was
// written against: one opaque core, its registrar account and credentials,
// and its events handed out on the SIP thread. No library type shows here.
//
// Threads: every call below may come from any thread; calls into the
// library are serialised by one recursive lock (one per process, as the
// library keeps process-wide state that is not thread-safe). The library
// reports events while that lock is held (inside an iteration, or inside
// the very call that caused them), so they are queued and handed to the
// callbacks only by SipCoreDispatch, which runs with no lock held. A
// callback may therefore wait for the window thread while the window thread
// calls into the core.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

struct SipCore;
struct SipAuthInfo;
struct SipProxyConfig;

// A call, by a number the core gives it (never 0, never reused while the
// core lives). A core lets in one call at a time: while one rings or is up,
// every further INVITE is answered 486 Busy Here at once and never becomes
// a call, and no call can be placed.
using SipCallId = std::uint32_t;

// How a call placed here went: answered, or why it failed. No answer: it
// rang at the door unit, or the door unit said it could not take it now;
// no connection: nothing came back from the address at all.
enum class SipOutcome {
  kAnswered,
  kNoAnswer,
  kBusy,
  kDeclined,
  kNotFound,
  kNoConnection,
  kFailed, // for another reason
};

// The event callbacks, run on the thread that calls SipCoreDispatch (the
// SIP thread). Any of them may be null.
struct SipCallbacks {
  // An incoming call from the caller's address, as "sip:user@host:port",
  // perhaps with a display name and angle brackets.
  void (*inv_recv)(SipCore *core, SipCallId call, const char *from);
  // The registrar wants credentials this core has no record for.
  void (*auth_info_requested)(SipCore *core, const char *realm,
                              const char *username);
  // A status line of `call`; its end, from either side, is exactly
  // "Call terminated.".
  void (*display_status)(SipCore *core, SipCallId call, const char *status);
  // `call` failed (refused, declined, unreachable): the library's reason.
  void (*display_message)(SipCore *core, SipCallId call, const char *message);
  // A caller turned away with 486 Busy Here while another call rang or was
  // up: its address as inv_recv has it, and when (seconds since 1970).
  void (*busy_recv)(SipCore *core, const char *from, std::int64_t when);
  // A call placed here was answered, or failed (just before its
  // display_message): how.
  void (*call_outcome)(SipCore *core, SipCallId call, SipOutcome outcome);
};

struct SipCoreOptions {
  // Where the library keeps its state; nothing is written elsewhere. Must
  // exist; a trailing '/' is added when missing.
  std::string folder;
  // Local UDP port for SIP; 0 lets the system choose one (read it back
  // with SipCoreSipPort).
  int sip_port = 5060;
  // RTP port for audio; 0 lets the system choose one.
  int audio_port = 0;
  // The local address that signalling and audio use; empty: every address.
  std::string bind_address;
  // Play and record files instead of sound cards (for machines and tests
  // without a sound device).
  bool use_files = false;
};

// A core with all video off, no STUN, no default account and no ring files;
// null when the library cannot make one (the port taken, the folder not
// writable).
SipCore *SipCoreNew(const SipCallbacks &callbacks,
                    const SipCoreOptions &options);
// Stops and frees the core; every call still up is ended first. The SIP
// thread must be stopped before (no iteration may run meanwhile).
void SipCoreDestroy(SipCore *core);
// One step of the library's work: network, timers. Queues events.
void SipCoreIterate(SipCore *core);
// Hands the queued events to the callbacks, in order. Called by the SIP
// thread after each iteration; takes no lock while a callback runs.
void SipCoreDispatch(SipCore *core);
// The SIP thread's wait before the next iteration: `period` while anything
// is under way (a call, an account awaiting the registrar's answer, the
// round after a datagram); while the core is quiet, up to `quiet`, ended
// early by a datagram for the core and by any call into the core from
// another thread (which may leave the library work for its next round).
void SipCoreWait(SipCore *core, std::chrono::milliseconds period,
                 std::chrono::milliseconds quiet);
// Ends the wait under way, or else the next one, at once. Any thread.
void SipCoreWake(SipCore *core);
// From now on events are dropped, queued ones included: the core is being
// taken down, and a callback that waited for the window thread would hold
// up the thread's end.
void SipCoreDropEvents(SipCore *core);
// The UDP port the core really listens on.
int SipCoreSipPort(SipCore *core);

// Calls. Accept answers the call that rings; Terminate ends every call,
// ringing or answered; Invite returns 0 when the call was placed, non-zero
// when the address is not a valid SIP address, another call is on, or the
// call cannot start.
int SipCoreAcceptCall(SipCore *core);
int SipCoreInvite(SipCore *core, const char *url);
int SipCoreTerminateCall(SipCore *core);
// The same for one call only: non-zero, and nothing done, when `call` is
// not the call that rings (Accept) or is not on any more (Terminate).
int SipCoreAcceptCall(SipCore *core, SipCallId call);
int SipCoreTerminateCall(SipCore *core, SipCallId call);
// The call that rings or is up, or 0.
SipCallId SipCoreCurrentCall(SipCore *core);
// 1 while a call rings or is up, else 0.
int SipCoreInCall(SipCore *core);

// Sound devices. The list holds the names Set accepts; Get names the one
// in use.
std::vector<std::string> SipCoreSoundDevices(SipCore *core);
// The same names without a core, in the same order: what any core of this
// process would list now. Takes a moment (the cards are probed). Any thread.
std::vector<std::string> SipSoundDevices();
void SipCoreSetCaptureDevice(SipCore *core, const char *name);
void SipCoreSetPlaybackDevice(SipCore *core, const char *name);
std::string SipCoreCaptureDevice(SipCore *core);
std::string SipCorePlaybackDevice(SipCore *core);

void SipCoreSetPrimaryContact(SipCore *core, const char *contact);
// The local address that calls made from now on advertise for their audio,
// and bind it to; empty: the core's bind address, or the library's choice
// and every address.
void SipCoreSetMediaAddress(SipCore *core, const std::string &address);

// Credentials. A record belongs to whoever made it; the core keeps a copy
// of what is added.
SipAuthInfo *SipAuthInfoNew(const char *username, const char *userid,
                            const char *passwd, const char *ha1,
                            const char *realm);
void SipAuthInfoSetPasswd(SipAuthInfo *info, const char *passwd);
void SipAuthInfoSetUsername(SipAuthInfo *info, const char *username);
void SipAuthInfoDestroy(SipAuthInfo *info);
// Replaces any record of the same user and realm.
void SipCoreAddAuthInfo(SipCore *core, const SipAuthInfo *info);
void SipCoreRemoveAuthInfo(SipCore *core, const SipAuthInfo *info);
// Gives up the pending request for credentials (the user cancelled).
void SipCoreAbortAuthentication(SipCore *core, SipAuthInfo *info);

// Registrar account. New needs the core it will join. Identity and server
// are texts such as "sip:door@127.0.0.1" and "sip:127.0.0.1:5060"; every
// request of the account goes through the server (it is also the route),
// so no target in its domain needs a name lookup.
SipProxyConfig *SipProxyConfigNew(SipCore *core);
int SipProxyConfigSetIdentity(SipProxyConfig *cfg, const char *identity);
int SipProxyConfigSetServerAddr(SipProxyConfig *cfg, const char *server);
void SipProxyConfigExpires(SipProxyConfig *cfg, int seconds);
void SipProxyConfigEnableRegister(SipProxyConfig *cfg, bool enable);
// 0, or -1 when the core refuses the account (no valid identity or server).
int SipCoreAddProxyConfig(SipCore *core, SipProxyConfig *cfg);
void SipCoreSetDefaultProxy(SipCore *core, SipProxyConfig *cfg);
// 1 when the registrar has accepted the registration, else 0.
int SipProxyConfigIsRegistered(SipProxyConfig *cfg);
// 1 while the account is registered or a REGISTER of it, or of its removal,
// is under way; 0 once the registrar has let it go (or never had it).
int SipProxyConfigIsBusy(SipProxyConfig *cfg);
// Why the account is not registered: kNone while it is; kCredentials when
// the registrar refused its name or password (401, 403, 407); kRefused when
// it answered another error, whose SIP status goes to `status`; kNoAnswer
// while no answer has come (none yet, or none in time).
enum class SipRegFailure { kNone, kNoAnswer, kCredentials, kRefused };
SipRegFailure SipProxyConfigFailure(SipProxyConfig *cfg, int *status);
void SipCoreRemoveProxyConfig(SipCore *core, SipProxyConfig *cfg);
// How many accounts the core holds.
int SipCoreProxyConfigCount(SipCore *core);
// Frees the caller's handle; the core lets go of its own when removed.
void SipProxyConfigDestroy(SipProxyConfig *cfg);
