// The SIP calls of sip_core.h that concern what a core is set up with:
// its sound devices, its addresses, credentials and registrar accounts
// (liblinphone 5.1). Library types stay in the adapter's files.
#include "sip/sip_core.h"

#include <linphone/core.h>
#include <linphone/factory.h>
#include <mediastreamer2/msfactory.h>
#include <mediastreamer2/mssndcard.h>

#include <mutex>
#include <string>
#include <vector>

#include "sip/sip_core_internal.h"

using namespace sip_adapter;

std::vector<std::string> SipCoreSoundDevices(SipCore *core) {
  std::lock_guard guard(core->lock);
  std::vector<std::string> names;
  bctbx_list_t *list = linphone_core_get_sound_devices_list(core->lc);
  for (bctbx_list_t *it = list; it; it = bctbx_list_next(it))
    names.emplace_back(static_cast<const char *>(bctbx_list_get_data(it)));
  // The names are the cards' own (freed with them), whatever the library's
  // notes say: only the list is ours.
  bctbx_list_free(list);
  return names;
}

std::vector<std::string> SipSoundDevices() {
  // The core lists the cards of its media factory by their string ids; a
  // factory of our own, made the way the core makes its own (voice filters
  // and the installed plugins), finds the same cards without the SIP ports,
  // files and threads of a core.
  std::lock_guard guard(ProcessLock());
  std::vector<std::string> names;
  MSFactory *factory = ms_factory_new_with_voip();
  if (factory == nullptr)
    return names;
  MSSndCardManager *manager = ms_factory_get_snd_card_manager(factory);
  for (const bctbx_list_t *it = ms_snd_card_manager_get_list(manager); it;
       it = bctbx_list_next(it))
    names.emplace_back(ms_snd_card_get_string_id(
        static_cast<MSSndCard *>(bctbx_list_get_data(it))));
  ms_factory_destroy(factory);
  return names;
}

void SipCoreSetCaptureDevice(SipCore *core, const char *name) {
  std::lock_guard guard(core->lock);
  linphone_core_set_capture_device(core->lc, name);
}

void SipCoreSetPlaybackDevice(SipCore *core, const char *name) {
  std::lock_guard guard(core->lock);
  linphone_core_set_playback_device(core->lc, name);
}

std::string SipCoreCaptureDevice(SipCore *core) {
  std::lock_guard guard(core->lock);
  return Text(linphone_core_get_capture_device(core->lc));
}

std::string SipCorePlaybackDevice(SipCore *core) {
  std::lock_guard guard(core->lock);
  return Text(linphone_core_get_playback_device(core->lc));
}

void SipCoreSetPrimaryContact(SipCore *core, const char *contact) {
  std::lock_guard guard(core->lock);
  linphone_core_set_primary_contact(core->lc, contact);
}

void SipCoreSetMediaAddress(SipCore *core, const std::string &address) {
  std::lock_guard guard(core->lock);
  // Read by the library for every offer and answer, before its own guess:
  // that guess is the address of the default route, whatever the peer.
  const std::string &use = address.empty() ? core->bind_address : address;
  linphone_config_set_string(linphone_core_get_config(core->lc), "rtp",
                             "bind_address",
                             use.empty() ? nullptr : use.c_str());
}

SipAuthInfo *SipAuthInfoNew(const char *username, const char *userid,
                            const char *passwd, const char *ha1,
                            const char *realm) {
  std::lock_guard guard(ProcessLock());
  LinphoneAuthInfo *info = linphone_factory_create_auth_info(
      linphone_factory_get(), username, userid, passwd, ha1, realm, nullptr);
  return info ? new SipAuthInfo{info} : nullptr;
}

void SipAuthInfoSetPasswd(SipAuthInfo *info, const char *passwd) {
  if (!info)
    return;
  std::lock_guard guard(ProcessLock());
  linphone_auth_info_set_password(info->info, passwd);
}

void SipAuthInfoSetUsername(SipAuthInfo *info, const char *username) {
  if (!info)
    return;
  std::lock_guard guard(ProcessLock());
  linphone_auth_info_set_username(info->info, username);
}

void SipAuthInfoDestroy(SipAuthInfo *info) {
  if (!info)
    return;
  {
    std::lock_guard guard(ProcessLock());
    linphone_auth_info_unref(info->info);
  }
  delete info;
}

void SipCoreAddAuthInfo(SipCore *core, const SipAuthInfo *info) {
  if (!info)
    return;
  std::lock_guard guard(core->lock);
  // The library keeps an older record of the same user and realm ahead of
  // the new one and goes on answering with it: a corrected password would
  // never be used, and the user asked again and again.
  const char *realm = linphone_auth_info_get_realm(info->info);
  const char *username = linphone_auth_info_get_username(info->info);
  const char *domain = linphone_auth_info_get_domain(info->info);
  for (int guard_count = 0; guard_count < 16; ++guard_count) {
    const LinphoneAuthInfo *old =
        linphone_core_find_auth_info(core->lc, realm, username, domain);
    if (!old)
      break;
    linphone_core_remove_auth_info(core->lc, old);
  }
  linphone_core_add_auth_info(core->lc, info->info);
}

void SipCoreRemoveAuthInfo(SipCore *core, const SipAuthInfo *info) {
  if (!info)
    return;
  std::lock_guard guard(core->lock);
  linphone_core_remove_auth_info(core->lc, info->info);
}

void SipCoreAbortAuthentication(SipCore *core, SipAuthInfo *info) {
  std::lock_guard guard(core->lock);
  linphone_core_abort_authentication(core->lc, info ? info->info : nullptr);
}

SipProxyConfig *SipProxyConfigNew(SipCore *core) {
  std::lock_guard guard(core->lock);
  LinphoneProxyConfig *cfg = linphone_core_create_proxy_config(core->lc);
  if (!cfg)
    return nullptr;
  // The library's defaults would publish presence and push its own
  // parameters; an account here only registers.
  linphone_proxy_config_enable_publish(cfg, FALSE);
  return new SipProxyConfig{core, cfg};
}

int SipProxyConfigSetIdentity(SipProxyConfig *cfg, const char *identity) {
  std::lock_guard guard(cfg->core->lock);
  LinphoneAddress *address =
      identity ? linphone_address_new(identity) : nullptr;
  if (!address)
    return -1;
  const int result =
      linphone_proxy_config_set_identity_address(cfg->cfg, address);
  linphone_address_unref(address);
  return result;
}

int SipProxyConfigSetServerAddr(SipProxyConfig *cfg, const char *server) {
  std::lock_guard guard(cfg->core->lock);
  if (linphone_proxy_config_set_server_addr(cfg->cfg, server) != 0)
    return -1;
  // The registrar is also the outbound proxy: a target in its domain is
  // reached through it, never through a name lookup.
  bctbx_list_t *routes = bctbx_list_append(nullptr, (void *)server);
  const int result = linphone_proxy_config_set_routes(cfg->cfg, routes);
  bctbx_list_free(routes);
  return result;
}

void SipProxyConfigExpires(SipProxyConfig *cfg, int seconds) {
  std::lock_guard guard(cfg->core->lock);
  linphone_proxy_config_set_expires(cfg->cfg, seconds);
}

void SipProxyConfigEnableRegister(SipProxyConfig *cfg, bool enable) {
  std::lock_guard guard(cfg->core->lock);
  linphone_proxy_config_enable_register(cfg->cfg, enable);
}

int SipCoreAddProxyConfig(SipCore *core, SipProxyConfig *cfg) {
  if (!cfg)
    return -1;
  std::lock_guard guard(core->lock);
  return linphone_core_add_proxy_config(core->lc, cfg->cfg) == 0 ? 0 : -1;
}

void SipCoreSetDefaultProxy(SipCore *core, SipProxyConfig *cfg) {
  std::lock_guard guard(core->lock);
  linphone_core_set_default_proxy_config(core->lc, cfg ? cfg->cfg : nullptr);
}

int SipProxyConfigIsRegistered(SipProxyConfig *cfg) {
  std::lock_guard guard(cfg->core->lock);
  return linphone_proxy_config_get_state(cfg->cfg) == LinphoneRegistrationOk
             ? 1
             : 0;
}

int SipProxyConfigIsBusy(SipProxyConfig *cfg) {
  std::lock_guard guard(cfg->core->lock);
  switch (linphone_proxy_config_get_state(cfg->cfg)) {
  case LinphoneRegistrationOk:
  case LinphoneRegistrationProgress:
    return 1;
  default:
    return 0;
  }
}

SipRegFailure SipProxyConfigFailure(SipProxyConfig *cfg, int *status) {
  std::lock_guard guard(cfg->core->lock);
  if (status != nullptr)
    *status = 0;
  if (linphone_proxy_config_get_state(cfg->cfg) == LinphoneRegistrationOk)
    return SipRegFailure::kNone;
  // The last answer to the account's REGISTER, kept through the retries.
  const LinphoneErrorInfo *error =
      linphone_proxy_config_get_error_info(cfg->cfg);
  const int code = error ? linphone_error_info_get_protocol_code(error) : 0;
  const LinphoneReason reason =
      error ? linphone_error_info_get_reason(error) : LinphoneReasonNone;
  if (code == 401 || code == 403 || code == 407)
    return SipRegFailure::kCredentials;
  if (code < 300 || code == 408 || reason == LinphoneReasonIOError ||
      reason == LinphoneReasonNoResponse || reason == LinphoneReasonNotAnswered)
    return SipRegFailure::kNoAnswer;
  if (status != nullptr)
    *status = code;
  return SipRegFailure::kRefused;
}

void SipCoreRemoveProxyConfig(SipCore *core, SipProxyConfig *cfg) {
  if (!cfg)
    return;
  std::lock_guard guard(core->lock);
  linphone_core_remove_proxy_config(core->lc, cfg->cfg);
}

void SipProxyConfigDestroy(SipProxyConfig *cfg) {
  if (!cfg)
    return;
  {
    std::lock_guard guard(cfg->core->lock);
    linphone_proxy_config_unref(cfg->cfg);
  }
  delete cfg;
}

int SipCoreProxyConfigCount(SipCore *core) {
  std::lock_guard guard(core->lock);
  return static_cast<int>(
      bctbx_list_size(linphone_core_get_proxy_config_list(core->lc)));
}
