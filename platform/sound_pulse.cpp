// PlaySound on PulseAudio's simple API (also served by PipeWire's Pulse
// server). Each sound plays on a thread of its own, in chunks of 20 ms into
// a stream that buffers 100 ms, so a stop request is seen within a chunk and
// heard within the buffer; stopping never waits for that thread.
#include <pulse/error.h>
#include <pulse/simple.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

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
  pa_simple *stream =
      pa_simple_new(nullptr, "Vestibell", PA_STREAM_PLAYBACK, nullptr, "Ring",
                    &sampleFormat, nullptr, &attr, &error);
  if (stream == nullptr) {
    std::call_once(g_warned, [error] {
      std::fprintf(stderr, "vestibell: no sound (%s); ringing silently\n",
                   pa_strerror(error));
    });
    return;
  }
  bool failed = false;
  do {
    for (std::size_t at = 0; at < pcm.size && !p->stop.load() && !failed;
         at += chunk) {
      const std::size_t n = std::min(chunk, pcm.size - at);
      failed = pa_simple_write(stream, pcm.data + at, n, &error) < 0;
    }
  } while (p->loop && !p->stop.load() && !failed);
  if (!p->stop.load() && !failed)
    pa_simple_drain(stream, &error);
  pa_simple_free(stream);
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

} // namespace plat
