// PlaySound on PulseAudio (also served by PipeWire's Pulse server). Each sound
// plays on a thread of its own, in chunks of 20 ms into a stream that buffers
// 100 ms, so a stop request is seen within a chunk and heard within the buffer;
// stopping never waits for that thread.
#include <pulse/error.h>
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/report.h"
#include "platform/sound.h"
#include "platform/test_hooks.h"

namespace plat {

namespace {

struct Playback {
  std::atomic<bool> stop{false};
  std::vector<std::uint8_t> owned; // the file's bytes; resources are static
  WavePcm pcm;
  bool loop = false;
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false; // guarded by `mutex`
};

std::mutex g_mutex;
std::shared_ptr<Playback> g_current; // guarded by g_mutex
std::atomic<int> g_running{0};
std::once_flag g_warned;

pa_sample_format_t PulseFormat(unsigned bits) {
  switch (bits) {
  case 8:
    return PA_SAMPLE_U8;
  case 16:
    return PA_SAMPLE_S16LE;
  case 24:
    return PA_SAMPLE_S24LE;
  default:
    return PA_SAMPLE_S32LE;
  }
}

// One playback stream on a connection of its own, driven by a main loop
// of the playing thread: the simple API cannot name the stream's role, and
// a ring is an event, not a phone call, to the mixer and to rules that
// duck or route by role.
class RingStream {
public:
  RingStream() = default;
  RingStream(const RingStream &) = delete;
  RingStream &operator=(const RingStream &) = delete;
  ~RingStream() {
    if (stream_) {
      pa_stream_disconnect(stream_);
      pa_stream_unref(stream_);
    }
    if (context_) {
      pa_context_disconnect(context_);
      pa_context_unref(context_);
    }
    if (loop_)
      pa_mainloop_free(loop_);
  }

  // False with `error` set when there is no server or no stream.
  bool Open(const pa_sample_spec &format, const pa_buffer_attr &attr,
            int &error) {
    loop_ = pa_mainloop_new();
    if (loop_ == nullptr)
      return Fail(error, PA_ERR_INTERNAL);
    pa_proplist *client = pa_proplist_new();
    pa_proplist_sets(client, PA_PROP_APPLICATION_NAME, "Vestibell");
    pa_proplist_sets(client, PA_PROP_APPLICATION_ICON_NAME, "vestibell");
    context_ = pa_context_new_with_proplist(pa_mainloop_get_api(loop_),
                                            "Vestibell", client);
    pa_proplist_free(client);
    if (context_ == nullptr ||
        pa_context_connect(context_, nullptr, PA_CONTEXT_NOFLAGS, nullptr) <
            0 ||
        !Until([this] { return ContextReady(); }))
      return Fail(error, ContextError());
    pa_proplist *props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "event");
    pa_proplist_sets(props, PA_PROP_APPLICATION_ICON_NAME, "vestibell");
    stream_ =
        pa_stream_new_with_proplist(context_, "Ring", &format, nullptr, props);
    pa_proplist_free(props);
    if (stream_ == nullptr ||
        pa_stream_connect_playback(stream_, nullptr, &attr,
                                   PA_STREAM_ADJUST_LATENCY, nullptr,
                                   nullptr) < 0 ||
        !Until([this] { return StreamReady(); }))
      return Fail(error, ContextError());
    return true;
  }

  // Waits until the server takes all of `data`; false on a failure.
  bool Write(const std::uint8_t *data, std::size_t size) {
    while (size > 0) {
      if (!StreamReady() && !Until([this] { return StreamReady(); }))
        return false;
      std::size_t room = pa_stream_writable_size(stream_);
      if (room == static_cast<std::size_t>(-1))
        return false;
      if (room == 0) {
        if (pa_mainloop_iterate(loop_, 1, nullptr) < 0)
          return false;
        continue;
      }
      room = std::min(room, size);
      if (pa_stream_write(stream_, data, room, nullptr, 0, PA_SEEK_RELATIVE) <
          0)
        return false;
      data += room;
      size -= room;
    }
    return true;
  }

  // Waits until what was written has been played.
  void Drain() {
    pa_operation *op = pa_stream_drain(stream_, nullptr, nullptr);
    if (op == nullptr)
      return;
    Until([op] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; });
    pa_operation_unref(op);
  }

private:
  static bool Fail(int &error, int code) {
    error = code;
    return false;
  }
  int ContextError() const {
    return context_ ? pa_context_errno(context_) : PA_ERR_INTERNAL;
  }
  // Ready; throws out (false) once the connection has failed.
  bool ContextReady() const {
    return pa_context_get_state(context_) == PA_CONTEXT_READY;
  }
  bool StreamReady() const {
    return pa_stream_get_state(stream_) == PA_STREAM_READY;
  }
  bool Broken() const {
    if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)))
      return true;
    return stream_ != nullptr &&
           !PA_STREAM_IS_GOOD(pa_stream_get_state(stream_));
  }
  // Runs the loop until `done`, or false when the connection breaks.
  template <class F> bool Until(F done) {
    while (!done()) {
      if (Broken() || pa_mainloop_iterate(loop_, 1, nullptr) < 0)
        return false;
    }
    return true;
  }

  pa_mainloop *loop_ = nullptr;
  pa_context *context_ = nullptr;
  pa_stream *stream_ = nullptr;
};

void Play(const std::shared_ptr<Playback> &p) {
  const WavePcm &pcm = p->pcm;
  pa_sample_spec sampleFormat;
  sampleFormat.format = PulseFormat(pcm.bitsPerSample);
  sampleFormat.rate = pcm.sampleRate;
  sampleFormat.channels = static_cast<std::uint8_t>(pcm.channels);
  const std::size_t frame = pcm.channels * pcm.bitsPerSample / 8;
  const std::size_t chunk =
      std::max<std::size_t>(pcm.sampleRate / 50, 1) * frame;
  pa_buffer_attr attr;
  attr.maxlength = static_cast<std::uint32_t>(-1);
  attr.tlength = static_cast<std::uint32_t>(5 * chunk);
  attr.prebuf = static_cast<std::uint32_t>(-1);
  attr.minreq = static_cast<std::uint32_t>(-1);
  attr.fragsize = static_cast<std::uint32_t>(-1);
  int error = 0;
  RingStream stream;
  if (!stream.Open(sampleFormat, attr, error)) {
    std::call_once(g_warned, [error] {
      Report("no sound (%s); ringing silently", pa_strerror(error));
    });
    return;
  }
  bool failed = false;
  do {
    for (std::size_t at = 0; at < pcm.size && !p->stop.load() && !failed;
         at += chunk)
      failed = !stream.Write(pcm.data + at, std::min(chunk, pcm.size - at));
  } while (p->loop && !p->stop.load() && !failed);
  if (!p->stop.load() && !failed)
    stream.Drain();
}

void Finish(Playback &p) {
  {
    std::lock_guard lock(p.mutex);
    p.finished = true;
  }
  p.done.notify_all();
}

// At exit, a sound still playing is stopped and given a moment to close its
// stream, so the server does not see the connection torn.
struct StopAtExit {
  ~StopAtExit() {
    PlaySound(nullptr, nullptr, 0);
    for (int i = 0; i < 100 && g_running.load() > 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
} g_stopAtExit;

} // namespace

namespace {

void StopCurrent() {
  std::lock_guard lock(g_mutex);
  if (g_current != nullptr)
    g_current->stop = true;
  g_current.reset();
}

// Plays what `p` holds, parsed from `bytes` (the file's own or a resource).
BOOL Start(const std::shared_ptr<Playback> &p, const std::uint8_t *bytes,
           std::size_t size, DWORD flags) {
  if (!ParseWave(bytes, size, &p->pcm))
    return 0;
  const bool async = (flags & SND_ASYNC) != 0;
  p->loop = async && (flags & SND_LOOP) != 0;
  {
    std::lock_guard lock(g_mutex);
    g_current = p;
  }
  ++g_running;
  std::thread([p] {
    Play(p);
    Finish(*p);
    --g_running;
  }).detach();
  if (!async) {
    std::unique_lock lock(p->mutex);
    p->done.wait(lock, [&] { return p->finished; });
  }
  return 1;
}

} // namespace

BOOL PlaySound(const char *sound, HINSTANCE module, DWORD flags) {
  StopCurrent();
  if (sound == nullptr)
    return 1;
  auto p = std::make_shared<Playback>();
  if ((flags & SND_RESOURCE) == SND_RESOURCE) {
    if (module == nullptr || module->findResource == nullptr)
      return 0;
    const int id = static_cast<int>(reinterpret_cast<std::uintptr_t>(sound));
    const ResourceBytes r = module->findResource(id, 0);
    return Start(p, r.data, r.size, flags);
  }
  std::string why;
  if (!ReadWaveFile(sound, &p->owned, &why))
    return 0;
  return Start(p, p->owned.data(), p->owned.size(), flags);
}

BOOL PlaySoundBytes(const std::uint8_t *bytes, std::size_t size, DWORD flags) {
  StopCurrent();
  if (bytes == nullptr)
    return 0;
  auto p = std::make_shared<Playback>();
  p->owned.assign(bytes, bytes + size);
  return Start(p, p->owned.data(), p->owned.size(), flags);
}

int SoundThreadsRunning() { return g_running.load(); }

void NameSoundStreams() {
  // Read by every connection to the server this process makes.
  setenv("PULSE_PROP", "media.role=phone application.icon_name=vestibell", 0);
}

} // namespace plat
