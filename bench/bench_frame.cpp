// Component figures of the video path: the stream parser, the JPEG decode,
// the B-spline stretch, and the whole frame display (ShowJPEG: frame file,
// decode, stretch, draw) at the sizes users meet; and the visitors'
// record's picture buffer. Each stage is timed the way the program ran it
// before (FreeImage_Rescale, 32-bit conversion, flip) and the way it runs
// now, on the same camera-like pictures.
//
// Run: bench_frame [Google Benchmark options]; needs no display (offscreen).
#include <benchmark/benchmark.h>

#include <FreeImage.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "platform/gdi.h"
#include "platform/window.h"
#include "skin/skin.h"
#include "video/bspline_scale.h"
#include "video/mjpeg_parser.h"
#include "video/video.h"
#include "visits/picture_buffer.h"

namespace {

// A camera-like picture: gradients, edges, a bright shape and sensor noise,
// so the JPEG is not trivially small.
FIBITMAP *CameraPicture(int w, int h) {
  FIBITMAP *b = FreeImage_Allocate(w, h, 24);
  std::mt19937 random(12345);
  std::normal_distribution<double> noise(0.0, 6.0);
  for (int y = 0; y < h; ++y) {
    BYTE *row = FreeImage_GetScanLine(b, h - 1 - y);
    for (int x = 0; x < w; ++x) {
      const double fx = static_cast<double>(x) / w,
                   fy = static_cast<double>(y) / h;
      for (int c = 0; c < 3; ++c) {
        double v = 50 + 110 * fx * (c + 1) / 3 + 60 * fy +
                   25 * std::sin(fx * 40 + c) * std::cos(fy * 23);
        if (((x * 12 / w) + (y * 9 / h)) % 2 == 0)
          v += 35;
        if (std::hypot(fx - 0.65, fy - 0.35) < 0.15)
          v = 235 - 50 * c;
        v += noise(random);
        row[x * 3 + c] = static_cast<BYTE>(std::clamp(v, 0.0, 255.0));
      }
    }
  }
  return b;
}

// The JPEG bytes of a camera picture of w x h, made once per size.
const std::string &Jpeg(int w, int h) {
  static std::map<std::pair<int, int>, std::string> made;
  std::string &bytes = made[{w, h}];
  if (bytes.empty()) {
    FIBITMAP *picture = CameraPicture(w, h);
    FIMEMORY *memory = FreeImage_OpenMemory();
    FreeImage_SaveToMemory(FIF_JPEG, picture, memory, 85);
    BYTE *data = nullptr;
    DWORD size = 0;
    FreeImage_AcquireMemory(memory, &data, &size);
    bytes.assign(reinterpret_cast<char *>(data), size);
    FreeImage_CloseMemory(memory);
    FreeImage_Unload(picture);
  }
  return bytes;
}

std::string FrameFile(int w, int h) {
  const std::string path =
      (std::filesystem::temp_directory_path() /
       ("vestibell-bench-" + std::to_string(getpid()) + "-" +
        std::to_string(w) + "x" + std::to_string(h) + ".jpg"))
          .string();
  FILE *f = std::fopen(path.c_str(), "wb");
  const std::string &bytes = Jpeg(w, h);
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  return path;
}

FIBITMAP *Decode(int w, int h, int flags) {
  const std::string &bytes = Jpeg(w, h);
  FIMEMORY *memory = FreeImage_OpenMemory(
      reinterpret_cast<BYTE *>(const_cast<char *>(bytes.data())),
      static_cast<DWORD>(bytes.size()));
  FIBITMAP *image = FreeImage_LoadFromMemory(FIF_JPEG, memory, flags);
  FreeImage_CloseMemory(memory);
  return image;
}

// --- the stream parser
// ---------------------------------------------------------

void BM_Parser(benchmark::State &state) {
  std::string stream;
  const std::string &picture = Jpeg(640, 480);
  for (int i = 0; i < 20; ++i)
    stream += "--vestibell\r\n" + std::string(HLAVICKA) +
              std::to_string(picture.size()) +
              "\r\nX-Ring-State: 0\r\nTitle: Front door\r\n\r\n" + picture +
              "\r\n";
  std::size_t stored = 0;
  t_MjpegSink sink;
  sink.context = &stored;
  sink.OnPicture = [](void *c, const unsigned char *, std::size_t length) {
    *static_cast<std::size_t *>(c) += length;
  };
  t_MjpegRun run;
  MjpegStartRun(run);
  for (auto _ : state) {
    for (std::size_t at = 0; at < stream.size(); at += kMaxBlock) {
      const int len = static_cast<int>(
          std::min<std::size_t>(kMaxBlock, stream.size() - at));
      MjpegParseBlock(
          run, sink,
          reinterpret_cast<const unsigned char *>(stream.data()) + at, len);
    }
  }
  benchmark::DoNotOptimize(stored);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(stream.size()));
  state.counters["parts/s"] =
      benchmark::Counter(20.0 * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Parser);

// --- decode
// ----------------------------------------------------------------------

void BM_Decode(benchmark::State &state) {
  const int w = static_cast<int>(state.range(0)),
            h = static_cast<int>(state.range(1));
  const bool half = state.range(2) != 0;
  Jpeg(w, h); // made before the clock runs
  for (auto _ : state) {
    FIBITMAP *image = Decode(w, h, half ? (std::max(w, h) / 2) << 16 : 0);
    benchmark::DoNotOptimize(image);
    FreeImage_Unload(image);
  }
  state.SetLabel(half ? "half size" : "full size");
}
// The header alone, as read to choose the decode's size.
void BM_DecodeHeader(benchmark::State &state) {
  const int w = static_cast<int>(state.range(0)),
            h = static_cast<int>(state.range(1));
  Jpeg(w, h);
  for (auto _ : state) {
    FIBITMAP *header = Decode(w, h, FIF_LOAD_NOPIXELS);
    benchmark::DoNotOptimize(header);
    FreeImage_Unload(header);
  }
}
BENCHMARK(BM_DecodeHeader)
    ->Args({640, 480})
    ->Args({1920, 1080})
    ->Unit(benchmark::kMicrosecond);

BENCHMARK(BM_Decode)
    ->Args({640, 480, 0})
    ->Args({640, 480, 1})
    ->Args({1920, 1080, 0})
    ->Args({1920, 1080, 1})
    ->Unit(benchmark::kMillisecond);

// --- the stretch alone
// --------------------------------------------------------------

// Before: FreeImage_Rescale B-spline, 32-bit conversion, flip.
void BM_RescaleFreeImage(benchmark::State &state) {
  const int w = static_cast<int>(state.range(0)),
            h = static_cast<int>(state.range(1));
  const int dw = static_cast<int>(state.range(2)),
            dh = static_cast<int>(state.range(3));
  FIBITMAP *image = Decode(w, h, 0);
  for (auto _ : state) {
    FIBITMAP *scaled = FreeImage_Rescale(image, dw, dh, FILTER_BSPLINE);
    FIBITMAP *pixels = FreeImage_ConvertTo32Bits(scaled);
    FreeImage_FlipVertical(pixels);
    benchmark::DoNotOptimize(FreeImage_GetBits(pixels));
    FreeImage_Unload(scaled);
    FreeImage_Unload(pixels);
  }
  FreeImage_Unload(image);
}

// Now: the fixed-point stretch straight into 32-bit rows, top first, from
// a full-size decode (h = 0) or a half-size one (h = 1).
void BM_RescaleBspline(benchmark::State &state) {
  const int w = static_cast<int>(state.range(0)),
            h = static_cast<int>(state.range(1));
  const int dw = static_cast<int>(state.range(2)),
            dh = static_cast<int>(state.range(3));
  const bool half = state.range(4) != 0;
  FIBITMAP *image = Decode(w, h, half ? (std::max(w, h) / 2) << 16 : 0);
  const int sw = static_cast<int>(FreeImage_GetWidth(image));
  const int sh = static_cast<int>(FreeImage_GetHeight(image));
  const int pitch = static_cast<int>(FreeImage_GetPitch(image));
  const std::uint8_t *top = FreeImage_GetBits(image) + (sh - 1) * pitch;
  std::vector<std::uint8_t> out(static_cast<std::size_t>(dw) * dh * 4);
  t_BsplineScale scale;
  for (auto _ : state) {
    BsplineScale(scale, top, sw, sh, -pitch, w, h, out.data(), dw, dh, dw * 4);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetLabel(half ? "from half size" : "from full size");
  FreeImage_Unload(image);
}

// The same on the 16-byte code alone, as on a processor without AVX2.
void BM_RescaleBsplineSse2(benchmark::State &state) {
  BsplineAllowAvx2(false);
  BM_RescaleBspline(state);
  BsplineAllowAvx2(true);
}

#define SIZES(B, ...)                                                          \
  BENCHMARK(B)                                                                 \
      ->Args({640, 480, 320, 240 __VA_ARGS__})                                 \
      ->Args({640, 480, 624, 419 __VA_ARGS__})                                 \
      ->Args({1920, 1080, 624, 419 __VA_ARGS__})                               \
      ->Unit(benchmark::kMillisecond)
SIZES(BM_RescaleFreeImage);
SIZES(BM_RescaleBspline, , 0);
SIZES(BM_RescaleBsplineSse2, , 0);
BENCHMARK(BM_RescaleBspline)
    ->Args({640, 480, 320, 240, 1})
    ->Args({1920, 1080, 624, 419, 1})
    ->Unit(benchmark::kMillisecond);

// --- the whole frame display
// -----------------------------------------------------------

// A window of the client size with the built-in skin's edges: 8 left and
// right, 26 above, 35 below, as the skin lays the video area out.
struct Screen {
  plat::HWND hwnd = nullptr;
  t_Skin skin[kSkinCount];
  int clW = 0, clH = 0;
};

Screen &ScreenFor(int dw, int dh) {
  static std::map<std::pair<int, int>, Screen> screens;
  Screen &s = screens[{dw, dh}];
  if (s.hwnd != nullptr)
    return s;
  static bool started = [] {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    plat::Initialize();
    plat::WindowClass wc;
    wc.name = "BenchFrame";
    wc.proc = plat::DefWindowProc;
    return plat::RegisterClass(wc);
  }();
  (void)started;
  s.clW = dw + 16;
  s.clH = dh + 26 + 35;
  s.hwnd = plat::CreateWindow("BenchFrame", "bench", plat::WS_POPUP, 0, 0,
                              s.clW, s.clH);
  plat::ShowWindow(s.hwnd, plat::SW_SHOW);
  s.skin[SKIN_L].Width = 8;
  s.skin[SKIN_R].Width = 8;
  s.skin[SKIN_T].Height = 26;
  s.skin[SKIN_B].Height = 35;
  s.skin[SKIN_POZADI].PosX = 26;
  s.skin[SKIN_POZADI].PosY = 8;
  return s;
}

// The frame display as it was: FreeImage decode from the frame file,
// FreeImage_Rescale, 32-bit conversion, flip, draw.
void ShowJPEGBefore(plat::HWND hwnd, const char *name, int W, int H, int x,
                    int y) {
  FILE *file = std::fopen(name, "rb");
  FreeImageIO io{myReadProc, nullptr, mySeekProc, myTellProc};
  FIBITMAP *header =
      FreeImage_LoadFromHandle(FIF_JPEG, &io, file, FIF_LOAD_NOPIXELS);
  FreeImage_Unload(header);
  std::fseek(file, 0, SEEK_SET);
  FIBITMAP *image = FreeImage_LoadFromHandle(FIF_JPEG, &io, file, 0);
  std::fclose(file);
  FIBITMAP *scaled = FreeImage_Rescale(image, W, H, FILTER_BSPLINE);
  FreeImage_Unload(image);
  FIBITMAP *pixels = FreeImage_ConvertTo32Bits(scaled);
  FreeImage_Unload(scaled);
  FreeImage_FlipVertical(pixels);
  plat::HDC hdc = plat::GetDC(hwnd);
  plat::DrawPixels(hdc, x, y, W, H, FreeImage_GetBits(pixels),
                   static_cast<int>(FreeImage_GetPitch(pixels)));
  plat::ReleaseDC(hwnd, hdc);
  FreeImage_Unload(pixels);
}

void BM_ShowJPEG(benchmark::State &state) {
  const int w = static_cast<int>(state.range(0)),
            h = static_cast<int>(state.range(1));
  const int dw = static_cast<int>(state.range(2)),
            dh = static_cast<int>(state.range(3));
  const bool before = state.range(4) != 0;
  Screen &s = ScreenFor(dw, dh);
  const std::string file = FrameFile(w, h);
  for (auto _ : state) {
    if (before)
      ShowJPEGBefore(s.hwnd, file.c_str(), dw, dh, 8, 26);
    else
      ShowJPEG(s.hwnd, file.c_str(), s.clW, s.clH, s.skin);
  }
  state.SetLabel(before ? "before: FreeImage_Rescale" : "now");
  std::filesystem::remove(file);
}
SIZES(BM_ShowJPEG, , 1);
SIZES(BM_ShowJPEG, , 0);

// --- the visitors' record's picture buffer
// ---------------------------------------------------------
// What the reader's hand-in costs a picture (gathered bytes handed over,
// the oldest let go), and what the buffer holds at 25 pictures a second:
// a new picture each time, as the reader hands them in.
void BM_PictureBuffer(benchmark::State &state) {
  const std::string &jpeg =
      Jpeg(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  const std::vector<std::uint8_t> bytes(jpeg.begin(), jpeg.end());
  visits::t_PictureBuffer buffer;
  std::int64_t at = 0;
  std::size_t held = 0, pictures = 0;
  for (auto _ : state) {
    auto picture = std::make_shared<const std::vector<std::uint8_t>>(bytes);
    buffer.Add(at += 40, std::move(picture));
    held = std::max(held, buffer.Bytes());
    pictures = std::max(pictures, buffer.Count());
  }
  state.counters["held_MiB"] = static_cast<double>(held) / (1 << 20);
  state.counters["held_pictures"] = static_cast<double>(pictures);
  state.counters["picture_KiB"] = static_cast<double>(bytes.size()) / 1024;
}
BENCHMARK(BM_PictureBuffer)->Args({640, 480})->Args({1920, 1080});

} // namespace

BENCHMARK_MAIN();
