// The HTTP client on libcurl: one easy handle per request, driven through
// its own multi handle so that the caller can pull the body block by block
// and give up at any moment.
#include "platform/http.h"

#include <curl/curl.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>

namespace plat {

namespace {

// A door unit on the local network answers within a few seconds; waiting
// the library's five minutes would leave the picture frozen that long.
constexpr long kConnectTimeoutMs = 10000;
// A stream that sends nothing for this long is taken as broken, so the
// reader reconnects instead of showing a frozen picture all day.
constexpr auto kSilenceLimit = std::chrono::seconds(15);
// How often a waiting call looks at its `abandon` flag.
constexpr int kPollMs = 50;
// The body is held back at the network when this much is waiting unread.
constexpr std::size_t kMaxBuffered = 64 * 1024;
// What one receive may take from the connection. The reader takes the body
// in small blocks; larger receives mean fewer system calls and wake-ups per
// camera picture (a full-HD picture is well over the default 16 KiB).
constexpr long kReceiveBuffer = 128 * 1024;

using Clock = std::chrono::steady_clock;

} // namespace

struct Internet {
  // Session.
  std::string agent;
  // Request.
  CURLM *multi = nullptr;
  CURL *easy = nullptr;
  std::function<bool()> abandon;
  std::string body; // received, not yet read; from `bodyStart` on
  std::size_t bodyStart = 0;
  bool headersDone = false;
  bool paused = false;
  bool done = false;
  CURLcode result = CURLE_OK;
  Clock::time_point lastData;
};

namespace {

std::size_t OnBody(char *data, std::size_t size, std::size_t count,
                   void *user) {
  auto *r = static_cast<Internet *>(user);
  if (r->body.size() - r->bodyStart >= kMaxBuffered) {
    r->paused = true;
    return CURL_WRITEFUNC_PAUSE;
  }
  r->headersDone = true;
  r->body.append(data, size * count);
  r->lastData = Clock::now();
  return size * count;
}

std::size_t OnHeader(char *data, std::size_t size, std::size_t count,
                     void *user) {
  auto *r = static_cast<Internet *>(user);
  const std::size_t n = size * count;
  // The blank line ends a header block; an interim answer (1xx) is
  // followed by another, which the body then follows.
  if (n <= 2 && (n == 0 || data[0] == '\r' || data[0] == '\n')) {
    long code = 0;
    curl_easy_getinfo(r->easy, CURLINFO_RESPONSE_CODE, &code);
    if (code >= 200)
      r->headersDone = true;
  }
  r->lastData = Clock::now();
  return n;
}

bool Abandoned(const Internet *r) { return r->abandon && r->abandon(); }

thread_local unsigned long t_lastError = 0;

// Why a request that got no answer failed, in the terms of
// InternetGetLastError.
unsigned long OpenError(Internet *r) {
  if (!r->done)
    return Abandoned(r) ? ERROR_INTERNET_OPERATION_CANCELLED
                        : ERROR_INTERNET_TIMEOUT;
  switch (r->result) {
  case CURLE_COULDNT_RESOLVE_HOST:
    return ERROR_INTERNET_NAME_NOT_RESOLVED;
  case CURLE_COULDNT_CONNECT: {
    // A host that is down or out of reach fails to connect too, but does
    // not refuse: it does not answer.
    long os = 0;
    curl_easy_getinfo(r->easy, CURLINFO_OS_ERRNO, &os);
    return os == ECONNREFUSED ? ERROR_INTERNET_CANNOT_CONNECT
                              : ERROR_INTERNET_TIMEOUT;
  }
  case CURLE_OPERATION_TIMEDOUT:
    return ERROR_INTERNET_TIMEOUT;
  case CURLE_GOT_NOTHING:
  case CURLE_RECV_ERROR:
  case CURLE_SEND_ERROR:
    return ERROR_INTERNET_CONNECTION_RESET;
  default:
    return ERROR_INTERNET_INTERNAL_ERROR;
  }
}

// Takes in what has arrived, without waiting for more; notes the end.
void Step(Internet *r) {
  int running = 0;
  curl_multi_perform(r->multi, &running);
  int left = 0;
  while (CURLMsg *m = curl_multi_info_read(r->multi, &left)) {
    if (m->msg == CURLMSG_DONE) {
      r->done = true;
      r->result = m->data.result;
    }
  }
}

// Drives the transfer until `ready` holds, it ends, or it must be given up.
template <class Ready> bool Pump(Internet *r, Ready ready) {
  while (!ready()) {
    if (r->done || Abandoned(r))
      return false;
    if (Clock::now() - r->lastData > kSilenceLimit)
      return false;
    Step(r);
    if (ready() || r->done)
      continue;
    curl_multi_poll(r->multi, nullptr, 0, kPollMs, nullptr);
  }
  return true;
}

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

} // namespace

HINTERNET InternetOpen(const char *agent) {
  GlobalInit();
  auto *session = new Internet;
  session->agent = agent ? agent : "";
  return session;
}

HINTERNET InternetOpenUrl(HINTERNET session, const char *url,
                          std::function<bool()> abandon) {
  t_lastError = ERROR_INTERNET_INTERNAL_ERROR;
  if (session == nullptr || url == nullptr || *url == '\0')
    return nullptr;
  auto *r = new Internet;
  r->abandon = std::move(abandon);
  r->multi = curl_multi_init();
  r->easy = curl_easy_init();
  if (r->multi == nullptr || r->easy == nullptr) {
    InternetCloseHandle(r);
    return nullptr;
  }
  CURL *e = r->easy;
  curl_easy_setopt(e, CURLOPT_URL, url);
  // The address comes from the configuration: plain HTTP only. A redirect
  // is read as the answer, never followed: it could send the stream or a
  // relay command to any host.
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http");
  curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http");
  curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(e, CURLOPT_USERAGENT, session->agent.c_str());
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
  // The door unit is on the local network; a proxy is never the way there.
  curl_easy_setopt(e, CURLOPT_NOPROXY, "*");
  curl_easy_setopt(e, CURLOPT_BUFFERSIZE, kReceiveBuffer);
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, r);
  curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(e, CURLOPT_HEADERDATA, r);
  curl_multi_add_handle(r->multi, e);
  r->lastData = Clock::now();
  const bool answered = Pump(r, [r] { return r->headersDone; });
  if (!answered && !(r->done && r->result == CURLE_OK)) {
    t_lastError = OpenError(r);
    InternetCloseHandle(r);
    return nullptr;
  }
  t_lastError = 0;
  return r;
}

unsigned long InternetGetLastError() { return t_lastError; }

unsigned HttpQueryStatusCode(HINTERNET r) {
  if (r == nullptr || r->easy == nullptr)
    return 0;
  long code = 0;
  curl_easy_getinfo(r->easy, CURLINFO_RESPONSE_CODE, &code);
  return code > 0 ? static_cast<unsigned>(code) : 0;
}

bool InternetReadFile(HINTERNET r, void *buffer, std::size_t size,
                      std::size_t *read) {
  if (read != nullptr)
    *read = 0;
  if (r == nullptr || r->easy == nullptr || buffer == nullptr)
    return false;
  const auto waiting = [r] { return r->body.size() > r->bodyStart; };
  if (!Pump(r, waiting) && !waiting()) {
    // The whole body has been handed out: a clean end reads 0 bytes.
    return r->done && r->result == CURLE_OK && !Abandoned(r);
  }
  const std::size_t n = std::min(size, r->body.size() - r->bodyStart);
  std::memcpy(buffer, r->body.data() + r->bodyStart, n);
  r->bodyStart += n;
  if (r->bodyStart == r->body.size()) {
    r->body.clear();
    r->bodyStart = 0;
  } else if (r->bodyStart > kMaxBuffered) {
    r->body.erase(0, r->bodyStart);
    r->bodyStart = 0;
  }
  if (r->paused && r->body.size() - r->bodyStart < kMaxBuffered / 2) {
    r->paused = false;
    curl_easy_pause(r->easy, CURLPAUSE_CONT);
  }
  if (read != nullptr)
    *read = n;
  return true;
}

bool InternetQueryDataAvailable(HINTERNET r, std::size_t *available) {
  if (available != nullptr)
    *available = 0;
  if (r == nullptr || r->easy == nullptr || available == nullptr)
    return false;
  if (!r->done)
    Step(r);
  *available = r->body.size() - r->bodyStart;
  // And what waits at the connection beyond what is held here.
  curl_socket_t socket = CURL_SOCKET_BAD;
  int queued = 0;
  if (!r->done &&
      curl_easy_getinfo(r->easy, CURLINFO_ACTIVESOCKET, &socket) == CURLE_OK &&
      socket != CURL_SOCKET_BAD && ioctl(socket, FIONREAD, &queued) == 0 &&
      queued > 0)
    *available += static_cast<std::size_t>(queued);
  return true;
}

bool InternetCloseHandle(HINTERNET r) {
  if (r == nullptr)
    return false;
  if (r->easy != nullptr) {
    if (r->multi != nullptr)
      curl_multi_remove_handle(r->multi, r->easy);
    curl_easy_cleanup(r->easy);
  }
  if (r->multi != nullptr)
    curl_multi_cleanup(r->multi);
  delete r;
  return true;
}

} // namespace plat
