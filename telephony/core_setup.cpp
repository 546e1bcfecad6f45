// The SIP core of the core owner: made on MSG_START_CORE, rebuilt when the
// settings change, asked for its registration, and taken down at closing.
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "instance/identity.h"
#include "instance/protocol.h"
#include "instance/settings.h"
#include "platform/files.h"
#include "platform/message_box.h"
#include "platform/message_space.h"
#include "platform/net.h"
#include "platform/report.h"
#include "platform/trace.h"
#include "sip/sip_core.h"
#include "telephony/caller.h"
#include "telephony/sip_thread.h"
#include "telephony/telephony.h"

std::atomic<SipCore *> the_core{nullptr};
SipProxyConfig *cfg = nullptr;
std::atomic<SipAuthInfo *> info{nullptr};
std::atomic<int> SIP_reg{0};
std::optional<std::string> SIP_reg_reason;

namespace {

// The thread that drives the core.
SipThread Linphone_Thread;

// Every record and account made for the core, freed with it. The records
// are made by the window thread and the SIP thread.
std::mutex g_madeMutex; // guards g_records
std::vector<SipAuthInfo *> g_records;
std::vector<SipProxyConfig *> g_accounts; // window thread only

// Our handles of the accounts go before the core they belong to; the
// records belong to no core and go after it.
void FreeAccounts() {
  for (SipProxyConfig *account : g_accounts)
    SipProxyConfigDestroy(account);
  g_accounts.clear();
}

void FreeRecords() {
  std::lock_guard lock(g_madeMutex);
  for (SipAuthInfo *record : g_records)
    SipAuthInfoDestroy(record);
  g_records.clear();
}

// The derived SIP texts are made in 50-character buffers: longer settings
// are cut to fit.
using SipText = char[50];

// "sip:user@host", or "sip:host" without a user.
void FormSipText(SipText &out, const char *user, const char *host) {
  std::string text = "sip:";
  if (user != nullptr)
    text.append(user).append("@");
  text += host;
  out[text.copy(out, sizeof out - 1)] = '\0';
}

// SIP_bind_addr of the core, as it was made (window thread).
std::string g_bindAddress;

// The address this PC has on the door unit's network: SIP_bind_addr when
// set, else for direct calls the local address that routes to the door
// unit's host. On a PC whose door network is not the default route (a
// second card, a VPN) the library would otherwise advertise the default
// route's address, where the door unit's audio never arrives. Empty (the
// library's choice) with a registrar, whose connection the library takes
// the address from, and for a host name (the core is IPv4 only, and no
// name is looked up on the window thread).
std::string DoorNetworkAddress(const char *host) {
  if (!g_bindAddress.empty())
    return g_bindAddress;
  if (UseSIP)
    return {};
  const std::string local = plat::LocalAddressTowards(host);
  return local.find(':') == std::string::npos ? local : std::string();
}

// Where the library keeps its own state: a folder beside the settings file,
// never the user's home. The local SIP port is 5060 unless the "SIP"
// section names another in "SIP_port" (0: any free one), so that several
// cores, or a door-unit simulator, can share one machine. "SIP_bind_addr"
// keeps signalling and audio on one local address (empty: every address).
bool CoreOptions(SipCoreOptions &options) {
  std::string folder = ini_file;
  const std::size_t slash = folder.rfind('/');
  if (folder.empty() || slash == std::string::npos)
    return false;
  folder = folder.substr(0, slash) + "/sip";
  if (!plat::PathExists(folder) && !plat::CreateDirectory(folder))
    return false;
  options.folder = folder;
  options.sip_port = ReadSipPort();
  char bind[64];
  ReadSipBindAddress(bind);
  options.bind_address = bind;
  g_bindAddress = bind;
  return true;
}

void SetPrimaryContact(SipCore *core) {
  char ip[64];
  IP_addr.CopyTo(ip, sizeof ip);
  char host[kCallerFieldSize];
  DoorHost(ip, host);
  const std::string local = DoorNetworkAddress(host);
  SipCoreSetMediaAddress(core, local);
  SipText contact;
  {
    std::lock_guard lock(SipAccountMutex);
    FormSipText(contact, SIP_id, local.empty() ? host : local.c_str());
  }
  SipCoreSetPrimaryContact(core, contact);
}

void NewAuthInfo(SipCore *core) {
  SipAuthInfo *record;
  {
    std::lock_guard lock(SipAccountMutex);
    record = NewAuthRecord(SIP_id, SIP_pass, SIP_realm);
  }
  info = record;
  SipCoreAddAuthInfo(core, record);
}

void NewProxyConfig(SipCore *core) {
  SipText identity;
  SipText server;
  {
    std::lock_guard lock(SipAccountMutex);
    FormSipText(identity, SIP_id, SIP_addr);
  }
  FormSipText(server, nullptr, SIP_addr);
  cfg = SipProxyConfigNew(core);
  g_accounts.push_back(cfg);
  SipProxyConfigSetIdentity(cfg, identity);
  SipProxyConfigSetServerAddr(cfg, server);
  SipProxyConfigExpires(cfg, SIP_reg_duration);
  SipProxyConfigEnableRegister(cfg, true);
  if (SipCoreAddProxyConfig(core, cfg) == -1)
    plat::MessageBox(g_hwndMain, "Add proxy config error", "Error",
                     plat::MB_ICONEXCLAMATION);
  SipCoreSetDefaultProxy(core, cfg);
}

// The full name of the device a setting keeps, for the core: a long name is
// kept cut short, and the core knows a device only by its whole name.
std::string DeviceName(SipCore *core, const char *stored) {
  for (const std::string &name : SipCoreSoundDevices(core))
    if (IsStoredDevice(name, stored))
      return name;
  return stored;
}

// Copies the device the core really uses back into the setting.
void CopyDevice(char (&setting)[50], const std::string &inUse) {
  std::snprintf(setting, sizeof setting, "%s", inUse.c_str());
}

// How long closing waits for the registrar to let the account go.
constexpr auto kUnregisterWait = std::chrono::seconds(2);

// Takes the account out of the core, whatever its state: one that never
// registered would otherwise stay the default proxy, and every direct call
// would go to the registrar that never answered. A registered one sends
// its un-REGISTER, which the registrar may challenge: its credentials stay
// in the core (they go with it) so that the library can answer. With
// `wait` (closing), returns once the registrar has let it go, or after a
// bounded time, so that the core is not destroyed under the un-REGISTER
// and the registrar does not keep sending calls to a closed program.
void RetireAccount(SipCore *core, bool wait) {
  if (cfg == nullptr)
    return;
  const bool registered = SipProxyConfigIsRegistered(cfg) != 0;
  SipCoreRemoveProxyConfig(core, cfg);
  if (wait && registered) {
    const auto deadline = std::chrono::steady_clock::now() + kUnregisterWait;
    while (SipProxyConfigIsBusy(cfg) &&
           std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  SipProxyConfigDestroy(cfg);
  std::erase(g_accounts, cfg);
  cfg = nullptr;
}

} // namespace

SipAuthInfo *NewAuthRecord(const char *username, const char *passwd,
                           const char *realm) {
  SipAuthInfo *record =
      SipAuthInfoNew(username, nullptr, passwd, nullptr, realm);
  if (record != nullptr) {
    std::lock_guard lock(g_madeMutex);
    g_records.push_back(record);
  }
  return record;
}

void StartCore() {
  // One core per instance, whoever asks.
  if (the_core.load() != nullptr)
    return;
  SipCoreOptions options;
  SipCore *core = nullptr;
  if (CoreOptions(options) && plat::UdpPortTaken(options.sip_port)) {
    plat::Report("SIP port %d is taken by another program; running without "
                 "calls (choose another with SIP_port in the SIP section)",
                 options.sip_port);
    return;
  }
  if (!options.folder.empty()) {
    const SipCallbacks vtable{my_inv_recv,       my_auth_info_requested,
                              my_display_status, my_display_message,
                              my_busy_recv,      my_call_outcome};
    core = SipCoreNew(vtable, options);
  }
  if (core == nullptr) {
    plat::Report("no SIP core could be made; running without calls");
    return;
  }
  the_core = core;
  plat::Trace(plat::TRACE_CORE_UP);

  SipCoreSetCaptureDevice(core, DeviceName(core, Snd_capture).c_str());
  CopyDevice(Snd_capture, SipCoreCaptureDevice(core));
  SipCoreSetPlaybackDevice(core, DeviceName(core, Snd_playback).c_str());
  CopyDevice(Snd_playback, SipCorePlaybackDevice(core));

  Linphone_Thread.Start(core);

  SetPrimaryContact(core);
  if (!UseSIP)
    return;
  NewAuthInfo(core);
  NewProxyConfig(core);
}

void ReloadSipSettings() {
  SipCore *core = the_core;
  if (core == nullptr)
    return;
  ReadSipSettings();
  {
    std::lock_guard lock(SipAccountMutex);
    if (SIP_id[0] == '\0')
      std::snprintf(SIP_id, sizeof SIP_id, "%s", kDefaultSipId);
  }

  SetPrimaryContact(core);
  RetireAccount(core, false);
  if (UseSIP) {
    // The record follows the account here; at creation it comes first.
    NewProxyConfig(core);
    NewAuthInfo(core);
  }
  SipCoreSetPlaybackDevice(core, DeviceName(core, Snd_playback).c_str());
  SipCoreSetCaptureDevice(core, DeviceName(core, Snd_capture).c_str());
}

void QueryRegistration() {
  if (cfg != nullptr)
    SIP_reg = SipProxyConfigIsRegistered(cfg) ? 1 : 0;
}

std::string RegistrationFailureText() {
  if (cfg == nullptr)
    return {};
  int status = 0;
  switch (SipProxyConfigFailure(cfg, &status)) {
  case SipRegFailure::kNone:
    return {};
  case SipRegFailure::kCredentials:
    return "wrong name or password (401/403)";
  case SipRegFailure::kNoAnswer:
    return std::string("no answer from ") + SIP_addr;
  case SipRegFailure::kRefused:
    return "refused by " + std::string(SIP_addr) + " (SIP " +
           std::to_string(status) + ")";
  }
  return {};
}

int TakenSipPort() {
  const int port = ReadSipPort();
  return port > 0 && plat::UdpPortTaken(port) ? port : 0;
}

bool TeardownCore() {
  SipCore *core = the_core;
  if (core == nullptr)
    return false;
  // Nothing of what the core reports from here on is acted on: the window
  // thread is about to wait for the SIP thread, which must not wait for it.
  SipCoreDropEvents(core);
  RetireAccount(core, true);
  const bool inCall = SipCoreInCall(core);
  if (inCall)
    SipCoreTerminateCall(core);
  // The credentials dialog holds the SIP thread: it is closed as cancelled.
  CloseAuthenticationDialog();
  // A callback already under way that still waits (an error box the user
  // has not closed, a message to this thread) keeps the thread past the
  // limit; the core is then left to the process's end, as that callback may
  // still call it.
  const bool stopped = Linphone_Thread.Stop();
  the_core = nullptr;
  if (stopped) {
    FreeAccounts();
    SipCoreDestroy(core);
    info = nullptr;
    FreeRecords();
  } else
    plat::Report("the SIP thread did not stop in time; its core is left to "
                 "the end of the process");
  cfg = nullptr;
  CallRefs = {};
  // The core's own report of the ended call was dropped above: every
  // instance still showing it leaves the call now.
  if (inCall)
    SendCode(plat::HWND_BROADCAST, MSG_CALL_ENDED, 0);
  return true;
}

std::vector<std::string> SoundDevices() { return SipSoundDevices(); }
