// /video.mjpg: one paced stream of parts per connection, with the faults
// that control commands inject.
#include <fstream>
#include <memory>
#include <random>

#include "sim_state.h"
#include "sim_stream.h"
#include "stream_part.h"
#include "test_picture.h"

namespace {

// One /video.mjpg connection. Lives as long as httplib keeps its provider.
class Stream {
public:
  Stream(unsigned long id, std::string peer)
      : id_(id), peer_(std::move(peer)),
        random_(static_cast<std::mt19937::result_type>(
            g_options.seed * 1000003ul + id)) {
    std::lock_guard lock(g_mutex);
    seen_ = g_generations;
    next_part_ = Clock::now();
    if (!g_options.record_dir.empty()) {
      std::string base = g_options.record_dir + "/stream-" + std::to_string(id);
      record_bin_.open(base + ".bin", std::ios::binary);
      record_index_.open(base + ".txt");
    }
    ++g_open_streams;
    Log("stream " + std::to_string(id_) + " open for " + peer_);
  }

  ~Stream() {
    --g_open_streams;
    Log("stream " + std::to_string(id_) + " closed after " +
        std::to_string(parts_) + " parts");
  }

  // Sends the next part; false ends the connection.
  bool SendPart(httplib::DataSink &sink) {
    Settings settings;
    Generations now;
    {
      std::lock_guard lock(g_mutex);
      settings = g_settings;
      now = g_generations;
    }
    if (g_stopping || now.drop != seen_.drop)
      return Close("dropped");
    if (settings.drop_after > 0 &&
        parts_ >= static_cast<unsigned long>(settings.drop_after))
      return Close("dropped after " + std::to_string(parts_) + " parts");

    // Pace the parts; a drop or stop cuts the wait short. Unpaced (--fps 0)
    // the next part goes as soon as the client has taken the last one.
    if (g_options.fps > 0) {
      if (!SleepWhile(next_part_ - Clock::now(), [&] { return Alive(); }))
        return Close("dropped");
      auto period = std::chrono::duration_cast<Clock::duration>(
          std::chrono::duration<double>(1.0 / g_options.fps));
      next_part_ = std::max(next_part_ + period, Clock::now() - period);
    }

    std::string picture = NextPicture(settings);
    PartContent content;
    content.flag = settings.flag;
    content.title = settings.title;
    content.picture = &picture;

    std::string lead;
    if (now.garbage != seen_.garbage) {
      seen_.garbage = now.garbage;
      for (int i = 0; i < settings.garbage_bytes; ++i)
        lead += static_cast<char>(random_() & 0xFF);
      Fault("garbage " + std::to_string(settings.garbage_bytes));
    }
    if (now.badjpeg != seen_.badjpeg) {
      seen_.badjpeg = now.badjpeg;
      content.bad_first_byte = true;
      Fault("badjpeg");
    }
    if (now.nodigits != seen_.nodigits) {
      seen_.nodigits = now.nodigits;
      content.no_digits = true;
      Fault("nodigits");
    }
    if (now.longtitle != seen_.longtitle) {
      seen_.longtitle = now.longtitle;
      content.title.clear();
      for (int i = 0; i < settings.longtitle_length; ++i)
        content.title += static_cast<char>('A' + i % 26);
      Fault("longtitle " + std::to_string(settings.longtitle_length));
    }

    std::size_t picture_offset = 0;
    std::string part = lead + ComposePart(content, &picture_offset);
    picture_offset += lead.size();
    if (record_index_.is_open())
      record_index_ << "part " << parts_ << " flag " << content.flag
                    << " length " << (content.no_digits ? 0 : picture.size())
                    << " offset " << (sent_ + picture_offset) << " title "
                    << content.title << "\n"
                    << std::flush;

    std::size_t first = 0;
    if (now.stall != seen_.stall) {
      seen_.stall = now.stall;
      Fault("stall " + std::to_string(settings.stall_seconds));
      first = part.size() / 2;
      if (!Write(sink, part.data(), first, settings))
        return Close("closed by the client");
      auto stall = std::chrono::duration_cast<Clock::duration>(
          std::chrono::duration<double>(settings.stall_seconds));
      if (!SleepWhile(stall, [&] { return Alive(); }))
        return Close("dropped");
      next_part_ = Clock::now();
    }
    if (!Write(sink, part.data() + first, part.size() - first, settings))
      return Close("closed by the client");
    ++parts_;
    ++g_frames_sent;
    return true;
  }

private:
  bool Alive() {
    if (g_stopping)
      return false;
    std::lock_guard lock(g_mutex);
    return g_generations.drop == seen_.drop;
  }

  bool Close(const std::string &why) {
    Log("stream " + std::to_string(id_) + " " + why);
    return false;
  }

  void Fault(const std::string &what) {
    Log("stream " + std::to_string(id_) + " fault " + what);
    if (record_index_.is_open())
      record_index_ << "fault " << what << "\n";
  }

  std::string NextPicture(const Settings &settings) {
    if (settings.colour >= 0)
      return MakeSolidPicture(settings.colour, g_options.size,
                              g_options.quality);
    if (!g_folder_frames.empty())
      return g_folder_frames[parts_ % g_folder_frames.size()];
    return MakeTestPicture(parts_, g_options.size, g_options.quality);
  }

  bool Write(httplib::DataSink &sink, const char *data, std::size_t size,
             const Settings &settings) {
    std::size_t done = 0;
    while (done < size) {
      std::size_t piece = size - done;
      if (settings.tiny_max > 0)
        piece = std::min<std::size_t>(
            piece, random_() % static_cast<unsigned>(settings.tiny_max) + 1);
      if (!sink.write(data + done, piece))
        return false;
      if (record_bin_.is_open())
        record_bin_.write(data + done, static_cast<std::streamsize>(piece));
      done += piece;
      sent_ += piece;
      if (settings.tiny_max > 0 && settings.tiny_gap_ms > 0 &&
          !SleepWhile(std::chrono::milliseconds(settings.tiny_gap_ms),
                      [&] { return Alive(); }))
        return false;
    }
    if (record_bin_.is_open())
      record_bin_.flush();
    return true;
  }

  unsigned long id_;
  std::string peer_;
  std::mt19937 random_;
  Generations seen_;
  Clock::time_point next_part_;
  unsigned long parts_ = 0;
  unsigned long sent_ = 0;
  std::ofstream record_bin_;
  std::ofstream record_index_;
};

} // namespace

std::string Peer(const httplib::Request &request) {
  return request.remote_addr + ":" + std::to_string(request.remote_port);
}

void ServeVideo(const httplib::Request &request, httplib::Response &response) {
  int error_code = 0;
  {
    std::lock_guard lock(g_mutex);
    if (g_settings.error_code != 0) {
      error_code = g_settings.error_code;
      if (g_settings.error_left > 0 && --g_settings.error_left == 0)
        g_settings.error_code = 0;
    }
  }
  if (error_code != 0) {
    ++g_error_pages;
    Log("video request from " + Peer(request) + " answered with error " +
        std::to_string(error_code));
    response.status = error_code;
    response.set_content(
        "<html><head><title>Error " + std::to_string(error_code) +
            "</title></head><body><h1>Error " + std::to_string(error_code) +
            "</h1><p>The camera is not available.</p>"
            "</body></html>\n",
        "text/html");
    return;
  }
  auto stream = std::make_shared<Stream>(++g_connections, Peer(request));
  auto provider = [stream](std::size_t, httplib::DataSink &sink) {
    return stream->SendPart(sink);
  };
  if (g_options.chunked)
    response.set_chunked_content_provider(kStreamContentType, provider);
  else
    response.set_content_provider(kStreamContentType, provider);
}
