// The ring: PlaySound with the Windows meanings the program uses, and the
// WAVE file reader behind it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/module.h"
#include "platform/window.h"

namespace plat {

using DWORD = std::uint32_t;

constexpr DWORD SND_SYNC = 0x0000;
constexpr DWORD SND_ASYNC = 0x0001; // returns at once, plays on its own thread
constexpr DWORD SND_NODEFAULT = 0x0002;
constexpr DWORD SND_LOOP = 0x0008; // with SND_ASYNC: until the next PlaySound
constexpr DWORD SND_FILENAME = 0x00020000;
constexpr DWORD SND_RESOURCE = 0x00040004; // `sound` is MAKEINTRESOURCE(id)

// Plays a WAVE file (SND_FILENAME; a path, relative to the current folder)
// or the module's resource (SND_RESOURCE), stopping whatever played before;
// PlaySound(nullptr, ...) only stops. Returns FALSE when the sound cannot
// be read or is no PCM WAVE this layer plays (nothing plays then: no
// default sound). Where no sound server can be reached the sound plays
// silently: one line on stderr per process, no box, no wait. Stopping
// takes effect within a few tens of milliseconds, from any thread.
BOOL PlaySound(const char *sound, HINSTANCE module, DWORD flags);
// Plays the WAVE file in `bytes` as PlaySound plays one read from disk
// (SND_ASYNC, SND_LOOP); the bytes are copied, the caller's may go at once.
BOOL PlaySoundBytes(const std::uint8_t *bytes, std::size_t size, DWORD flags);

// Names the program's sound streams to the sound server, before any is
// made: the calls' audio (the SIP library's own streams) as a phone call,
// with the program's icon; the ring names itself an event. A PULSE_PROP the
// user set is left as it is. Before other threads start.
void NameSoundStreams();

// Reads a WAVE file whole, never waiting on what stands under its name: a
// FIFO, a device or a folder is refused without being read, and so is a
// file larger than 64 MiB or one that ParseWave refuses. False with `why`
// empty when nothing is there; otherwise with the reason after the file's
// name ("is not a regular file", "has no channels or more than 8", ...).
bool ReadWaveFile(const char *path, std::vector<std::uint8_t> *bytes,
                  std::string *why);

// A WAVE file's PCM samples as read from untrusted bytes.
struct WavePcm {
  unsigned channels = 0;              // 1 to 8
  unsigned sampleRate = 0;            // 1000 to 192000
  unsigned bitsPerSample = 0;         // 8 (unsigned), 16, 24 or 32 (signed)
  const std::uint8_t *data = nullptr; // whole frames, inside the input
  std::size_t size = 0;               // > 0
};
// RIFF/WAVE with a "fmt " chunk of PCM (tag 1, or WAVE_FORMAT_EXTENSIBLE
// with the PCM sub-format) and a "data" chunk, chunks in any order. A data
// chunk longer than the file is cut to what is there, to whole frames.
// False for anything else; never reads outside [bytes, bytes + size).
bool ParseWave(const std::uint8_t *bytes, std::size_t size, WavePcm *out);
// The same, and why not: `*why` the reason after the file's name ("is not
// plain PCM ..."); left as it is when the bytes are playable.
bool ParseWave(const std::uint8_t *bytes, std::size_t size, WavePcm *out,
               const char **why);

} // namespace plat
