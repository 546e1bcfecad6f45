// Module display state: what the main window shows, shared by the window
// thread, the video reader and the relay threads.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>

struct t_Skin;

// A fixed-size NUL-terminated text that one thread writes while others read
// it. Every access copies the whole text under a small lock, so a reader
// never sees half of an old and half of a new title.
template <std::size_t N> class SharedText {
public:
  SharedText() = default;
  explicit SharedText(const char *text) { Set(text); }
  SharedText(const SharedText &other) { other.CopyTo(text_, N); }
  SharedText &operator=(const SharedText &other) {
    if (this != &other) {
      char copy[N];
      other.CopyTo(copy, N);
      Set(copy);
    }
    return *this;
  }
  // Stores at most N - 1 bytes of `text`.
  void Set(const char *text) {
    const std::size_t n = strnlen(text, N - 1);
    std::lock_guard lock(mutex_);
    std::memcpy(text_, text, n);
    text_[n] = '\0';
  }
  // Copies into `out` (at most size - 1 bytes and a NUL).
  void CopyTo(char *out, std::size_t size) const {
    if (size == 0)
      return;
    std::lock_guard lock(mutex_);
    const std::size_t n = strnlen(text_, size - 1);
    std::memcpy(out, text_, n);
    out[n] = '\0';
  }
  static constexpr std::size_t size() { return N; }

private:
  mutable std::mutex mutex_;
  char text_[N] = {};
};

// The client area's size as one value.
struct t_ClientSize {
  int width = 0;
  int height = 0;
  bool operator==(const t_ClientSize &) const = default;
};

// Both halves of the size in one atomic word, so that a reader never takes
// the width of one resize and the height of another.
class SharedSize {
public:
  t_ClientSize load() const { return Unpack(word_.load()); }
  void store(t_ClientSize size) { word_.store(Pack(size)); }
  // Changes one half, keeping whatever the other half holds.
  void StoreHalf(bool height, int value) {
    std::uint64_t old = word_.load();
    for (;;) {
      t_ClientSize size = Unpack(old);
      (height ? size.height : size.width) = value;
      if (word_.compare_exchange_weak(old, Pack(size)))
        return;
    }
  }

private:
  static std::uint64_t Pack(t_ClientSize s) {
    return static_cast<std::uint64_t>(static_cast<std::uint32_t>(s.width))
               << 32 |
           static_cast<std::uint32_t>(s.height);
  }
  static t_ClientSize Unpack(std::uint64_t w) {
    return {static_cast<int>(static_cast<std::uint32_t>(w >> 32)),
            static_cast<int>(static_cast<std::uint32_t>(w))};
  }
  std::atomic<std::uint64_t> word_{0};
};

// One half of a SharedSize under its old name, for code that sets or reads
// a single half (the configuration's "Width" and "Height" keys).
class SizeHalf {
public:
  SizeHalf(SharedSize &size, bool height) : size_(size), height_(height) {}
  SizeHalf &operator=(int value) {
    size_.StoreHalf(height_, value);
    return *this;
  }
  SizeHalf &operator=(const SizeHalf &other) { return *this = other.load(); }
  int load() const {
    const t_ClientSize s = size_.load();
    return height_ ? s.height : s.width;
  }
  operator int() const { return load(); }

private:
  SharedSize &size_;
  bool height_;
};

// What the top edge says in place of the door unit's title (callLine).
enum : int {
  kLineTitle = 0,   // the title
  kLineCalling = 1, // "Calling <title>..."
  kLineInCall = 2,  // "In call 0:42", counted from callSince
  kLineNote = 3,    // callNote, for a while from callSince
};

// Each field is written whole and read whole by several threads, hence
// atomic; a copy (the painting functions take one) loads every field once.
// Code that needs width and height together reads Size, once.
struct t_ShowData {
  SharedSize Size;
  SizeHalf ClientWidth{Size, false};
  SizeHalf ClientHeight{Size, true};
  std::atomic<int> Button{0};
  std::atomic<int> Kill_TCP{0};
  std::atomic<int> call{0};
  std::atomic<int> lin_call{0};
  SharedText<64> title;
  std::atomic<t_Skin *> Skin{nullptr};
  // The call's state on the top edge: written by the window thread, read
  // by every painter. callSince is on the steady clock, in milliseconds.
  std::atomic<int> callLine{kLineTitle};
  std::atomic<std::int64_t> callSince{0};
  SharedText<48> callNote;
  // Why the door unit cannot be reached, under "Connecting, please
  // wait..."; empty when not known. Written by the reader.
  SharedText<128> why;
  // The stream is read but its pictures cannot be shown (no frame file):
  // the window shows the not-connected screen all the same. The reader's.
  std::atomic<int> noPictures{0};

  t_ShowData() = default;
  t_ShowData(const t_ShowData &o)
      : Button(o.Button.load()), Kill_TCP(o.Kill_TCP.load()),
        call(o.call.load()), lin_call(o.lin_call.load()), title(o.title),
        Skin(o.Skin.load()), callLine(o.callLine.load()),
        callSince(o.callSince.load()), callNote(o.callNote), why(o.why),
        noPictures(o.noPictures.load()) {
    Size.store(o.Size.load());
  }
  t_ShowData &operator=(const t_ShowData &) = delete;
};

// The built-in skin's natural client size: the first window size and the
// defaults of "Width" and "Height".
inline constexpr int kDefaultClientWidth = 336;
inline constexpr int kDefaultClientHeight = 301;

extern t_ShowData ShowData;
