// The parser of the door unit's stream. Every state takes what it can of
// the current block and, when the block ends, stays where it is, so a part
// may be cut anywhere without copying the stream; only the length digits
// and the title are copied.
#include "video/mjpeg_parser.h"

#include <algorithm>
#include <cstring>

namespace mjpeg {
mjpeg_state state = WAIT_HEAD;
int head_index = 0;
int n = 0;
int delka = 0;
char delkas[kMaxLengthDigits + 1] = {};
} // namespace mjpeg

// The parser's functions work on its state by its short names.
using namespace mjpeg;

const char HLAVICKA[kHeaderLength + 1] =
    "Content-Type: image/jpeg\r\nContent-Length: ";

static_assert(sizeof(HLAVICKA) - 1 == kHeaderLength);

namespace {

bool IsDigit(unsigned char byte) { return byte >= '0' && byte <= '9'; }

// At most 9 digits, so the value stays below 10^9 and fits an int.
int DecimalValue(const char *digits) {
  int value = 0;
  for (; IsDigit(static_cast<unsigned char>(*digits)); ++digits)
    value = value * 10 + (*digits - '0');
  return value;
}

// Skips up to `count` gap bytes of the block; true once the gap is over.
bool SkipGap(int &count, int BufferLen) {
  int k = std::min(count, BufferLen - n);
  n += k;
  count -= k;
  return count == 0;
}

// The picture is complete. Returns false when the reader wants the rest of
// the block dropped.
bool CompleteFrame(const t_MjpegSink &sink) {
  state = WAIT_HEAD;
  return sink.OnFrame == nullptr || sink.OnFrame(sink.context);
}

} // namespace

void MjpegResetParser() {
  state = WAIT_HEAD;
  head_index = 0;
  n = 0;
  delka = 0;
  std::memset(delkas, 0, sizeof delkas);
}

void MjpegStartRun(t_MjpegRun &run) {
  state = HEAD;
  n = 0;
  run = t_MjpegRun{};
}

int MjpegBlockPosition() { return n; }

void MjpegParseBlock(t_MjpegRun &run, const t_MjpegSink &sink,
                     const unsigned char *buffer, int BufferLen) {
  n = 0;
  while (n < BufferLen) {
    switch (state) {
    case WAIT_HEAD: {
      const void *c = std::memchr(buffer + n, 'C', BufferLen - n);
      if (c == nullptr) {
        n = BufferLen;
        break;
      }
      n = static_cast<int>(static_cast<const unsigned char *>(c) - buffer) + 1;
      head_index = 1;
      state = HEAD;
      break;
    }

    case HEAD:
      while (n < BufferLen && head_index < kHeaderLength &&
             buffer[n] == static_cast<unsigned char>(HLAVICKA[head_index])) {
        ++n;
        ++head_index;
      }
      if (head_index == kHeaderLength) {
        head_index = 0;
        std::memset(delkas, ' ', sizeof delkas);
        run.delka_pos = 0;
        state = DELKA;
      } else if (n < BufferLen) {
        // The differing byte is looked at again: it may begin a header.
        run.delka_pos = 0;
        state = WAIT_HEAD;
      }
      break;

    case DELKA:
      while (n < BufferLen && IsDigit(buffer[n])) {
        if (run.delka_pos == kMaxLengthDigits) {
          // Ten digits or more: no picture of ours is that long, and cutting
          // the number would misplace every later byte. Drop the part.
          delkas[run.delka_pos] = '\0';
          delka = 0;
          state = WAIT_HEAD;
          break;
        }
        delkas[run.delka_pos++] = static_cast<char>(buffer[n++]);
      }
      if (state == DELKA && n < BufferLen) {
        delkas[run.delka_pos] = '\0';
        delka = DecimalValue(delkas);
        run.skip_call = kCallGap;
        state = SKIP_CALL;
      }
      break;

    case SKIP_CALL:
      if (SkipGap(run.skip_call, BufferLen))
        state = CALL;
      break;

    case CALL:
      if (sink.OnCall != nullptr)
        sink.OnCall(sink.context, static_cast<char>(buffer[n]));
      ++n;
      run.skip_title = kTitleGap;
      state = SKIP_TITLE;
      break;

    case SKIP_TITLE:
      if (SkipGap(run.skip_title, BufferLen)) {
        std::memset(run.title, ' ', sizeof run.title);
        run.title_pos = 0;
        state = TITLE;
      }
      break;

    case TITLE:
      while (n < BufferLen && buffer[n] != '\r' && buffer[n] != '\n') {
        // A longer title is cut to what the field holds; the rest is
        // skipped up to its CR or LF, and the part is still taken.
        if (run.title_pos < kTitleSize - 1)
          run.title[run.title_pos++] = static_cast<char>(buffer[n]);
        ++n;
      }
      if (n < BufferLen) {
        run.skip_cr = kEndGap;
        run.title[run.title_pos] = '\0';
        if (sink.OnTitle != nullptr)
          sink.OnTitle(sink.context, run.title);
        state = SKIP_CR;
      }
      break;

    case SKIP_CR:
      if (SkipGap(run.skip_cr, BufferLen)) {
        state = JPGF;
        run.first_byte_due = true;
        // A part without length digits has an empty picture: complete at
        // once, and take what follows as the lead-in of the next part.
        if (delka == 0 && !CompleteFrame(sink))
          return;
      }
      break;

    case JPGF: {
      if (run.first_byte_due) {
        run.first_byte_due = false;
        if (buffer[n] != 0xFF) {
          // Not a JPEG: nothing of it goes to the frame file, so the next
          // frame's file holds that frame alone.
          state = WAIT_HEAD;
          break;
        }
      }
      int k = std::min(delka, BufferLen - n);
      if (sink.OnPicture != nullptr)
        sink.OnPicture(sink.context, buffer + n, static_cast<std::size_t>(k));
      n += k;
      delka -= k;
      // Complete as soon as the last byte is stored: waiting for the next
      // block would hold the newest picture back for a whole frame interval
      // and lose it when the stream ends or stalls right after it.
      if (delka == 0 && !CompleteFrame(sink))
        return;
      break;
    }
    }
  }
}
