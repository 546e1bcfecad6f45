#include "instance/protocol.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "instance/identity.h"
#include "instance/settings.h"
#include "platform/message_space.h"

plat::LPARAM OwnHandle() { return plat::HandleValue(g_hwndMain); }

plat::LRESULT SendCode(plat::HWND to, plat::WPARAM code, plat::LPARAM lParam) {
  return plat::SendMessage(to, MESSAGE, code, lParam);
}

bool PostCode(plat::HWND to, plat::WPARAM code, plat::LPARAM lParam) {
  return plat::PostMessage(to, MESSAGE, code, lParam);
}

void SendBlock(plat::HWND to, std::uintptr_t kind, const void *data,
               std::uint32_t size) {
  plat::COPYDATASTRUCT cds{kind, size, data};
  plat::SendMessage(to, plat::WM_COPYDATA,
                    static_cast<plat::WPARAM>(OwnHandle()),
                    reinterpret_cast<plat::LPARAM>(&cds));
}

void BlockText(const plat::COPYDATASTRUCT &block, char *out, std::size_t size) {
  if (size == 0)
    return;
  const char *data = static_cast<const char *>(block.lpData);
  const std::size_t limit =
      data == nullptr ? 0 : std::min<std::size_t>(block.cbData, size - 1);
  std::size_t n = 0;
  while (n < limit && data[n] != '\0')
    ++n;
  if (n > 0)
    std::memcpy(out, data, n);
  out[n] = '\0';
}

void FormSipDoorId(char (&out)[kSipIdentitySize]) {
  std::memset(out, ' ', sizeof out);
  std::snprintf(out, sizeof out, "%s%s", SIP_call_prefix, SIP_id_doorphone);
}

void ReportDoorId(plat::HWND coreOwner) {
  if (UseSIP) {
    char id[kSipIdentitySize];
    FormSipDoorId(id);
    SendBlock(coreOwner, COPYDATA_DOOR_ID, id, sizeof id);
  } else {
    char ip[kIpIdentitySize] = {};
    IP_addr.CopyTo(ip, sizeof ip);
    SendBlock(coreOwner, COPYDATA_DOOR_ID, ip, sizeof ip);
  }
}
