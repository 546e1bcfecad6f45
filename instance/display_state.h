// Module display state: what the main window shows, shared by the window
// thread, the video reader and the relay threads.
#pragma once

#include <atomic>
#include <cstddef>
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

// Each field is written whole and read whole by several threads, hence
// atomic; a copy (the painting functions take one) loads every field once.
struct t_ShowData {
  std::atomic<int> ClientWidth{0};
  std::atomic<int> ClientHeight{0};
  std::atomic<int> Button{0};
  std::atomic<int> Kill_TCP{0};
  std::atomic<int> call{0};
  std::atomic<int> lin_call{0};
  SharedText<64> title;
  std::atomic<t_Skin *> Skin{nullptr};

  t_ShowData() = default;
  t_ShowData(const t_ShowData &o)
      : ClientWidth(o.ClientWidth.load()), ClientHeight(o.ClientHeight.load()),
        Button(o.Button.load()), Kill_TCP(o.Kill_TCP.load()),
        call(o.call.load()), lin_call(o.lin_call.load()), title(o.title),
        Skin(o.Skin.load()) {}
  t_ShowData &operator=(const t_ShowData &) = delete;
};

// The built-in skin's natural client size: the first window size and the
// defaults of "Width" and "Height".
inline constexpr int kDefaultClientWidth = 336;
inline constexpr int kDefaultClientHeight = 301;

extern t_ShowData ShowData;
