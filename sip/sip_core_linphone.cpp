// The SIP calls of sip_core.h that make, drive and end a core and its
// calls, on liblinphone 5.1. Library types stay in the adapter's files
// (these, sip_account_linphone.cpp and sip_core_internal.h).
#include "sip/sip_core.h"

#include <linphone/core.h>
#include <linphone/factory.h>
#include <linphone/logging.h>

#include <cstdio>
#include <mutex>
#include <string>

#include "platform/trace.h"
#include "sip/sip_core_internal.h"

using namespace sip_adapter;

namespace {

constexpr char kCallTerminated[] = "Call terminated.";

} // namespace

namespace {

SipCore *Owner(LinphoneCore *lc) {
  return static_cast<SipCore *>(linphone_core_get_user_data(lc));
}

// Only timed for the benchmarks: the registration state is asked for when
// it is wanted.
void OnRegistration(LinphoneCore *, LinphoneProxyConfig *,
                    LinphoneRegistrationState state, const char *) {
  if (state == LinphoneRegistrationOk)
    plat::Trace(plat::TRACE_REGISTERED);
}

// Why a call placed here failed. A timeout or a transport error after the
// call rang is a ring nobody answered; before, nothing answered at all.
SipOutcome FailureOf(const SipCore &core, const LinphoneCall *call) {
  switch (linphone_call_get_reason(call)) {
  case LinphoneReasonBusy:
    return SipOutcome::kBusy;
  case LinphoneReasonDeclined:
    return SipOutcome::kDeclined;
  case LinphoneReasonNotFound:
    return SipOutcome::kNotFound;
  case LinphoneReasonTemporarilyUnavailable:
    return SipOutcome::kNoAnswer;
  case LinphoneReasonNotAnswered:
  case LinphoneReasonNoResponse:
  case LinphoneReasonIOError:
    return core.rang.count(call) ? SipOutcome::kNoAnswer
                                 : SipOutcome::kNoConnection;
  default:
    return SipOutcome::kFailed;
  }
}

// The failure of a call, as display_message reports it; for a call placed
// here, how it failed first.
void QueueFailure(SipCore *core, LinphoneCall *call, SipCallId id,
                  const char *message) {
  if (linphone_call_get_dir(call) == LinphoneCallOutgoing) {
    Event outcome{Event::kOutcome, {}, {}, id};
    outcome.outcome = FailureOf(*core, call);
    core->Queue(std::move(outcome));
  }
  core->Queue(Event::kMessage, id, Text(message));
}

std::string AddressText(const LinphoneAddress *address) {
  char *text = address ? linphone_address_as_string(address) : nullptr;
  std::string result = Text(text);
  bctbx_free(text);
  return result;
}

void OnCallState(LinphoneCore *lc, LinphoneCall *call, LinphoneCallState state,
                 const char *message) {
  SipCore *core = Owner(lc);
  if (!core)
    return;
  if (state == LinphoneCallIncomingReceived ||
      state == LinphoneCallOutgoingInit) {
    if (core->ids.count(call) == 0)
      core->ids[call] = ++core->last_id;
  }
  const SipCallId id = core->IdOf(call);
  switch (state) {
  case LinphoneCallIncomingReceived:
    core->Queue(Event::kInvite, id,
                AddressText(linphone_call_get_remote_address(call)));
    break;
  case LinphoneCallOutgoingRinging:
  case LinphoneCallOutgoingEarlyMedia:
    core->rang.insert(call);
    break;
  case LinphoneCallConnected:
    if (linphone_call_get_dir(call) == LinphoneCallOutgoing) {
      Event answered{Event::kOutcome, {}, {}, id};
      answered.outcome = SipOutcome::kAnswered;
      core->Queue(std::move(answered));
    }
    break;
  case LinphoneCallError:
    core->failed.insert(call);
    QueueFailure(core, call, id, message);
    break;
  case LinphoneCallEnd: {
    if (core->failed.count(call))
      break;
    // An outgoing call that ends with a reason (declined, busy, not
    // answered) failed, unless this side ended it. An incoming call that
    // ends, whatever the reason (the caller gave up), is over: what rings
    // for it must stop.
    const bool failed = linphone_call_get_dir(call) == LinphoneCallOutgoing &&
                        linphone_call_get_reason(call) != LinphoneReasonNone &&
                        !core->ended_here.count(call);
    if (failed)
      QueueFailure(core, call, id, message);
    else
      core->Queue(Event::kStatus, id, kCallTerminated);
    break;
  }
  case LinphoneCallReleased:
    core->failed.erase(call);
    core->ended_here.erase(call);
    core->rang.erase(call);
    core->ids.erase(call);
    core->history_left = true;
    break;
  default:
    break;
  }
}

// The library turns away a caller while another call is on (the core's
// limit of one call) and leaves only this record of it.
void OnCallLog(LinphoneCore *lc, LinphoneCallLog *log) {
  SipCore *core = Owner(lc);
  if (!core)
    return;
  core->history_left = true;
  if (linphone_call_log_get_dir(log) != LinphoneCallIncoming ||
      linphone_call_log_get_status(log) != LinphoneCallEarlyAborted)
    return;
  const LinphoneErrorInfo *error = linphone_call_log_get_error_info(log);
  if (error == nullptr ||
      linphone_error_info_get_reason(error) != LinphoneReasonBusy)
    return;
  core->Queue(
      Event{Event::kBusy,
            AddressText(linphone_call_log_get_from_address(log)),
            {},
            0,
            static_cast<std::int64_t>(linphone_call_log_get_start_date(log))});
}

void OnAuthRequested(LinphoneCore *lc, LinphoneAuthInfo *info,
                     LinphoneAuthMethod) {
  if (SipCore *core = Owner(lc))
    core->Queue(Event::kAuth, 0, Text(linphone_auth_info_get_realm(info)),
                Text(linphone_auth_info_get_username(info)));
}

// Settings that keep the core on what it is told: no STUN, no lookups of
// its own, no account or friend list of the library's defaults, no media
// but audio.
//
// The library reads its settings when the core is made, so these go into
// the configuration it is made with. Without them its network monitor
// asks every few seconds for the route to a public address of the
// library's makers (no datagram goes out, but the question does).
void KeepToItself(LinphoneConfig *config) {
  linphone_config_set_int(config, "sip", "auto_net_state_mon", 0);
  linphone_config_set_int(config, "sip", "ping_with_options", 0);
  linphone_config_set_int(config, "sip", "guess_hostname", 0);
  // Switched off after the start, IPv6 makes the library ask for its
  // routes; without the migration mark it drops the setting unread.
  linphone_config_set_int(config, "sip", "ipv6_migration_done", 1);
  linphone_config_set_int(config, "sip", "use_ipv6", 0);
  linphone_config_set_int(config, "net", "friendlist_subscription_enabled", 0);
  linphone_config_set_int(
      config, "misc", "enable_basic_to_client_group_chat_room_migration", 0);
  linphone_config_set_string(config, "misc", "version_check_url_root", nullptr);
  linphone_config_set_string(config, "misc", "config-uri", nullptr);
  linphone_config_set_string(config, "sip", "rls_uri", nullptr);
}

// The audio codecs offered and accepted, in this order: what door units
// speak first (G.711 in both laws, G.722), then opus and the few others
// door units have. The library leaves G.722 off by default, and a door unit
// that offers only codecs the core has off is refused (488) before anyone
// hears it ring. The rest of what the library carries (wide-band PCM, the
// ATM packings of G.726) stays off.
constexpr const char *kAudioCodecs[] = {
    "PCMU/8000",    "PCMA/8000",    "G722/8000",    "opus/48000",
    "G729/8000",    "G726-32/8000", "G726-24/8000", "G726-40/8000",
    "G726-16/8000", "GSM/8000",     "speex/16000",  "speex/8000"};

void OfferDoorUnitCodecs(LinphoneCore *lc) {
  bctbx_list_t *carried = linphone_core_get_audio_payload_types(lc);
  auto named = [](const LinphonePayloadType *pt, const char *codec) {
    const std::string name =
        Text(linphone_payload_type_get_mime_type(pt)) + "/" +
        std::to_string(linphone_payload_type_get_clock_rate(pt));
    return name == codec;
  };
  bctbx_list_t *ordered = nullptr;
  for (const char *codec : kAudioCodecs)
    for (bctbx_list_t *it = carried; it; it = bctbx_list_next(it)) {
      auto *pt = static_cast<LinphonePayloadType *>(bctbx_list_get_data(it));
      if (named(pt, codec) && linphone_payload_type_is_usable(pt)) {
        linphone_payload_type_enable(pt, TRUE);
        ordered = bctbx_list_append(ordered, pt);
      }
    }
  for (bctbx_list_t *it = carried; it; it = bctbx_list_next(it)) {
    auto *pt = static_cast<LinphonePayloadType *>(bctbx_list_get_data(it));
    if (!bctbx_list_find(ordered, pt)) {
      linphone_payload_type_enable(pt, FALSE);
      ordered = bctbx_list_append(ordered, pt);
    }
  }
  linphone_core_set_audio_payload_types(lc, ordered);
  bctbx_list_free(ordered);
  bctbx_list_free_with_data(carried, reinterpret_cast<bctbx_list_free_func>(
                                         linphone_payload_type_unref));
}

// What each side says reaches the other as it was said, and nothing else
// plays. The door unit cancels its own echo; the library's canceller here
// has no echo path to learn (a headset, or the PC's speaker away from its
// microphone): it cut the user's voice by 10 to 20 dB, by more while the
// visitor talked, and kept the visitor silent for the first seconds of a
// call. The library's own tones (a call ended, a call lost, a call
// waiting) played after every call, some 10 dB louder than the ring.
void SpeakPlainly(LinphoneCore *lc) {
  linphone_core_enable_echo_cancellation(lc, FALSE);
  linphone_core_enable_echo_limiter(lc, FALSE);
  linphone_config_set_int(linphone_core_get_config(lc), "sound",
                          "tone_indications", 0);
}

} // namespace

SipCore *SipCoreNew(const SipCallbacks &callbacks,
                    const SipCoreOptions &options) {
  std::string folder = options.folder;
  if (folder.empty() || folder.back() != '/')
    folder += '/';
  // The factory's folders are the process's: one new core at a time, and
  // none iterating meanwhile.
  std::lock_guard guard(ProcessLock());
  LinphoneFactory *factory = linphone_factory_get();
  // The library's chatter (warnings about the loopback-only network, the
  // missing sound card of a headless machine) is no news to the user.
  linphone_logging_service_set_log_level(linphone_logging_service_get(),
                                         LinphoneLogLevelFatal);
  linphone_factory_set_data_dir(factory, folder.c_str());
  linphone_factory_set_config_dir(factory, folder.c_str());
  linphone_factory_set_download_dir(factory, folder.c_str());
  // The library's own configuration stays in memory: what it would keep in
  // a file (an account that never registered, with its password) came back
  // at the next start, whatever the settings said. A file left by an
  // earlier version goes, password and all.
  std::remove((folder + "linphonerc").c_str());

  LinphoneConfig *config = linphone_factory_create_config(factory, nullptr);
  if (!config)
    return nullptr;
  KeepToItself(config);
  // No other thread knows the core until it is returned: no lock yet.
  LinphoneCore *lc =
      linphone_factory_create_core_with_config_3(factory, config, nullptr);
  linphone_config_unref(config);
  if (!lc)
    return nullptr;
  auto *core = new SipCore;
  core->callbacks = callbacks;
  core->lc = lc;
  linphone_core_set_user_data(lc, core);
  LinphoneCoreCbs *cbs = linphone_factory_create_core_cbs(factory);
  linphone_core_cbs_set_call_state_changed(cbs, OnCallState);
  linphone_core_cbs_set_registration_state_changed(cbs, OnRegistration);
  linphone_core_cbs_set_authentication_requested(cbs, OnAuthRequested);
  linphone_core_cbs_set_call_log_updated(cbs, OnCallLog);
  linphone_core_add_callbacks(lc, cbs);
  linphone_core_cbs_unref(cbs);

  // Also told directly, as the library keeps its own copy once started.
  linphone_core_set_guess_hostname(lc, FALSE);
  // One call at a time: the library itself answers every further INVITE
  // with 486 Busy Here before it becomes a call (no ring, no dialog, and the
  // call that is on stays as it is), and places no call beside it.
  linphone_core_set_max_calls(lc, 1);
  OfferDoorUnitCodecs(lc);
  SpeakPlainly(lc);
  // Set or cleared, whatever the library held before.
  core->bind_address = options.bind_address;
  const char *bind =
      options.bind_address.empty() ? nullptr : options.bind_address.c_str();
  LinphoneConfig *live = linphone_core_get_config(lc);
  linphone_config_set_string(live, "sip", "bind_address", bind);
  linphone_config_set_string(live, "rtp", "bind_address", bind);
  linphone_core_set_stun_server(lc, nullptr);
  linphone_core_enable_ipv6(lc, FALSE);
  linphone_core_enable_dns_srv(lc, FALSE);
  linphone_core_enable_dns_search(lc, FALSE);
  linphone_core_enable_video_capture(lc, FALSE);
  linphone_core_enable_video_display(lc, FALSE);
  linphone_core_enable_video_preview(lc, FALSE);
  linphone_core_enable_self_view(lc, FALSE);
  linphone_core_set_use_files(lc, options.use_files);
  linphone_core_set_ring(lc, nullptr);
  linphone_core_set_ringback(lc, nullptr);
  linphone_core_set_play_file(lc, nullptr);
  linphone_core_set_record_file(lc, nullptr);
  linphone_core_set_audio_port(lc, options.audio_port > 0 ? options.audio_port
                                                          : -1);
  LinphoneTransports *transports = linphone_factory_create_transports(factory);
  linphone_transports_set_udp_port(transports, options.sip_port > 0
                                                   ? options.sip_port
                                                   : LC_SIP_TRANSPORT_RANDOM);
  linphone_transports_set_tcp_port(transports, LC_SIP_TRANSPORT_DISABLED);
  linphone_transports_set_tls_port(transports, LC_SIP_TRANSPORT_DISABLED);
  linphone_transports_set_dtls_port(transports, LC_SIP_TRANSPORT_DISABLED);
  const LinphoneStatus bound = linphone_core_set_transports(lc, transports);
  linphone_transports_unref(transports);

  if (bound != 0 || linphone_core_start(lc) != 0) {
    linphone_core_set_user_data(lc, nullptr);
    linphone_core_unref(lc);
    delete core;
    return nullptr;
  }
  linphone_core_set_network_reachable(lc, TRUE);
  return core;
}

void SipCoreDestroy(SipCore *core) {
  if (!core)
    return;
  {
    std::lock_guard guard(core->lock);
    linphone_core_stop(core->lc);
    linphone_core_set_user_data(core->lc, nullptr);
    linphone_core_unref(core->lc);
  }
  delete core;
}

void SipCoreIterate(SipCore *core) {
  core->lock.iterating.store(std::this_thread::get_id(),
                             std::memory_order_relaxed);
  std::lock_guard guard(core->lock);
  linphone_core_iterate(core->lc);
  // The library keeps a record of every call (in memory and in its history
  // database) for as long as the core lives; nothing here reads that
  // history, and a core that runs all day would grow with every ring.
  // Dropped once no call is left. Asked after a released call only: reading
  // the history while it is empty queries the database each time.
  if (core->history_left && linphone_core_get_calls_nb(core->lc) == 0) {
    linphone_core_clear_call_logs(core->lc);
    core->history_left = false;
  }
}

void SipCoreWait(SipCore *core, std::chrono::milliseconds period,
                 std::chrono::milliseconds quiet) {
  int port = 0;
  if (!core->after_datagram) {
    std::lock_guard guard(core->lock);
    bool busy = linphone_core_get_calls_nb(core->lc) > 0;
    for (const bctbx_list_t *it = linphone_core_get_proxy_config_list(core->lc);
         it && !busy; it = bctbx_list_next(it))
      busy = linphone_proxy_config_get_state(static_cast<LinphoneProxyConfig *>(
                 bctbx_list_get_data(it))) == LinphoneRegistrationProgress;
    if (!busy) {
      LinphoneTransports *used = linphone_core_get_transports_used(core->lc);
      port = linphone_transports_get_udp_port(used);
      linphone_transports_unref(used);
    }
  }
  // A datagram the library left unread would end every wait at once: the
  // round after one waits the plain period.
  const bool watch = port > 0 && core->wait.Watch(port);
  core->after_datagram = core->wait.Wait(watch ? quiet : period, watch);
}

void SipCoreWake(SipCore *core) { core->wait.Wake(); }

void SipCoreDropEvents(SipCore *core) {
  std::lock_guard guard(core->events_lock);
  core->dropping = true;
  core->events.clear();
}

void SipCoreDispatch(SipCore *core) {
  for (;;) {
    Event event;
    {
      std::lock_guard guard(core->events_lock);
      if (core->events.empty())
        return;
      event = std::move(core->events.front());
      core->events.pop_front();
    }
    const SipCallbacks &cb = core->callbacks;
    switch (event.kind) {
    case Event::kInvite:
      if (cb.inv_recv)
        cb.inv_recv(core, event.call, event.first.c_str());
      break;
    case Event::kAuth:
      if (cb.auth_info_requested)
        cb.auth_info_requested(core, event.first.c_str(), event.second.c_str());
      break;
    case Event::kStatus:
      if (cb.display_status)
        cb.display_status(core, event.call, event.first.c_str());
      break;
    case Event::kMessage:
      if (cb.display_message)
        cb.display_message(core, event.call, event.first.c_str());
      break;
    case Event::kBusy:
      if (cb.busy_recv)
        cb.busy_recv(core, event.first.c_str(), event.when);
      break;
    case Event::kOutcome:
      if (cb.call_outcome)
        cb.call_outcome(core, event.call, event.outcome);
      break;
    }
  }
}

int SipCoreSipPort(SipCore *core) {
  std::lock_guard guard(core->lock);
  LinphoneTransports *used = linphone_core_get_transports_used(core->lc);
  const int port = linphone_transports_get_udp_port(used);
  linphone_transports_unref(used);
  return port;
}

namespace {

LinphoneCall *RingingCall(LinphoneCore *lc) {
  for (const bctbx_list_t *it = linphone_core_get_calls(lc); it;
       it = bctbx_list_next(it)) {
    auto *call = static_cast<LinphoneCall *>(bctbx_list_get_data(it));
    const LinphoneCallState state = linphone_call_get_state(call);
    if (state == LinphoneCallIncomingReceived ||
        state == LinphoneCallIncomingEarlyMedia)
      return call;
  }
  return nullptr;
}

} // namespace

int SipCoreAcceptCall(SipCore *core) {
  std::lock_guard guard(core->lock);
  LinphoneCall *call = RingingCall(core->lc);
  return call ? linphone_call_accept(call) : -1;
}

int SipCoreAcceptCall(SipCore *core, SipCallId id) {
  std::lock_guard guard(core->lock);
  LinphoneCall *call = RingingCall(core->lc);
  if (call == nullptr || id == 0 || core->IdOf(call) != id)
    return -1;
  return linphone_call_accept(call);
}

SipCallId SipCoreCurrentCall(SipCore *core) {
  std::lock_guard guard(core->lock);
  for (const bctbx_list_t *it = linphone_core_get_calls(core->lc); it;
       it = bctbx_list_next(it)) {
    auto *call = static_cast<LinphoneCall *>(bctbx_list_get_data(it));
    const LinphoneCallState state = linphone_call_get_state(call);
    if (state != LinphoneCallEnd && state != LinphoneCallError &&
        state != LinphoneCallReleased)
      return core->IdOf(call);
  }
  return 0;
}

int SipCoreInvite(SipCore *core, const char *url) {
  if (!url)
    return -1;
  std::lock_guard guard(core->lock);
  LinphoneAddress *address = linphone_core_interpret_url(core->lc, url);
  if (!address)
    return -1;
  LinphoneCall *call = linphone_core_invite_address(core->lc, address);
  linphone_address_unref(address);
  return call ? 0 : -1;
}

int SipCoreTerminateCall(SipCore *core) {
  std::lock_guard guard(core->lock);
  const bctbx_list_t *calls = linphone_core_get_calls(core->lc);
  if (!calls)
    return -1;
  for (const bctbx_list_t *it = calls; it; it = bctbx_list_next(it))
    core->ended_here.insert(
        static_cast<LinphoneCall *>(bctbx_list_get_data(it)));
  return linphone_core_terminate_all_calls(core->lc);
}

int SipCoreTerminateCall(SipCore *core, SipCallId id) {
  std::lock_guard guard(core->lock);
  for (const bctbx_list_t *it = linphone_core_get_calls(core->lc); it;
       it = bctbx_list_next(it)) {
    auto *call = static_cast<LinphoneCall *>(bctbx_list_get_data(it));
    if (id == 0 || core->IdOf(call) != id)
      continue;
    const LinphoneCallState state = linphone_call_get_state(call);
    if (state == LinphoneCallEnd || state == LinphoneCallError ||
        state == LinphoneCallReleased)
      return -1;
    core->ended_here.insert(call);
    return linphone_call_terminate(call);
  }
  return -1;
}

int SipCoreInCall(SipCore *core) {
  std::lock_guard guard(core->lock);
  return linphone_core_in_call(core->lc) ? 1 : 0;
}
