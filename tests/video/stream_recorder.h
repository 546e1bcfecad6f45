// Binds the stream parser to a recorder, so a test can compare what the
// parser yields with what was sent.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include "video/mjpeg_parser.h"

struct StreamEvent {
  char kind; // 'C' call flag, 'T' title, 'F' completed frame
  std::string text;
  bool operator==(const StreamEvent &) const = default;
};

// Readable test failures: frames by size and first bytes.
inline void PrintTo(const StreamEvent &e, std::ostream *os) {
  *os << e.kind << ":";
  if (e.kind == 'F')
    *os << e.text.size() << " bytes";
  else
    *os << '"' << e.text << '"';
}

struct StreamRecorder {
  std::vector<StreamEvent> events;
  std::string picture;                  // bytes of the frame in progress
  std::vector<std::size_t> pieces;      // sizes of its pieces, in order
  std::vector<std::size_t> last_pieces; // pieces of the last completed frame
  bool keep_parsing = true;             // what OnFrame answers
  t_MjpegRun run;

  t_MjpegSink Sink() {
    t_MjpegSink sink;
    sink.context = this;
    sink.OnCall = [](void *c, char flag) {
      static_cast<StreamRecorder *>(c)->events.push_back({'C', {flag}});
    };
    sink.OnTitle = [](void *c, const char *title) {
      static_cast<StreamRecorder *>(c)->events.push_back({'T', title});
    };
    sink.OnPicture = [](void *c, const unsigned char *bytes, std::size_t n) {
      auto *r = static_cast<StreamRecorder *>(c);
      r->picture.append(reinterpret_cast<const char *>(bytes), n);
      r->pieces.push_back(n);
    };
    sink.OnFrame = [](void *c) {
      auto *r = static_cast<StreamRecorder *>(c);
      r->events.push_back({'F', r->picture});
      r->picture.clear();
      r->last_pieces = r->pieces;
      r->pieces.clear();
      return r->keep_parsing;
    };
    return sink;
  }

  // A fresh parser, as at program start, and a new run.
  void StartProgram() {
    MjpegResetParser();
    MjpegStartRun(run);
  }

  void Feed(const std::string &block) {
    MjpegParseBlock(run, Sink(),
                    reinterpret_cast<const unsigned char *>(block.data()),
                    static_cast<int>(block.size()));
  }

  // Feeds `stream` in blocks of the given lengths, then in blocks of 1024.
  void FeedCut(const std::string &stream,
               const std::vector<std::size_t> &cuts) {
    std::size_t at = 0;
    for (std::size_t length : cuts) {
      if (at >= stream.size())
        return;
      Feed(stream.substr(at, length));
      at += length;
    }
    for (; at < stream.size(); at += kMaxBlock)
      Feed(stream.substr(at, kMaxBlock));
  }

  std::vector<std::string> Frames() const {
    std::vector<std::string> frames;
    for (const StreamEvent &e : events)
      if (e.kind == 'F')
        frames.push_back(e.text);
    return frames;
  }
};

// What a part should yield: its flag, its title (cut to 63 bytes) and, unless
// its picture is rejected, its frame.
inline void ExpectPart(std::vector<StreamEvent> &events, char flag,
                       const std::string &title, const std::string *frame) {
  events.push_back({'C', {flag}});
  events.push_back({'T', title.substr(0, kTitleSize - 1)});
  if (frame != nullptr)
    events.push_back({'F', *frame});
}
