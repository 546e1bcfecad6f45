// Writes the built-in ring: a two-note chime ("ding-dong") struck twice,
// PCM, 2 channels, 44100 Hz, 16 bit, 2.9 s, quiet at both ends so that it
// loops without a click. Usage: ringgen <file.wav>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

constexpr int kRate = 44100;
constexpr int kChannels = 2;
constexpr double kSeconds = 2.9;
constexpr double kPi = 3.14159265358979323846;

struct Strike {
  double at;        // seconds
  double frequency; // Hz
  double pan;       // 0 left .. 1 right
};

// A bell's partials: frequency ratio, loudness, decay time in seconds.
struct Partial {
  double ratio, amplitude, decay;
};
constexpr Partial kPartials[] = {
    {1.0, 1.0, 0.55}, {2.0, 0.35, 0.30}, {3.0, 0.12, 0.18}, {4.16, 0.06, 0.10}};

void Put16(std::FILE *f, unsigned v) {
  std::fputc(v & 0xFF, f);
  std::fputc((v >> 8) & 0xFF, f);
}
void Put32(std::FILE *f, std::uint32_t v) {
  Put16(f, v & 0xFFFF);
  Put16(f, v >> 16);
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: ringgen <file.wav>\n");
    return 2;
  }
  const Strike strikes[] = {{0.00, 659.26, 0.4},
                            {0.45, 523.25, 0.6},
                            {1.45, 659.26, 0.4},
                            {1.90, 523.25, 0.6}};
  const int frames = static_cast<int>(kSeconds * kRate);
  std::vector<double> left(frames), right(frames);
  for (const Strike &s : strikes) {
    const int first = static_cast<int>(s.at * kRate);
    for (int i = first; i < frames; ++i) {
      const double t = double(i - first) / kRate;
      const double attack = std::min(1.0, t / 0.004);
      double v = 0;
      for (const Partial &p : kPartials)
        v += p.amplitude * std::exp(-t / p.decay) *
             std::sin(2 * kPi * s.frequency * p.ratio * t);
      v *= attack;
      left[i] += v * (1.0 - s.pan) * 2;
      right[i] += v * s.pan * 2;
    }
  }
  double peak = 0;
  for (int i = 0; i < frames; ++i)
    peak = std::max({peak, std::fabs(left[i]), std::fabs(right[i])});
  const double gain = 0.6 * 32767 / peak;
  // The tail fades to silence over the last 0.3 s.
  const int fade = static_cast<int>(0.3 * kRate);

  std::FILE *f = std::fopen(argv[1], "wb");
  if (f == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  const std::uint32_t dataBytes = frames * kChannels * 2;
  std::fwrite("RIFF", 1, 4, f);
  Put32(f, 36 + dataBytes);
  std::fwrite("WAVEfmt ", 1, 8, f);
  Put32(f, 16);
  Put16(f, 1); // PCM
  Put16(f, kChannels);
  Put32(f, kRate);
  Put32(f, kRate * kChannels * 2);
  Put16(f, kChannels * 2);
  Put16(f, 16);
  std::fwrite("data", 1, 4, f);
  Put32(f, dataBytes);
  for (int i = 0; i < frames; ++i) {
    const double tail = std::min(1.0, double(frames - 1 - i) / fade);
    for (double v : {left[i], right[i]})
      Put16(f, static_cast<std::uint16_t>(
                   static_cast<std::int16_t>(std::lround(v * gain * tail))));
  }
  return std::fclose(f) == 0 ? 0 : 1;
}
