// The door unit's motion-JPEG stream: a byte-level state machine fed blocks
// of 1 to 1024 bytes, cut anywhere. It needs nothing of the platform; the
// video reader feeds it and handles what it yields through a t_MjpegSink.
//
// Each part of the stream, as the parser takes it:
//   lead-in (anything, e.g. a boundary line)
//   "Content-Type: image/jpeg\r\nContent-Length: "   (42 bytes, exact)
//   1 to 9 digits: the picture's length
//   16-byte call gap (begins with the byte that ended the digits)
//   call flag: '0' no call, '1' or '2' call, anything else changes nothing
//   9-byte title gap
//   title: 0 to 63 bytes up to the first CR or LF (longer ones are cut)
//   4-byte end gap (begins with that CR or LF)
//   picture: exactly length bytes, first byte 0xFF
#pragma once

#include <cstddef>

// The parser's position inside a part.
enum mjpeg_state {
  WAIT_HEAD = 0,  // the first byte of the part header, "C"
  HEAD = 1,       // the rest of the part header
  DELKA = 2,      // the digits of the length
  SKIP_CALL = 3,  // the end of the call gap
  CALL = 4,       // the call flag
  SKIP_TITLE = 5, // the end of the title gap
  TITLE = 6,      // the end of the title
  SKIP_CR = 7,    // the end of the end gap
  JPGF = 8        // the picture bytes, then completion of the frame
};

inline constexpr int kHeaderLength = 42;   // bytes of HLAVICKA without NUL
inline constexpr int kMaxLengthDigits = 9; // delkas holds 9 digits and a NUL
inline constexpr int kCallGap = 16;
inline constexpr int kTitleGap = 9;
inline constexpr int kEndGap = 4;
inline constexpr int kTitleSize = 64; // 63 bytes of title and a NUL
inline constexpr int kMaxBlock = 1024;

extern const char HLAVICKA[kHeaderLength + 1];

// The parser's own state. It outlives a run: the next run sets `state` and
// `n` and keeps the rest. Touched only by the video reader's thread (one run
// at a time), so it needs no lock; a process therefore has one parser. Kept
// out of the global scope so that nothing else takes its short names by
// accident; readers outside the parser use the functions below.
namespace mjpeg {
extern mjpeg_state state;
extern int head_index; // bytes of the part header matched so far
extern int n;          // read position inside the current block
extern int delka;      // picture bytes of the current part still to store
extern char delkas[kMaxLengthDigits + 1]; // the length digits, NUL-terminated
} // namespace mjpeg

// Counters of one run, owned by the reader and carried from block to block.
struct t_MjpegRun {
  int skip_call = 0;  // call-gap bytes still to skip
  int skip_title = 0; // title-gap bytes still to skip
  int skip_cr = 0;    // end-gap bytes still to skip
  int title_pos = 0;  // title bytes kept so far (at most 63)
  int delka_pos = 0;  // length digits collected so far
  // The picture's first byte is still to be checked for 0xFF, also when it
  // arrives only with the next block.
  bool first_byte_due = false;
  // The title being collected; complete and NUL-terminated when yielded.
  char title[kTitleSize] = {};
};

// What the parser yields, bound by the reader. Any member may be null.
// Everything is called on the thread that feeds the block, in stream order.
struct t_MjpegSink {
  void *context = nullptr;
  // The call-flag byte of a part, whatever its value.
  void (*OnCall)(void *context, char flag) = nullptr;
  // A complete title, NUL-terminated, at most 63 bytes.
  void (*OnTitle)(void *context, const char *title) = nullptr;
  // Picture bytes to append to the frame file, in order.
  void (*OnPicture)(void *context, const unsigned char *bytes,
                    std::size_t length) = nullptr;
  // The picture of the part is complete; the parser is in WAIT_HEAD.
  // Returning false drops the rest of the current block (the reader does so
  // when it renews the connection, so bytes of the old connection are not
  // taken for the new one); returning true parses on. Null means true.
  bool (*OnFrame)(void *context) = nullptr;
};

// Program start: all module state zero, as before the first run.
void MjpegResetParser();
// Start of a run: `state` = HEAD, `n` = 0, fresh counters; `head_index`,
// `delka` and `delkas` keep what the previous run left.
void MjpegStartRun(t_MjpegRun &run);
// How far into the block being parsed the parser has got: during the
// sink's callbacks, the bytes before it are taken. Reader thread.
int MjpegBlockPosition();
// Parses one block of 1 to 1024 bytes (longer or empty blocks are taken
// as they are; the parser has no limit of its own).
void MjpegParseBlock(t_MjpegRun &run, const t_MjpegSink &sink,
                     const unsigned char *buffer, int BufferLen);
