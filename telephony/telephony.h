// Module telephony: the SIP core that the core owner holds, the callbacks
// through which it reports, and the dialogs that carry the user's answers.
//
// Threads: the core is made, reconfigured, queried and taken down on the
// window thread; the SIP thread iterates it and runs the callbacks. Calls
// into the core are serialised by the adapter, and no callback runs while
// its lock is held, so the window thread may call in while a callback waits
// for the window thread.
#pragma once

#include <atomic>

#include "instance/display_state.h"
#include "platform/dialog_box.h"
#include "platform/window.h"
#include "telephony/sip_core.h"

// SIP-thread notifications to the own main window (WM_USER, in wParam).
inline constexpr plat::WPARAM APP_INCOMING_CALL = 0;
inline constexpr plat::WPARAM APP_AUTH_ENTERED = 1;

// --- the core (core set-up and registration) ---------------------------------
// The core; null in every instance that is not the core owner. Written by
// the window thread, read by the SIP thread's dialogs.
extern std::atomic<SipCore *> the_core;
// The current registrar account, or null. Window thread only.
extern SipProxyConfig *cfg;
// The authentication record being completed or last added. Written by the
// window thread (set-up) and the SIP thread (credentials request).
extern std::atomic<SipAuthInfo *> info;
// Last registration state obtained (0 or 1).
extern std::atomic<int> SIP_reg;

// A new authentication record; this module keeps it until the core is
// gone, as the core may still refer to a record that `info` no longer
// names. Any thread.
SipAuthInfo *NewAuthRecord(const char *username, const char *passwd,
                           const char *realm);

// Creates the core and its thread, selects the sound devices and sets up
// the registrar account when UseSIP is set. A core that cannot be made
// leaves the_core null: the instance then runs without SIP.
void StartCore();
// Re-reads the SIP and sound settings and rebuilds the registrar account.
// Core owner only.
void ReloadSipSettings();
// Updates SIP_reg from the account, when there is one.
void QueryRegistration();
// The core's part of closing: the account, a call in progress, the SIP
// thread and the core itself, in that order. Returns whether there was a
// core (the caller then hands it over).
bool TeardownCore();

// --- event callbacks ---------------------------------------------------------
// The caller of the last incoming call: the user part of its address (empty
// when it has none) and the host part. Written by the SIP thread.
extern SharedText<64> Name_call;
extern SharedText<64> IP_call;

void my_inv_recv(SipCore *lc, const char *from);
void my_auth_info_requested(SipCore *lc, const char *realm,
                            const char *username);
void my_display_status(SipCore *lc, const char *status);
void my_display_message(SipCore *lc, const char *msg);

// --- call dialogs ------------------------------------------------------------
// The modeless dialogs of the current call. Window thread; a closed one no
// longer counts as a live dialog.
extern std::atomic<plat::HDLG> hWnd_Accept;
extern std::atomic<plat::HDLG> hWnd_Terminate;

plat::INT_PTR DialogProcAccept(plat::HDLG hwndDlg, plat::UINT uMsg,
                               plat::WPARAM wParam, plat::LPARAM lParam);
plat::INT_PTR DialogProcTerm(plat::HDLG hwndDlg, plat::UINT uMsg,
                             plat::WPARAM wParam, plat::LPARAM lParam);
plat::INT_PTR DialogProcPass(plat::HDLG hwndDlg, plat::UINT uMsg,
                             plat::WPARAM wParam, plat::LPARAM lParam);
// Stops the ring (and any other sound of the program).
void StopRing();
// Ends an open Authentication dialog as cancelled, so that the SIP thread it
// holds can stop (closing). Any thread.
void CloseAuthenticationDialog();
