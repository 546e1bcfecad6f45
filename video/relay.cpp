// The door unit's two relays: one request each, sent and forgotten.
#include <chrono>
#include <cstdio>
#include <thread>

#include "instance/identity.h"
#include "instance/settings.h"
#include "platform/http.h"
#include "skin/skin.h"
#include "video/video.h"

using namespace plat;

namespace {

// Relay threads still running, and whether they are asked to give up
// (shutdown frees what they paint with).
std::atomic<int> g_relayThreads{0};
std::atomic<bool> g_relayStop{false};

// The door unit did not answer: the video counts as lost, and the run that
// holds it, or one just starting, ends so that a new connection is made.
void VideoLost() { RequestReconnect(); }

} // namespace

void relay(int rele) {
  HINTERNET hConnect = nullptr;
  HINTERNET hSession = InternetOpen(kAppTitle);
  if (hSession == nullptr)
    VideoLost();

  char ip[64];
  IP_addr.CopyTo(ip, sizeof ip);
  // An address that is not host[:port] builds no URL, and the request fails
  // as one to an unreachable door unit does.
  char url[64 + 40] = "";
  if (rele == 1 || rele == 2)
    FormDoorUrl(ip,
                rele == 1 ? "/cgi-bin/remctrl.sh?id=relay1"
                          : "/cgi-bin/remctrl.sh?id=relay2",
                url, sizeof url);

  if (hSession != nullptr) {
    hConnect =
        InternetOpenUrl(hSession, url, [] { return g_relayStop.load(); });
    if (hConnect == nullptr) {
      InternetCloseHandle(hSession);
      hSession = nullptr;
      VideoLost();
    }
  }
  // Lost, or already not connected: show it at once.
  if (ShowData.Kill_TCP && !g_relayStop)
    ShowMyWindow(g_hwndMain, ShowData);
  if (hConnect != nullptr)
    InternetCloseHandle(hConnect);
  if (hSession != nullptr)
    InternetCloseHandle(hSession);
}

void StartRelayThread(int rele) {
  ++g_relayThreads;
  std::thread([rele] {
    relay(rele);
    --g_relayThreads;
  }).detach();
}

bool StopRelayThreads(unsigned ms) {
  g_relayStop = true;
  const auto until =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (g_relayThreads > 0 && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return g_relayThreads == 0;
}
