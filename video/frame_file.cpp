#include "video/frame_file.h"

#include <atomic>
#include <string>

#include "instance/settings.h"
#include "platform/files.h"
#include "platform/message_box.h"

namespace {

constexpr std::size_t kFileBuffer = 256u << 10;

// A settings folder where the frame file cannot be made, or cannot take
// its pictures, would leave the picture blank without a word. The user
// hears of each once per process, from the window thread, so this thread
// never waits for a click.
std::atomic<bool> g_toldCannotMake{false};
std::atomic<bool> g_toldCannotWrite{false};

// `writing`: the file was made but its pictures did not go in (a full
// disk, a quota).
void TellFrameFileFailed(plat::HWND hwnd, bool writing) {
  if ((writing ? g_toldCannotWrite : g_toldCannotMake).exchange(true))
    return;
  std::string folder = NameJPEG;
  folder = folder.substr(0, folder.rfind('/'));
  if (folder.empty())
    folder = "(its path is too long)";
  const std::string text =
      (writing ? "Frame file error: cannot write to the settings folder " +
                     folder + " (is the disk full?)"
               : "Frame file error: cannot create a file in the settings "
                 "folder " +
                     folder) +
      "\nThe door camera's picture cannot be shown.";
  plat::PostMessageBox(hwnd, text.c_str(), "Error", plat::MB_ICONHAND);
}

} // namespace

void t_FrameFile::Open(plat::HWND hwnd) {
  hwnd_ = hwnd;
  file_ = plat::CreatePrivateFile(NameJPEG);
  stored_ = 0;
  if (file_ != nullptr) {
    buffer_.resize(kFileBuffer);
    std::setvbuf(file_, buffer_.data(), _IOFBF, buffer_.size());
  } else {
    TellFrameFileFailed(hwnd_, false);
  }
}

void t_FrameFile::Append(const unsigned char *bytes, std::size_t length) {
  // A frame file that could not be made loses its pictures, nothing more.
  if (file_ == nullptr || stored_ + length > kMaxFrameBytes)
    return;
  const std::size_t written = std::fwrite(bytes, 1, length, file_);
  stored_ += written;
  if (written < length)
    WriteFailed();
}

// The file stays open for the next picture; opening and emptying it anew for
// every part was most of what a part cost while the window is hidden.
void t_FrameFile::EndPicture() {
  if (file_ == nullptr)
    return;
  if (!plat::TruncateFile(file_, stored_))
    WriteFailed();
}

// A short write is a failure like a file that cannot be made: the picture
// is lost, the user hears of it once, and the next picture starts from a
// new file.
void t_FrameFile::WriteFailed() {
  std::fclose(file_);
  file_ = nullptr;
  TellFrameFileFailed(hwnd_, true);
}

void t_FrameFile::NextPicture() {
  if (file_ == nullptr || std::fseek(file_, 0, SEEK_SET) != 0) {
    if (file_ != nullptr)
      std::fclose(file_);
    file_ = nullptr;
    Open(hwnd_);
    return;
  }
  stored_ = 0;
}

void t_FrameFile::Close() {
  if (file_ != nullptr)
    std::fclose(file_);
  file_ = nullptr;
}
