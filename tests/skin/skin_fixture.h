// Shared by the skin tests: a working folder of the test's own (the skin
// files are looked up in the current directory), the loaded skin, and a real
// skinned window on the offscreen platform whose surface the tests read.
#pragma once

#include <gtest/gtest.h>

#include <QImage>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "instance/identity.h"
#include "instance/settings.h"
#include "platform/gdi.h"
#include "platform/test_hooks.h"
#include "platform/window.h"
#include "resources/resources.h"
#include "shell/main.h"
#include "skin/skin.h"
#include "support/pump.h"
#include "support/temp_dir.h"

// The window procedure's skin routing, as the main window has it.
inline plat::LRESULT SkinTestProc(plat::HWND hwnd, plat::UINT message,
                                  plat::WPARAM wParam, plat::LPARAM lParam) {
  switch (message) {
  case plat::WM_SIZE:
    ShowData.ClientWidth = static_cast<int>(plat::LOWORD(lParam));
    ShowData.ClientHeight = static_cast<int>(plat::HIWORD(lParam));
    SkinBitmapPos(Skin, ShowData.ClientHeight, ShowData.ClientWidth);
    break;
  case plat::WM_GETMINMAXINFO:
    reinterpret_cast<plat::MINMAXINFO *>(lParam)->ptMinTrackSize =
        SkinMinTrackSize(Skin);
    break;
  case plat::WM_NCHITTEST:
    return MyNCHitTest(hwnd, message, wParam, lParam);
  default:
    break;
  }
  return plat::DefWindowProc(hwnd, message, wParam, lParam);
}

// An element's image as the test decodes it itself: the built-in one, or
// the override file.
inline QImage BuiltinImage(int index) {
  const res::ResourceData data =
      res::FindResource(kSkinFirstResourceId + index);
  QImage image;
  image.loadFromData(data.data, static_cast<int>(data.size), "BMP");
  return image.convertToFormat(QImage::Format_RGB32);
}

inline std::uint32_t Rgb(const QImage &image, int x, int y) {
  return image.pixel(x, y) & 0xFFFFFFu;
}

class SkinTest : public ::testing::Test {
protected:
  void SetUp() override {
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path());
    std::filesystem::create_directory("Skin");
    for (t_Skin &e : Skin) {
      e.Name = nullptr;
      e.ShBitmap = nullptr;
      e.PosX = e.PosY = e.Width = e.Height = 0;
    }
    SetInitialDisplayState();
    ShowData.title.Set("");
  }

  void TearDown() override {
    if (g_hwndMain) {
      plat::DestroyWindow(g_hwndMain);
      g_hwndMain = nullptr;
    }
    FreeSkin(Skin);
    std::filesystem::current_path(previous_);
  }

  // Writes Skin/<name> with the image in the given format ("BMP", "PNG"...).
  static void WriteSkinImage(const std::string &name, const QImage &image,
                             const char *format) {
    ASSERT_TRUE(image.save(QString::fromStdString("Skin/" + name), format));
  }

  static QImage Solid(int w, int h, QRgb colour) {
    QImage image(w, h, QImage::Format_RGB888);
    image.fill(colour);
    return image;
  }

  void LoadSkin(int width = kDefaultClientWidth,
                int height = kDefaultClientHeight) {
    InitSkin(nullptr, Skin);
    SkinBitmapPos(Skin, height, width);
  }

  // The main window at (x, y) with the given size, the skin laid out for it.
  void OpenWindow(int width, int height, int x = 100, int y = 50) {
    static const bool started = [] {
      if (!plat::Initialize())
        return false;
      plat::WindowClass wc;
      wc.name = "VestibellSkinTest";
      wc.proc = SkinTestProc;
      return plat::RegisterClass(wc);
    }();
    ASSERT_TRUE(started);
    ShowData.ClientWidth = width;
    ShowData.ClientHeight = height;
    g_hwndMain = plat::CreateWindow("VestibellSkinTest", kAppTitle,
                                    plat::WS_POPUP, x, y, width, height);
    ASSERT_NE(g_hwndMain, nullptr);
    InitSkin(g_hwndMain, Skin);
    SkinBitmapPos(Skin, height, width);
  }

  // Lets the window thread handle what the painting handed to it.
  static void Settle() { PumpFor(std::chrono::milliseconds(30)); }

  plat::SurfaceCopy Surface() {
    Settle();
    plat::SurfaceCopy copy = plat::CopySurface(g_hwndMain);
    // VESTIBELL_SKIN_SHOTS=<folder> keeps what each test saw, for a person
    // to look at.
    if (const char *folder = std::getenv("VESTIBELL_SKIN_SHOTS")) {
      QImage shot(copy.width, copy.height, QImage::Format_RGB32);
      for (int y = 0; y < copy.height; ++y)
        for (int x = 0; x < copy.width; ++x)
          shot.setPixel(x, y, 0xFF000000u | copy.at(x, y));
      const auto *info =
          ::testing::UnitTest::GetInstance()->current_test_info();
      shot.save(QString::fromStdString(
          std::string(folder) + "/" + info->test_suite_name() + "." +
          info->name() + "." + std::to_string(++shots_) + ".png"));
    }
    return copy;
  }

  // How many pixels of the element's place on the surface differ from the
  // element's image (only the part inside the surface counts).
  static int Mismatches(const plat::SurfaceCopy &s, int index,
                        const QImage &image) {
    const t_Skin &e = Skin[index];
    int bad = 0;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x) {
        const int sx = e.PosY + x, sy = e.PosX + y;
        if (sx < 0 || sy < 0 || sx >= s.width || sy >= s.height)
          continue;
        if (s.at(sx, sy) != Rgb(image, x, y))
          ++bad;
      }
    return bad;
  }
  static int Mismatches(const plat::SurfaceCopy &s, int index) {
    return Mismatches(s, index, BuiltinImage(index));
  }

  TempDir dir_;
  std::filesystem::path previous_;
  int shots_ = 0;
};
