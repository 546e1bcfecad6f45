// Voices for calls through the PulseAudio server that PULSE_SERVER names:
// each side of a call gets a mouth (a sine source, a tone of known level)
// and an ear (a null sink), and what an ear heard is read back as a level.
// The SIP library names the devices by their descriptions, "<side>-mouth"
// and "<side>-ear".
#pragma once

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace voice {

inline std::string Pactl(const std::string &arguments) {
  std::string out;
  if (FILE *p = popen(("pactl " + arguments + " 2>&1").c_str(), "r")) {
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, p))
      out += buffer;
    pclose(p);
  }
  return out;
}

// A mouth speaking a sine of `hz` at `dbfs` (RMS, relative to full scale)
// and an ear; false when the server refuses either.
inline bool AddSide(const std::string &side, int hz, double dbfs) {
  const std::string mouth = side + "-mouth", ear = side + "-ear";
  const bool made =
      std::atoi(Pactl("load-module module-sine-source source_name=" + mouth +
                      " source_properties=device.description=" + mouth +
                      " rate=48000 frequency=" + std::to_string(hz))
                    .c_str()) > 0 &&
      std::atoi(Pactl("load-module module-null-sink sink_name=" + ear +
                      " sink_properties=device.description=" + ear)
                    .c_str()) > 0;
  // The module's sine peaks at half of full scale: -9 dBFS RMS.
  char volume[32];
  std::snprintf(volume, sizeof volume, "%.1fdB", dbfs + 9.03);
  return made && Pactl("set-source-volume " + mouth + " " + volume).empty();
}

inline void Mute(const std::string &side, bool mute) {
  Pactl("set-source-mute " + side + "-mouth " + (mute ? "1" : "0"));
}

// The RMS level, in dBFS, of what the source `device` carried over
// `seconds` (after a moment for the recording to start); -120 for silence or
// when nothing could be recorded.
inline double Level(const std::string &device, double seconds) {
  constexpr int kRate = 16000;
  constexpr int kSkip = kRate / 5;
  FILE *p = popen(("parec --device=" + device +
                   " --format=s16le --rate=16000 --channels=1 "
                   "--latency-msec=20 2>/dev/null")
                      .c_str(),
                  "r");
  if (p == nullptr)
    return -120;
  const int wanted = kSkip + static_cast<int>(seconds * kRate);
  std::vector<short> samples(static_cast<std::size_t>(wanted));
  const std::size_t got =
      std::fread(samples.data(), sizeof(short), samples.size(), p);
  pclose(p);
  if (got <= static_cast<std::size_t>(kSkip))
    return -120;
  double sum = 0;
  for (std::size_t i = kSkip; i < got; ++i)
    sum += double(samples[i]) * samples[i];
  const double rms = std::sqrt(sum / double(got - kSkip)) / 32768.0;
  return rms > 1e-6 ? 20 * std::log10(rms) : -120;
}

// What `side`'s ear played.
inline double EarLevel(const std::string &side, double seconds) {
  return Level(side + "-ear.monitor", seconds);
}

// The library's full name of the device described as `description`
// ("PulseAudio Unknown: pc-ear"); empty when it lists none.
inline std::string DeviceNamed(const std::vector<std::string> &names,
                               const std::string &description) {
  const std::string suffix = ": " + description;
  for (const std::string &name : names)
    if (name.size() > suffix.size() &&
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
      return name;
  return {};
}

} // namespace voice
