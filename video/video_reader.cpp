// The video reader: one run per connection to the door unit's stream.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "instance/identity.h"
#include "instance/settings.h"
#include "instance/tray.h"
#include "platform/files.h"
#include "platform/http.h"
#include "platform/report.h"
#include "platform/trace.h"
#include "platform/window.h"
#include "skin/skin.h"
#include "video/door_input.h"
#include "video/door_why.h"
#include "video/frame_file.h"
#include "video/mjpeg_parser.h"
#include "video/video.h"

using namespace plat;

std::atomic<int> PocetSnimku{0};
t_ReaderThread MJPEG_Thread;

namespace {

constexpr int kRenewAfterFrames = 100; // counts 0..100 pass, 101 renews
constexpr auto kRenewPause = std::chrono::milliseconds(1000);
constexpr auto kPauseStep = std::chrono::milliseconds(20);
// A picture is not drawn when the bytes already waiting behind it hold a
// newer one (as many as it had, and a part's headers), so the window keeps
// up with the door unit when drawing takes longer than a part's interval.
// A door unit that sends faster than anything can be drawn still gets one
// picture in this many drawn.
constexpr std::size_t kPartHeaders = 64;
constexpr int kMaxSkippedInARow = 2;

std::atomic<unsigned> g_reconnectRequests{0};

// Set by start-up (window thread), read by the reader: atomic, as a test may
// set them while a run goes on.
std::atomic<void (*)(std::shared_ptr<const std::vector<std::uint8_t>>)>
    g_pictureHook{nullptr};
std::atomic<void (*)(bool, const char *)> g_ringHook{nullptr};
std::atomic<void (*)(bool)> g_ringComingHook{nullptr};

// What one run holds; the parser's callbacks reach it through the sink.
struct t_Run {
  t_ReconnectWatch reconnect; // first, so it dates from the run's start
  HWND hwnd = nullptr;
  const std::atomic<bool> *stop = nullptr;
  HINTERNET hSession = nullptr;
  HINTERNET hConnect = nullptr;
  char url[96] = {};
  char address[64] = {}; // IP_addr at the run's start, as `url` has it
  t_FrameFile frameFile;
  std::size_t blockLen = 0; // bytes of the block being parsed
  int skipped = 0;          // pictures left undrawn since the last drawn one
  // The picture being gathered for the picture hook, and whether it grew
  // past what is handed on.
  std::shared_ptr<std::vector<std::uint8_t>> gathered;
  bool tooLarge = false;
  // The flag as the parts say it, and as the ring hook was last told.
  bool ringing = false;
  bool ringTold = false;

  bool Ending() const {
    return ShowData.Kill_TCP != 0 || reconnect.Wanted() ||
           (stop != nullptr && stop->load());
  }
};

void OnCall(void *context, char flag) {
  t_Run &run = *static_cast<t_Run *>(context);
  if (flag == '0') {
    run.ringing = false;
    PopupOnWindow(run.hwnd, PopupEvent::RingOff);
  } else if (flag == '1' || flag == '2') {
    if (!run.ringing)
      if (auto hook = g_ringComingHook.load())
        hook(IsWindowVisible(run.hwnd));
    run.ringing = true;
    PopupOnWindow(run.hwnd, PopupEvent::RingOn);
  }
}

// The ring hook hears of a change with the part's own title, which comes
// just after its flag (or with the last one, when the run ends).
void TellRing(t_Run &run, const char *title) {
  if (run.ringing == run.ringTold)
    return;
  run.ringTold = run.ringing;
  if (auto hook = g_ringHook.load())
    hook(run.ringing, title);
}

void OnTitle(void *context, const char *sent) {
  t_Run &run = *static_cast<t_Run *>(context);
  // One home for the title's clean-up: the window's top edge, its text and
  // the tray tip all take it from here.
  char title[kTitleSize];
  std::snprintf(title, sizeof title, "%s", sent);
  PlainTitle(title);
  ShowData.title.Set(title);
  TellRing(run, title);
  SetDoorTitle(run.hwnd, title);
  // Pictures that cannot be kept leave the window not connected: so is
  // its tip.
  if (ShowData.noPictures)
    SetTrayTip(TipWhenNotConnected(title).c_str());
}

void OnPicture(void *context, const unsigned char *bytes, std::size_t length) {
  t_Run &run = *static_cast<t_Run *>(context);
  run.frameFile.Append(bytes, length);
  if (g_pictureHook.load() == nullptr || run.tooLarge)
    return;
  if (!run.gathered) {
    // The part's length (its bytes still to come, these included) sizes
    // the picture once: held as it is, never grown and copied again.
    const auto whole = std::max<std::size_t>(
        static_cast<std::size_t>(std::max(mjpeg::delka, 0)), length);
    if (whole > kMaxHandedPicture) {
      run.tooLarge = true;
      return;
    }
    run.gathered = std::make_shared<std::vector<std::uint8_t>>();
    run.gathered->reserve(whole);
  }
  if (run.gathered->size() + length > kMaxHandedPicture) {
    run.tooLarge = true;
    run.gathered.reset();
    return;
  }
  run.gathered->insert(run.gathered->end(), bytes, bytes + length);
}

// The whole picture goes to the picture hook; the next one is gathered
// afresh.
void HandOnPicture(t_Run &run) {
  std::shared_ptr<std::vector<std::uint8_t>> picture = std::move(run.gathered);
  run.gathered.reset();
  run.tooLarge = false;
  if (!picture || picture->empty())
    return;
  if (auto hook = g_pictureHook.load())
    hook(std::move(picture));
}

// Waits out the renewal pause, or less when the run is told to end.
void Pause(const t_Run &run) {
  const auto until = std::chrono::steady_clock::now() + kRenewPause;
  while (std::chrono::steady_clock::now() < until && !run.Ending())
    std::this_thread::sleep_for(kPauseStep);
}

// Whether a newer picture is already waiting behind the one just completed.
bool NewerWaiting(const t_Run &run) {
  if (run.skipped >= kMaxSkippedInARow)
    return false;
  std::size_t waiting = 0;
  if (!InternetQueryDataAvailable(run.hConnect, &waiting))
    return false;
  const auto taken = static_cast<std::size_t>(MjpegBlockPosition());
  if (taken < run.blockLen)
    waiting += run.blockLen - taken;
  return waiting >= run.frameFile.Stored() + kPartHeaders;
}

bool OnFrame(void *context) {
  t_Run &run = *static_cast<t_Run *>(context);
  Trace(TRACE_FRAME);
  run.frameFile.EndPicture();
  HandOnPicture(run);
  if (IsWindowVisible(run.hwnd)) {
    if (NewerWaiting(run)) {
      ++run.skipped;
    } else {
      run.skipped = 0;
      const t_ClientSize size = ShowData.Size.load();
      ShowJPEG(run.hwnd, NameJPEG, size.width, size.height, ShowData.Skin);
      ShowTitle(run.hwnd, ShowData);
    }
  }
  run.frameFile.NextPicture();

  if (PocetSnimku > kRenewAfterFrames) {
    PocetSnimku = 0;
    if (run.hConnect != nullptr)
      InternetCloseHandle(run.hConnect);
    run.hConnect = nullptr;
    Pause(run);
    if (!run.Ending()) {
      run.hConnect = InternetOpenUrl(run.hSession, run.url,
                                     [&run] { return run.Ending(); });
      TellWhy(run.address, run.hConnect);
    }
    // The rest of this block came over the old connection.
    return false;
  }
  ++PocetSnimku;
  // Bytes after the picture usually hold the next part's header: parse on.
  return true;
}

} // namespace

void SetReaderHooks(const t_ReaderHooks &hooks) {
  g_pictureHook = hooks.picture;
  g_ringHook = hooks.ring;
  g_ringComingHook = hooks.ringComing;
}

void RequestReconnect() {
  ++g_reconnectRequests;
  ShowData.Kill_TCP = 1;
}

t_ReconnectWatch::t_ReconnectWatch() : atStart_(g_reconnectRequests.load()) {}

bool t_ReconnectWatch::Wanted() const {
  return g_reconnectRequests.load() != atStart_;
}

void DownloadMJPEG(const std::atomic<bool> *stop) {
  t_Run run;
  run.stop = stop;
  run.hwnd = g_hwndMain;
  KillTimer(g_hwndMain, kReaderTimerId);
  ShowData.Kill_TCP = 0;
  unsigned char buffer[kMaxBlock];
  std::size_t BufferLen = 0;

  run.hSession = InternetOpen(kAppTitle);
  if (run.hSession == nullptr)
    ShowData.Kill_TCP = 1;
  IP_addr.CopyTo(run.address, sizeof run.address);
  if (FormDoorUrl(run.address, "/video.mjpg", run.url, sizeof run.url)) {
    run.hConnect =
        InternetOpenUrl(run.hSession, run.url, [&run] { return run.Ending(); });
    TellWhy(run.address, run.hConnect);
  } else {
    SetWhy(run.address, "address refused: use host or host:port");
  }
  if (run.hConnect == nullptr)
    ShowData.Kill_TCP = 1;
  t_MjpegRun parser;
  MjpegStartRun(parser);
  run.frameFile.Open(run.hwnd);
  // Reached, but with nowhere to put its pictures: the window goes on
  // saying why none come.
  ShowData.noPictures = run.hConnect != nullptr && !run.frameFile.IsOpen();
  if (ShowData.noPictures) {
    SetWhy(nullptr, "settings folder cannot be written");
    if (IsWindowVisible(run.hwnd))
      ShowMyWindow(run.hwnd, ShowData);
  }

  t_MjpegSink sink;
  sink.context = &run;
  sink.OnCall = OnCall;
  sink.OnTitle = OnTitle;
  sink.OnPicture = OnPicture;
  sink.OnFrame = OnFrame;
  for (;;) {
    if (!InternetReadFile(run.hConnect, buffer, sizeof buffer, &BufferLen) ||
        BufferLen == 0)
      ShowData.Kill_TCP = 1;
    else {
      run.blockLen = BufferLen;
      MjpegParseBlock(parser, sink, buffer, static_cast<int>(BufferLen));
    }
    if (run.Ending())
      break;
  }

  // The end of a run. A ring it was in is over for whoever was told of it.
  run.ringing = false;
  {
    char title[kTitleSize];
    ShowData.title.CopyTo(title, sizeof title);
    TellRing(run, title);
  }
  run.frameFile.Close();
  DeleteFile(NameJPEG);
  char blank[64];
  std::memset(blank, ' ', 63);
  blank[63] = '\0';
  ShowData.title.Set(blank);
  SetDoorTitle(run.hwnd, kAppTitle);
  SetTrayTip(TipWhenNotConnected(kAppTitle).c_str());
  PopupOnWindow(run.hwnd, PopupEvent::RunEnded);
  // A run told to stop by whoever starts the next one finds Kill_TCP clear
  // only when it was stopped from outside; either way it is not connected.
  ShowData.Kill_TCP = 1;
  if (IsWindowVisible(run.hwnd))
    ShowMyWindow(run.hwnd, ShowData); // "Connecting, please wait..."
  if (run.hConnect != nullptr)
    InternetCloseHandle(run.hConnect);
  if (run.hSession != nullptr)
    InternetCloseHandle(run.hSession);
  SetTimer(run.hwnd, kReaderTimerId, kReaderTimerMs);
}

bool DoorAddressUsable(const char *address) {
  static std::mutex reported;
  static std::string last; // the bad value reported last
  const bool valid = DoorAddressValid(address);
  std::lock_guard lock(reported);
  if (valid) {
    last.clear();
    return true;
  }
  if (last != address) {
    last = address;
    std::string shown = address;
    for (char &c : shown)
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
        c = '?';
    plat::Report("door unit address '%s' is not host[:port]; not connecting",
                 shown.c_str());
  }
  return false;
}

t_ReaderThread StartReaderThread() {
  t_ReaderThread reader;
  reader.stop = std::make_shared<std::atomic<bool>>(false);
  reader.thread = std::thread(DownloadMJPEG, reader.stop.get());
  return reader;
}

void EndReaderThread(t_ReaderThread &reader) {
  if (reader.stop)
    *reader.stop = true;
  if (reader.thread.joinable())
    reader.thread.join();
  reader = t_ReaderThread{};
}

bool FormDoorUrl(const char *address, const char *path, char *url,
                 std::size_t size) {
  if (size == 0)
    return false;
  url[0] = '\0';
  if (!DoorAddressUsable(address))
    return false;
  const int n = std::snprintf(url, size, "http://%s%s", address, path);
  if (n < 0 || static_cast<std::size_t>(n) >= size) {
    url[0] = '\0';
    return false;
  }
  return true;
}
