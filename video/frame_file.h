// The frame file: where the reader stores each picture of the stream for the
// frame display to decode. One open file per run of the reader, rewritten
// from its start for every picture. Reader thread only.
#pragma once

#include <cstddef>
#include <cstdio>
#include <vector>

#include "platform/window.h"

class t_FrameFile {
public:
  // Picture bytes beyond this are dropped (the cut picture is not drawn).
  static constexpr std::size_t kMaxFrameBytes = 32u << 20;

  t_FrameFile() = default;
  t_FrameFile(const t_FrameFile &) = delete;
  t_FrameFile &operator=(const t_FrameFile &) = delete;
  ~t_FrameFile() { Close(); }

  // Makes the file at NameJPEG, empty; when it cannot be made, the user is
  // told once per process (through `hwnd`) and the pictures are lost.
  void Open(plat::HWND hwnd);
  // Appends bytes of the current picture.
  void Append(const unsigned char *bytes, std::size_t length);
  // The picture is complete: the file holds it and nothing else.
  void EndPicture();
  // The next picture goes in from the start of the file.
  void NextPicture();
  void Close();
  // Whether the file was made (pictures can be shown).
  bool IsOpen() const { return file_ != nullptr; }
  // Bytes of the current picture stored so far.
  std::size_t Stored() const { return stored_; }

private:
  void WriteFailed();

  plat::HWND hwnd_ = nullptr;
  FILE *file_ = nullptr;
  std::size_t stored_ = 0;
  // A camera picture goes out in one or two writes rather than one per
  // 4 KiB, which counts most while the window is hidden and the file is all
  // the work a part makes.
  std::vector<char> buffer_;
};
