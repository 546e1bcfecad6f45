// The checks of what the door unit sends and what the user types.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "video/door_input.h"

namespace {

std::string Plain(std::string title) {
  PlainTitle(title.data());
  return title;
}

TEST(DoorInput, TitlesLoseTheirControlCharactersAndKeepTheRest) {
  const struct {
    std::string sent, shown;
  } cases[] = {
      {"Front door", "Front door"},
      {"", ""},
      {"<img src=/etc/passwd>", "<img src=/etc/passwd>"}, // text, not markup
      {"a\tb\x01\x1b[2Jc\x1f", "a?b??[2Jc?"},
      {"del\x7f", "del?"},
      {"c1 \x80\x85\x9b\x9f", "c1 ????"},
      // Latin-1 from NBSP on is text.
      {"Caf\xe9 \xa0\xad\xff", "Caf\xe9 \xa0\xad\xff"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(Plain(c.sent), c.shown) << c.sent;
}

TEST(DoorInput, OnlyHostAndPortMakeADoorAddress) {
  const struct {
    const char *address;
    bool valid;
  } cases[] = {
      {"192.168.1.250", true},
      {"127.0.0.1:8080", true},
      {"door-unit.local", true},
      {"DOOR1:1", true},
      {"door:65535", true},
      {"[::1]", true},
      {"[fe80::1]:80", true},
      {"[::ffff:127.0.0.1]:8080", true},
      {"", false},
      {":80", false},
      {"door:", false},
      {"door:0", false},
      {"door:65536", false},
      {"door:99999999999", false},
      {"door:8o", false},
      {"door:+80", false},
      {"127.0.0.1:80/cgi-bin/remctrl.sh?id=relay1&", false},
      {"host/cgi-bin/remctrl.sh?id=relay1&", false},
      {"user:pw@host", false},
      {"user@host", false},
      {"host#", false},
      {"host?x", false},
      {"host name", false},
      {"host\r\nX-Evil: 1", false},
      {"http://host", false},
      {"::1", false},
      {"[::1", false},
      {"[]", false},
      {"[1.2.3.4]", false},
      {"[::1]x", false},
      {"[::1]:", false},
      {"[::1%eth0]", false},
      {"[::g]", false},
      {"h\xc3\xa9", false},
  };
  for (const auto &c : cases)
    EXPECT_EQ(DoorAddressValid(c.address), c.valid) << "'" << c.address << "'";
  EXPECT_FALSE(DoorAddressValid(nullptr));
}

std::vector<unsigned char> Jpeg(const QImage &picture, int quality) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  EXPECT_TRUE(picture.save(&buffer, "JPEG", quality));
  return {bytes.begin(), bytes.end()};
}

// The frame header's offset: the first SOF0 marker.
std::size_t Sof(const std::vector<unsigned char> &j) {
  for (std::size_t i = 2; i + 1 < j.size(); ++i)
    if (j[i] == 0xFF && j[i + 1] == 0xC0)
      return i;
  ADD_FAILURE() << "no SOF0";
  return 0;
}

// The same bytes, declaring another size (and frame marker).
std::vector<unsigned char> Declaring(std::vector<unsigned char> j, unsigned w,
                                     unsigned h, unsigned char marker = 0xC0) {
  const std::size_t at = Sof(j);
  j[at + 1] = marker;
  j[at + 5] = static_cast<unsigned char>(h >> 8);
  j[at + 6] = static_cast<unsigned char>(h);
  j[at + 7] = static_cast<unsigned char>(w >> 8);
  j[at + 8] = static_cast<unsigned char>(w);
  return j;
}

QImage Filled(int w, int h, QRgb colour) {
  QImage picture(w, h, QImage::Format_RGB32);
  picture.fill(colour);
  return picture;
}

QImage Noise(int w, int h) {
  QImage picture(w, h, QImage::Format_RGB32);
  std::mt19937 random(7);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      picture.setPixel(x, y, random() & 0xFFFFFF);
  return picture;
}

TEST(DoorInput, RealPicturesPassAndSizesTheirBytesCannotHoldAreRefused) {
  // Whatever a camera or encoder makes passes, the emptiest pictures at the
  // lowest quality included, and its declared size is read right.
  const struct {
    QImage picture;
    int quality;
  } real[] = {
      {Filled(1920, 1080, 0x000000), 1},
      {Filled(4096, 4096, 0x808080), 1},
      {Filled(640, 480, 0xFFFFFF), 50},
      {Filled(16, 16, 0x000000), 1},
      {Noise(640, 480), 80},
      {Noise(31, 7), 95},
  };
  for (const auto &r : real) {
    const auto bytes = Jpeg(r.picture, r.quality);
    t_JpegFrame frame;
    EXPECT_TRUE(JpegPlausible(bytes.data(), bytes.size(), &frame))
        << r.picture.width() << "x" << r.picture.height() << " in "
        << bytes.size() << " bytes";
    EXPECT_EQ(frame.width, static_cast<unsigned>(r.picture.width()));
    EXPECT_EQ(frame.height, static_cast<unsigned>(r.picture.height()));
    EXPECT_FALSE(frame.arithmetic);
  }

  const auto tiny = Jpeg(Filled(16, 16, 0x203040), 75); // a few hundred bytes
  ASSERT_LT(tiny.size(), 1000u);
  const struct {
    std::vector<unsigned char> bytes;
    bool plausible;
  } cases[] = {
      {Declaring(tiny, 8192, 8192), false}, // the attack: 67 Mpixels
      {Declaring(tiny, 4096, 4096), false},
      {Declaring(tiny, 640, 480), true},
      {Declaring(tiny, 16, 16, 0xC2), true},  // progressive
      {Declaring(tiny, 16, 16, 0xC9), false}, // arithmetic coding
      {Declaring(tiny, 0, 16), false},
      {Declaring(tiny, 16, 0), false},
      {Declaring(tiny, 9000, 1), false},
      {Declaring(tiny, 1500, 1500), false},
  };
  for (const auto &c : cases)
    EXPECT_EQ(JpegPlausible(c.bytes.data(), c.bytes.size()), c.plausible)
        << &c - cases;
}

TEST(DoorInput, DamagedHeadersAreRefusedWithoutReadingPastTheBytes) {
  const auto good = Jpeg(Filled(64, 48, 0x102030), 75);
  const std::size_t sof = Sof(good);
  // Every cut of the bytes up to the frame header: refused, read no further
  // than the cut (each copy is exactly as long as the cut, so a sanitizer or
  // the checks below would catch a read past it).
  for (std::size_t cut = 0; cut < sof + 9; ++cut) {
    std::vector<unsigned char> part(good.begin(), good.begin() + cut);
    EXPECT_FALSE(JpegPlausible(part.data(), part.size())) << cut;
  }
  std::vector<unsigned char> bad = good;
  bad[1] = 0xD9; // no start of image
  EXPECT_FALSE(JpegPlausible(bad.data(), bad.size()));
  bad = good;
  bad[2] = 0x00; // garbage where a marker belongs
  EXPECT_FALSE(JpegPlausible(bad.data(), bad.size()));
  bad = good;
  bad[4] = 0xFF; // a segment length running past the end
  bad[5] = 0xFF;
  EXPECT_FALSE(JpegPlausible(bad.data(), bad.size()));
  bad = good;
  bad[4] = 0x00; // a segment length below its own two bytes
  bad[5] = 0x01;
  EXPECT_FALSE(JpegPlausible(bad.data(), bad.size()));
  // A scan before any frame header.
  const unsigned char scanFirst[] = {0xFF, 0xD8, 0xFF, 0xDA, 0x00, 0x02};
  EXPECT_FALSE(JpegPlausible(scanFirst, sizeof scanFirst));
  EXPECT_FALSE(JpegPlausible(nullptr, 0));
}

} // namespace
