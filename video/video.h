// Module video: the door unit's stream read into frames on a thread of its
// own, the frames drawn into the video area, and the relay commands.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "platform/window.h"
#include "video/popup_rules.h"

struct t_Skin;

// --- the video reader --------------------------------------------------------
// While the video is not connected, the window's timer asks for a new run
// every second.
inline constexpr std::uintptr_t kReaderTimerId = 0;
inline constexpr unsigned kReaderTimerMs = 1000;

// Frames completed since the request was last renewed; kept across runs.
// Written by the reader thread only (one run at a time); atomic so that the
// window thread and tests may read it.
extern std::atomic<int> PocetSnimku;

// One run of the reader: one connection to the door unit, from its start to
// its end. Returns when the connection fails or ends, when
// ShowData.Kill_TCP is set, or when `stop` is set.
void DownloadMJPEG(const std::atomic<bool> *stop);

// Asks the current run to drop its connection, so that the window's timer
// starts a new one (a door unit that did not answer a relay request, a new
// address): marks the video not connected (ShowData.Kill_TCP) and counts a
// request of its own, which a run that is just starting (and clears "not
// connected") still sees if it was made after it began. Any thread.
void RequestReconnect();

// The count of reconnect requests so far: a run takes it when it begins
// and ends once it has grown.
class t_ReconnectWatch {
public:
  t_ReconnectWatch();
  bool Wanted() const;

private:
  unsigned atStart_;
};

// The thread running the current run. Window thread only.
struct t_ReaderThread {
  std::thread thread;
  std::shared_ptr<std::atomic<bool>> stop;
};
extern t_ReaderThread MJPEG_Thread;
// Starts a run of DownloadMJPEG on a new thread.
t_ReaderThread StartReaderThread();
// Stops a run and waits for it. A run waiting on the network gives up at
// once; one drawing a frame finishes that first. It always does its own
// clean-up, so nothing of it is left for the next run to meet.
void EndReaderThread(t_ReaderThread &reader);

// --- what the reader hands on ------------------------------------------------
// Set by start-up, before the first run, for whoever keeps what the door
// unit sends (this folder cannot see them); any may be null. All are
// called on the reader thread and must return at once.
struct t_ReaderHooks {
  // Each whole picture, the bytes exactly as received: gathered once while
  // the part is parsed and handed over, never copied again. Pictures
  // larger than kMaxHandedPicture are not handed on.
  void (*picture)(std::shared_ptr<const std::vector<std::uint8_t>> picture) =
      nullptr;
  // The call flag rose (0 to 1 or 2) or fell (to 0, or the run ended during
  // a ring); `title` is the part's title, cleaned as the window shows it.
  void (*ring)(bool ringing, const char *title) = nullptr;
  // The call flag is rising, before the pop-up acts on it: `shown` is
  // whether the window was shown at that moment.
  void (*ringComing)(bool shown) = nullptr;
};
inline constexpr std::size_t kMaxHandedPicture = 8u << 20;
void SetReaderHooks(const t_ReaderHooks &hooks);

// --- pop-up rules on the main window -----------------------------------------
// Rules on `event` (pop-up mode, show, hide, ShowData.call and whether the
// window is visible) and carries out the actions on `hwnd`: painting,
// hiding, bringing back, no button lit, the ring's trace. Any thread; the
// tray click and the hide button come from the window thread, the call
// flags from the reader's.
void PopupOnWindow(plat::HWND hwnd, PopupEvent event);

// --- the door unit's address ----------------------------------------------
// Whether IP_addr's value `address` may go into a request (host[:port] and
// nothing else). A bad one is reported on standard error, once for each
// distinct value. Any thread.
bool DoorAddressUsable(const char *address);
// The door unit's URL for `path` ("/video.mjpg", "/cgi-bin/...") at the
// address, into `url`; false (and `url` empty) when the address is not
// usable or the URL does not fit.
bool FormDoorUrl(const char *address, const char *path, char *url,
                 std::size_t size);

// --- frame display -----------------------------------------------------------
// Decodes the frame file, stretches it to the video area and draws it
// there. Draws nothing from a missing or undecodable file or into an area
// without pixels.
void ShowJPEG(plat::HWND hwnd, const char *NameJPEG, int ClW, int ClH,
              const t_Skin *Skin);

// The stream functions FreeImage reads the frame file through.
unsigned myReadProc(void *buffer, unsigned size, unsigned count, void *handle);
int mySeekProc(void *handle, long offset, int origin);
long myTellProc(void *handle);

// --- relays ------------------------------------------------------------------
// Switches relay `rele` (1 or 2) of the door unit: one request, nothing read.
// A door unit that cannot be reached is taken as a lost video connection.
void relay(int rele);
// Starts relay(rele) on a thread of its own that nobody waits for.
void StartRelayThread(int rele);
// Waits, at most `ms` milliseconds, until no relay thread runs any more;
// those still waiting on the network give up. True when none is left.
bool StopRelayThreads(unsigned ms);
