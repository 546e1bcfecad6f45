// The SIP user agent of the simulator, straight on liblinphone (not through
// the program's adapter, so tests meet an independent peer).
#include "sim_sip.h"

#include <linphone/core.h>
#include <linphone/factory.h>
#include <linphone/logging.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <strings.h>
#include <thread>

#include "sim_state.h"

namespace {

enum class Answer { kOff, kAccept, kDecline };

// Everything below is guarded by g_sip_mutex, except the counters.
std::recursive_mutex g_sip_mutex;
LinphoneCore *g_core = nullptr;
std::string g_folder;
std::thread g_iterator;
std::atomic<bool> g_sip_stop{false};
Answer g_answer = Answer::kOff;
int g_answer_delay_ms = 0;
int g_decline_code = 603;
std::string g_state = "idle";
std::string g_last_caller;
LinphoneProxyConfig *g_account = nullptr;
// An incoming call waiting for its automatic answer, and when.
LinphoneCall *g_pending = nullptr;
Clock::time_point g_answer_at;
std::atomic<unsigned long> g_incoming{0}, g_answered{0}, g_ended{0};
// The audio codecs the library enabled at start, for "sip-codec default".
std::vector<std::string> g_default_codecs;

std::string Text(const char *text) { return text ? text : ""; }

// The reason whose SIP answer is `code`, for the codes a declining door
// unit may give; none for another.
LinphoneReason DeclineReason(int code) {
  switch (code) {
  case 404:
    return LinphoneReasonNotFound;
  case 480:
    return LinphoneReasonTemporarilyUnavailable;
  case 486:
    return LinphoneReasonBusy;
  case 603:
    return LinphoneReasonDeclined;
  default:
    return LinphoneReasonNone;
  }
}

// "PCMU/8000", as the library names a codec.
std::string CodecName(const LinphonePayloadType *pt) {
  return Text(linphone_payload_type_get_mime_type(pt)) + "/" +
         std::to_string(linphone_payload_type_get_clock_rate(pt));
}

// Whether `wanted` names the codec: its MIME type alone (any case), or its
// MIME type and clock rate.
bool CodecNamed(const LinphonePayloadType *pt, const std::string &wanted) {
  const std::string mime = Text(linphone_payload_type_get_mime_type(pt));
  return strcasecmp(wanted.c_str(), mime.c_str()) == 0 ||
         strcasecmp(wanted.c_str(), CodecName(pt).c_str()) == 0;
}

template <typename F> void ForEachCodec(F f) {
  bctbx_list_t *types = linphone_core_get_audio_payload_types(g_core);
  for (bctbx_list_t *it = types; it; it = bctbx_list_next(it))
    f(static_cast<LinphonePayloadType *>(bctbx_list_get_data(it)));
  bctbx_list_free_with_data(types, reinterpret_cast<bctbx_list_free_func>(
                                       linphone_payload_type_unref));
}

// Offers and accepts only the codecs `keep` says yes to.
template <typename Keep> void EnableCodecs(Keep keep) {
  ForEachCodec([&](LinphonePayloadType *pt) {
    linphone_payload_type_enable(pt, keep(pt));
  });
}

// The device of the list whose name is `name` or ends in ": name" (the
// library prefixes the sound system's name).
std::string SoundDevice(const std::string &name) {
  std::string found;
  bctbx_list_t *list = linphone_core_get_sound_devices_list(g_core);
  for (bctbx_list_t *it = list; it && found.empty(); it = bctbx_list_next(it)) {
    const std::string device =
        static_cast<const char *>(bctbx_list_get_data(it));
    const std::string suffix = ": " + name;
    if (device == name || (device.size() > suffix.size() &&
                           device.compare(device.size() - suffix.size(),
                                          suffix.size(), suffix) == 0))
      found = device;
  }
  bctbx_list_free(list);
  return found;
}

std::string StateName(LinphoneCallState state) {
  switch (state) {
  case LinphoneCallIncomingReceived:
  case LinphoneCallIncomingEarlyMedia:
    return "ringing";
  case LinphoneCallOutgoingInit:
  case LinphoneCallOutgoingProgress:
  case LinphoneCallOutgoingRinging:
  case LinphoneCallOutgoingEarlyMedia:
    return "calling";
  case LinphoneCallConnected:
  case LinphoneCallStreamsRunning:
  case LinphoneCallUpdatedByRemote:
  case LinphoneCallUpdating:
    return "in call";
  case LinphoneCallEnd:
  case LinphoneCallError:
  case LinphoneCallReleased:
    return "ended";
  default:
    return "";
  }
}

void OnCallState(LinphoneCore *, LinphoneCall *call, LinphoneCallState state,
                 const char *message) {
  char *peer =
      linphone_address_as_string(linphone_call_get_remote_address(call));
  Log("sip call " + Text(linphone_call_state_to_string(state)) + " (" +
      Text(message) + ") peer " + Text(peer));
  const std::string name = StateName(state);
  if (!name.empty() && state != LinphoneCallReleased)
    g_state = name;
  if (state == LinphoneCallIncomingReceived) {
    ++g_incoming;
    g_last_caller = Text(peer);
    if (g_answer == Answer::kDecline) {
      linphone_call_decline(call, DeclineReason(g_decline_code));
    } else if (g_answer == Answer::kAccept) {
      g_pending = linphone_call_ref(call);
      g_answer_at = Clock::now() + std::chrono::milliseconds(g_answer_delay_ms);
    }
  } else if (state == LinphoneCallConnected) {
    ++g_answered;
  } else if (state == LinphoneCallStreamsRunning) {
    const LinphonePayloadType *pt =
        linphone_call_params_get_used_audio_payload_type(
            linphone_call_get_current_params(call));
    if (pt)
      Log("sip audio codec " + CodecName(pt));
  } else if (state == LinphoneCallEnd || state == LinphoneCallError) {
    ++g_ended;
    if (g_pending == call) {
      linphone_call_unref(g_pending);
      g_pending = nullptr;
    }
  }
  bctbx_free(peer);
}

void OnRegistration(LinphoneCore *, LinphoneProxyConfig *,
                    LinphoneRegistrationState state, const char *message) {
  Log("sip registration " + Text(linphone_registration_state_to_string(state)) +
      " (" + Text(message) + ")");
}

void Iterate() {
  while (!g_sip_stop) {
    {
      std::lock_guard guard(g_sip_mutex);
      linphone_core_iterate(g_core);
      if (g_pending && Clock::now() >= g_answer_at) {
        linphone_call_accept(g_pending);
        linphone_call_unref(g_pending);
        g_pending = nullptr;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

} // namespace

bool StartSip(const std::string &host, int port) {
  char folder[] = "/tmp/doorsim-sip-XXXXXX";
  if (!mkdtemp(folder))
    return false;
  g_folder = std::string(folder) + "/";
  LinphoneFactory *factory = linphone_factory_get();
  linphone_logging_service_set_log_level(linphone_logging_service_get(),
                                         LinphoneLogLevelFatal);
  linphone_factory_set_data_dir(factory, g_folder.c_str());
  linphone_factory_set_config_dir(factory, g_folder.c_str());
  linphone_factory_set_download_dir(factory, g_folder.c_str());
  std::lock_guard guard(g_sip_mutex);
  g_core = linphone_factory_create_core_3(
      factory, (g_folder + "linphonerc").c_str(), nullptr, nullptr);
  if (!g_core)
    return false;
  LinphoneCoreCbs *cbs = linphone_factory_create_core_cbs(factory);
  linphone_core_cbs_set_call_state_changed(cbs, OnCallState);
  linphone_core_cbs_set_registration_state_changed(cbs, OnRegistration);
  linphone_core_add_callbacks(g_core, cbs);
  linphone_core_cbs_unref(cbs);
  LinphoneConfig *config = linphone_core_get_config(g_core);
  linphone_config_set_int(config, "sip", "auto_net_state_mon", 0);
  linphone_config_set_int(config, "sip", "guess_hostname", 0);
  // Signalling and media on the given address only, as a door unit on its
  // own network address does.
  linphone_config_set_string(config, "sip", "bind_address", host.c_str());
  linphone_config_set_string(config, "rtp", "bind_address", host.c_str());
  linphone_config_set_int(config, "net", "friendlist_subscription_enabled", 0);
  linphone_core_set_stun_server(g_core, nullptr);
  linphone_core_enable_ipv6(g_core, FALSE);
  linphone_core_enable_dns_srv(g_core, FALSE);
  linphone_core_enable_dns_search(g_core, FALSE);
  linphone_core_enable_video_capture(g_core, FALSE);
  linphone_core_enable_video_display(g_core, FALSE);
  linphone_core_enable_video_preview(g_core, FALSE);
  linphone_core_set_use_files(g_core, TRUE);
  linphone_core_set_ring(g_core, nullptr);
  linphone_core_set_ringback(g_core, nullptr);
  linphone_core_set_play_file(g_core, nullptr);
  linphone_core_set_audio_port(g_core, -1);
  // A door unit cancels its own echo; here there is no acoustic path, and a
  // canceller would only bend the levels a test reads.
  linphone_core_enable_echo_cancellation(g_core, FALSE);
  linphone_core_enable_echo_limiter(g_core, FALSE);
  // The door unit's own address is its host part, as a real one sends;
  // the core would otherwise put the address it guesses in its place.
  linphone_core_set_guess_hostname(g_core, FALSE);
  linphone_core_set_primary_contact(g_core, ("sip:door@" + host).c_str());
  LinphoneTransports *transports = linphone_factory_create_transports(factory);
  linphone_transports_set_udp_port(transports,
                                   port > 0 ? port : LC_SIP_TRANSPORT_RANDOM);
  linphone_transports_set_tcp_port(transports, LC_SIP_TRANSPORT_DISABLED);
  linphone_transports_set_tls_port(transports, LC_SIP_TRANSPORT_DISABLED);
  const LinphoneStatus bound = linphone_core_set_transports(g_core, transports);
  linphone_transports_unref(transports);
  if (bound != 0 || linphone_core_start(g_core) != 0) {
    linphone_core_unref(g_core);
    g_core = nullptr;
    return false;
  }
  linphone_core_set_network_reachable(g_core, TRUE);
  ForEachCodec([](LinphonePayloadType *pt) {
    if (linphone_payload_type_enabled(pt))
      g_default_codecs.push_back(CodecName(pt));
  });
  g_iterator = std::thread(Iterate);
  return true;
}

void StopSip() {
  if (!g_core)
    return;
  g_sip_stop = true;
  if (g_iterator.joinable())
    g_iterator.join();
  std::lock_guard guard(g_sip_mutex);
  if (g_pending)
    linphone_call_unref(g_pending);
  g_pending = nullptr;
  if (g_account)
    linphone_proxy_config_unref(g_account);
  g_account = nullptr;
  linphone_core_stop(g_core);
  linphone_core_unref(g_core);
  g_core = nullptr;
  std::error_code ignored;
  std::filesystem::remove_all(g_folder, ignored);
}

int SipPort() {
  std::lock_guard guard(g_sip_mutex);
  if (!g_core)
    return 0;
  LinphoneTransports *used = linphone_core_get_transports_used(g_core);
  const int port = linphone_transports_get_udp_port(used);
  linphone_transports_unref(used);
  return port;
}

bool IsSipCommand(const std::string &name) {
  return name == "ring-sip" || name == "hangup" || name == "sip-answer" ||
         name == "sip-register" || name == "sip-codec" || name == "sip-sound";
}

std::string RunSipCommand(const std::string &name,
                          const std::vector<std::string> &args) {
  auto arg = [&](std::size_t i) {
    return i < args.size() ? args[i] : std::string();
  };
  std::lock_guard guard(g_sip_mutex);
  if (!g_core)
    return "error: no SIP (start with --sip ADDR:PORT)";
  if (name == "ring-sip") {
    LinphoneAddress *to = linphone_core_interpret_url(g_core, arg(0).c_str());
    if (!to)
      return "error: ring-sip takes a SIP address, e.g. sip:pc@127.0.0.1:5060";
    LinphoneCall *call = linphone_core_invite_address(g_core, to);
    linphone_address_unref(to);
    return call ? "ok calling " + arg(0) : "error: the call cannot start";
  }
  if (name == "hangup") {
    if (linphone_core_get_calls_nb(g_core) == 0)
      return "ok no call";
    linphone_core_terminate_all_calls(g_core);
    return "ok hung up";
  }
  if (name == "sip-answer") {
    int number = 0;
    if (arg(0) == "off") {
      g_answer = Answer::kOff;
      return "ok sip-answer off";
    }
    if (arg(0) == "accept") {
      if (!arg(1).empty() && !ParseInt(arg(1), number, 0, 600000))
        return "error: sip-answer accept takes a delay in ms";
      g_answer = Answer::kAccept;
      g_answer_delay_ms = number;
      return "ok sip-answer accept " + std::to_string(number);
    }
    if (arg(0) == "decline") {
      number = 603;
      if (!arg(1).empty() && (!ParseInt(arg(1), number, 404, 603) ||
                              DeclineReason(number) == LinphoneReasonNone))
        return "error: sip-answer decline takes 404, 480, 486 or 603";
      g_answer = Answer::kDecline;
      g_decline_code = number;
      return "ok sip-answer decline " + std::to_string(number);
    }
    return "error: sip-answer takes off, accept [MS] or decline "
           "[404|480|486|603]";
  }
  if (name == "sip-codec") {
    const std::string wanted = arg(0);
    if (wanted == "default") {
      EnableCodecs([](const LinphonePayloadType *pt) {
        return std::find(g_default_codecs.begin(), g_default_codecs.end(),
                         CodecName(pt)) != g_default_codecs.end();
      });
      return "ok sip-codec default";
    }
    std::string known;
    bool found = false;
    ForEachCodec([&](LinphonePayloadType *pt) {
      known.append(" ").append(CodecName(pt));
      found = found || CodecNamed(pt, wanted);
    });
    if (!found)
      return "error: sip-codec takes default or one of" + known;
    EnableCodecs(
        [&](const LinphonePayloadType *pt) { return CodecNamed(pt, wanted); });
    return "ok sip-codec " + wanted;
  }
  if (name == "sip-sound") {
    if (args.size() != 2)
      return "error: sip-sound takes CAPTURE PLAYBACK (sound device names)";
    const std::string capture = SoundDevice(arg(0));
    const std::string playback = SoundDevice(arg(1));
    if (capture.empty() || playback.empty())
      return "error: no sound device named " +
             (capture.empty() ? arg(0) : arg(1));
    linphone_core_set_use_files(g_core, FALSE);
    linphone_core_set_capture_device(g_core, capture.c_str());
    linphone_core_set_playback_device(g_core, playback.c_str());
    return "ok sip-sound " + capture + " | " + playback;
  }
  if (name == "sip-register") {
    // USER PASSWORD HOST:PORT
    if (args.size() != 3)
      return "error: sip-register takes USER PASSWORD HOST:PORT";
    LinphoneAuthInfo *info = linphone_factory_create_auth_info(
        linphone_factory_get(), arg(0).c_str(), nullptr, arg(1).c_str(),
        nullptr, nullptr, nullptr);
    linphone_core_add_auth_info(g_core, info);
    linphone_auth_info_unref(info);
    if (g_account) {
      linphone_core_remove_proxy_config(g_core, g_account);
      linphone_proxy_config_unref(g_account);
    }
    g_account = linphone_core_create_proxy_config(g_core);
    LinphoneAddress *identity =
        linphone_address_new(("sip:" + arg(0) + "@" + arg(2)).c_str());
    const std::string server = "sip:" + arg(2);
    if (!identity ||
        linphone_proxy_config_set_identity_address(g_account, identity) != 0 ||
        linphone_proxy_config_set_server_addr(g_account, server.c_str()) != 0) {
      if (identity)
        linphone_address_unref(identity);
      linphone_proxy_config_unref(g_account);
      g_account = nullptr;
      return "error: sip-register takes USER PASSWORD HOST:PORT";
    }
    linphone_address_unref(identity);
    bctbx_list_t *routes = bctbx_list_append(nullptr, (void *)server.c_str());
    linphone_proxy_config_set_routes(g_account, routes);
    bctbx_list_free(routes);
    linphone_proxy_config_enable_publish(g_account, FALSE);
    linphone_proxy_config_enable_register(g_account, TRUE);
    linphone_core_add_proxy_config(g_core, g_account);
    linphone_core_set_default_proxy_config(g_core, g_account);
    return "ok registering " + arg(0) + " at " + arg(2);
  }
  return "error: unknown command " + name;
}

std::string SipStatusJson() {
  std::lock_guard guard(g_sip_mutex);
  if (!g_core)
    return "";
  LinphoneTransports *used = linphone_core_get_transports_used(g_core);
  const int port = linphone_transports_get_udp_port(used);
  linphone_transports_unref(used);
  const bool registered = g_account && linphone_proxy_config_get_state(
                                           g_account) == LinphoneRegistrationOk;
  std::string caller;
  for (unsigned char c : g_last_caller)
    if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\')
      caller += static_cast<char>(c);
  return "\"sip_port\":" + std::to_string(port) +
         ",\"sip_in_call\":" + std::to_string(g_state == "in call" ? 1 : 0) +
         ",\"sip_incoming\":" + std::to_string(g_incoming) +
         ",\"sip_answered\":" + std::to_string(g_answered) +
         ",\"sip_ended\":" + std::to_string(g_ended) +
         ",\"sip_registered\":" + std::to_string(registered ? 1 : 0) +
         ",\"sip_state\":\"" + g_state + "\",\"sip_last_caller\":\"" + caller +
         "\"";
}
