// The stream parser, fed the way the reader feeds it: blocks of 1 to 1024
// bytes, cut anywhere.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support/mjpeg_state.h"
#include "video/stream_recorder.h"

namespace {

const std::string kHeader = "Content-Type: image/jpeg\r\nContent-Length: ";

// The gaps carry bytes that would be taken for a flag or a title if the
// parser counted one byte too few or too many.
const std::string kCallGap = "\r\n1111111111112:"; // 16 bytes
const std::string kTitleGap = "\r\n2Title"; // 8 bytes, the 9th follows below
const std::string kEndGap = "\r\n\r\n";

struct Part {
  char flag = '0';
  std::string title = "Door";
  std::string picture;
  std::string digits; // empty: the picture's length
  bool no_digits = false;
  std::string lead = "--boundary\r\n";
  std::string tail = "\r\n";
};

std::string Picture(std::size_t size, unsigned seed = 7) {
  std::mt19937 random(seed);
  std::string picture(size, '\0');
  for (char &c : picture)
    c = static_cast<char>(random() & 0xFF);
  if (size > 0)
    picture[0] = '\xFF';
  return picture;
}

std::string Bytes(const Part &p) {
  std::string digits = p.no_digits        ? ""
                       : p.digits.empty() ? std::to_string(p.picture.size())
                                          : p.digits;
  return p.lead + kHeader + digits + kCallGap + p.flag + kTitleGap + "X" +
         p.title + kEndGap + p.picture + p.tail;
}

class MjpegParser : public ::testing::Test {
protected:
  void SetUp() override { r.StartProgram(); }
  StreamRecorder r;
};

TEST_F(MjpegParser, GapsHaveTheirExactSizes) {
  ASSERT_EQ(kHeader.size(), 42u);
  ASSERT_EQ(kCallGap.size(), 16u);
  ASSERT_EQ((kTitleGap + "X").size(), 9u);
  EXPECT_STREQ(HLAVICKA, kHeader.c_str());

  Part p;
  p.flag = '0';
  p.picture = Picture(40);
  r.Feed(Bytes(p));
  std::vector<StreamEvent> expected;
  ExpectPart(expected, '0', "Door", &p.picture);
  EXPECT_EQ(r.events, expected);
  EXPECT_EQ(state, WAIT_HEAD);
}

TEST_F(MjpegParser, HeaderSplitAtEveryPositionIsMatched) {
  Part p;
  p.picture = Picture(100);
  std::string stream = Bytes(p);
  for (std::size_t split = 0; split <= kHeader.size(); ++split) {
    SCOPED_TRACE(split);
    StreamRecorder fresh;
    fresh.StartProgram();
    fresh.FeedCut(stream, {p.lead.size() + split});
    std::vector<StreamEvent> expected;
    ExpectPart(expected, '0', "Door", &p.picture);
    EXPECT_EQ(fresh.events, expected);
  }
  // The same with every block one byte long: the header of the second part
  // is split at each of its positions at once.
  Part q = p;
  q.flag = '1';
  q.title = "Gate";
  stream = Bytes(p) + Bytes(q);
  r.FeedCut(stream, std::vector<std::size_t>(stream.size(), 1));
  std::vector<StreamEvent> expected;
  ExpectPart(expected, '0', "Door", &p.picture);
  ExpectPart(expected, '1', "Gate", &q.picture);
  EXPECT_EQ(r.events, expected);
}

TEST_F(MjpegParser, LengthDigits) {
  // Leading zeros are digits; the CR after them is the first byte of the
  // 16-byte call gap.
  Part p;
  p.picture = Picture(12);
  p.digits = "00012";
  p.tail = "\r\nCont"; // a tail that starts like a header
  r.Feed(Bytes(p));
  EXPECT_STREQ(delkas, "00012");
  ASSERT_EQ(r.Frames().size(), 1u);
  EXPECT_EQ(r.Frames()[0], p.picture);

  // Nine digits fit (with a NUL).
  Part nine;
  nine.picture = Picture(5);
  nine.digits = "000000005";
  r.Feed(Bytes(nine));
  EXPECT_STREQ(delkas, "000000005");
  ASSERT_EQ(r.Frames().size(), 2u);
  EXPECT_EQ(r.Frames()[1], nine.picture);
}

TEST_F(MjpegParser, OverlongLengthDropsThePartAndNothingElse) {
  Part overlong;
  overlong.flag = '1';
  overlong.picture = Picture(30);
  overlong.digits = "0000000000030"; // 13 digits
  Part next;
  next.title = "After";
  next.picture = Picture(50, 3);
  // Cut inside the digits too, so the overflow spans two blocks.
  std::string stream = Bytes(overlong) + Bytes(next);
  std::size_t first = overlong.lead.size() + 42 + 8;
  r.Feed(stream.substr(0, first));
  r.Feed(stream.substr(first, 3));
  EXPECT_EQ(state, WAIT_HEAD);
  EXPECT_LT(strnlen(delkas, sizeof delkas), sizeof delkas);
  r.Feed(stream.substr(first + 3));
  std::vector<StreamEvent> expected;
  ExpectPart(expected, '0', "After", &next.picture);
  EXPECT_EQ(r.events, expected);
}

TEST_F(MjpegParser, LengthWithoutDigitsCompletesAnEmptyFrame) {
  Part empty;
  empty.no_digits = true;
  empty.picture = Picture(200); // sent anyway; skipped as lead-in
  Part next;
  next.picture = Picture(20, 5);
  r.Feed(Bytes(empty) + Bytes(next));
  std::vector<StreamEvent> expected;
  ExpectPart(expected, '0', "Door", nullptr);
  expected.push_back({'F', ""});
  ExpectPart(expected, '0', "Door", &next.picture);
  EXPECT_EQ(r.events, expected);
}

TEST_F(MjpegParser, CallFlagsAreYieldedAsSent) {
  std::string stream;
  std::vector<StreamEvent> expected;
  std::vector<Part> parts;
  for (char flag : {'0', '1', '2', 'x', '0'}) {
    Part p;
    p.flag = flag;
    p.title = std::string("Flag ") + flag;
    p.picture = Picture(60, flag);
    parts.push_back(p);
  }
  for (const Part &p : parts) {
    stream += Bytes(p);
    ExpectPart(expected, p.flag, p.title, &p.picture);
  }
  r.Feed(stream);
  EXPECT_EQ(r.events, expected);
}

TEST_F(MjpegParser, Titles) {
  std::vector<std::string> titles = {
      "",                    // CR right after the title gap
      std::string(63, 'a'),  // fits whole
      std::string(64, 'b'),  // one too many: cut
      std::string(700, 'c'), // far too long, spanning blocks: cut
      "Front door \xE8\xA9", // 8-bit bytes as sent
  };
  std::string stream;
  std::vector<StreamEvent> expected;
  for (const std::string &title : titles) {
    Part p;
    p.title = title;
    p.picture = Picture(10);
    stream += Bytes(p);
    ExpectPart(expected, '0', title, &p.picture);
  }
  Part lf; // a title ended by LF alone
  lf.title = "LF";
  lf.picture = Picture(10);
  std::string lf_bytes = Bytes(lf);
  lf_bytes.replace(lf_bytes.find("LF\r\n\r\n"), 6, "LF\n\n\n\n");
  stream += lf_bytes;
  ExpectPart(expected, '0', "LF", &lf.picture);

  r.FeedCut(stream, {5, 100, 333});
  EXPECT_EQ(r.events, expected);
}

TEST_F(MjpegParser, PictureEndingAtBlockEndCompletesAtOnce) {
  Part p;
  p.picture = Picture(300);
  p.tail = "";
  std::string first = Bytes(p);
  r.Feed(first);
  // The frame is complete before the next block arrives, so the newest
  // picture is shown without waiting for more of the stream.
  ASSERT_EQ(r.Frames().size(), 1u);
  EXPECT_EQ(r.Frames()[0], p.picture);
  EXPECT_EQ(state, WAIT_HEAD);

  Part q;
  q.lead = "";
  q.picture = Picture(30, 9);
  r.Feed(Bytes(q));
  ASSERT_EQ(r.Frames().size(), 2u);
  EXPECT_EQ(r.Frames()[1], q.picture);
}

TEST_F(MjpegParser, PictureOverThreeBlocks) {
  Part p;
  p.picture = Picture(2000);
  std::string stream = Bytes(p);
  std::size_t headers = stream.size() - p.picture.size() - p.tail.size();
  r.Feed(stream.substr(0, headers + 100));
  r.Feed(stream.substr(headers + 100, 1024));
  EXPECT_TRUE(r.Frames().empty());
  r.Feed(stream.substr(headers + 1124));
  ASSERT_EQ(r.Frames().size(), 1u);
  EXPECT_EQ(r.Frames()[0], p.picture);
  EXPECT_EQ(r.last_pieces, (std::vector<std::size_t>{100, 1024, 876}));
}

TEST_F(MjpegParser, BytesAfterAFrameAreParsedInTheSamePass) {
  std::string stream;
  std::vector<StreamEvent> expected;
  for (int i = 0; i < 5; ++i) {
    Part p;
    p.flag = i % 2 ? '1' : '0';
    p.title = "Part " + std::to_string(i);
    p.picture = Picture(50 + i, i);
    stream += Bytes(p);
    ExpectPart(expected, p.flag, p.title, &p.picture);
  }
  ASSERT_LT(stream.size(), 1024u);
  r.Feed(stream);
  EXPECT_EQ(r.events, expected);
}

TEST_F(MjpegParser, ReaderMayDropTheRestOfTheBlockAfterAFrame) {
  Part p, q;
  p.picture = Picture(20);
  q.title = "Dropped";
  q.picture = Picture(20, 2);
  r.keep_parsing = false;
  r.Feed(Bytes(p) + Bytes(q));
  std::vector<StreamEvent> expected;
  ExpectPart(expected, '0', "Door", &p.picture);
  EXPECT_EQ(r.events, expected);
}

TEST_F(MjpegParser, PictureNotStartingWithFFIsDropped) {
  Part bad;
  bad.flag = '1';
  bad.title = "Bad";
  bad.picture = Picture(80);
  bad.picture[0] = '\0';
  Part good;
  good.picture = Picture(40, 4);
  std::string stream = Bytes(bad) + Bytes(good);
  std::size_t picture_at = stream.find(bad.picture);

  // Whether the first picture byte comes with the end gap or with the next
  // block, nothing of the rejected picture reaches the next frame.
  for (std::size_t cut : {picture_at + 1, picture_at}) {
    SCOPED_TRACE(cut);
    StreamRecorder fresh;
    fresh.StartProgram();
    fresh.FeedCut(stream, {cut});
    std::vector<StreamEvent> expected;
    ExpectPart(expected, '1', "Bad", nullptr);
    ExpectPart(expected, '0', "Door", &good.picture);
    EXPECT_EQ(fresh.events, expected);
  }
}

TEST_F(MjpegParser, StreamStarts) {
  // Starting with the part header itself: the run starts in HEAD.
  Part p;
  p.lead = "";
  p.picture = Picture(33);
  r.Feed(Bytes(p));
  EXPECT_EQ(r.Frames(), std::vector<std::string>{p.picture});

  // Starting with a boundary line: back to WAIT_HEAD on its first byte.
  StreamRecorder boundary;
  boundary.StartProgram();
  Part b;
  b.lead = "--myboundary\r\n";
  b.picture = Picture(33, 8);
  boundary.Feed(b.lead.substr(0, 1));
  EXPECT_EQ(state, WAIT_HEAD);
  boundary.Feed(Bytes(b).substr(1));
  EXPECT_EQ(boundary.Frames(), std::vector<std::string>{b.picture});
}

TEST_F(MjpegParser, HeaderThatStopsMatchingIsLookedForAgain) {
  Part p;
  p.picture = Picture(25);
  // A "C" that starts a wrong header; the differing byte is itself the "C"
  // of the real one.
  p.lead = "CContent-TyContent-Type: image/jpeC";
  r.Feed(Bytes(p));
  EXPECT_EQ(r.Frames(), std::vector<std::string>{p.picture});

  // A header in another case is no header.
  StreamRecorder other;
  other.StartProgram();
  p.lead = "--boundary\r\n";
  std::string lower = Bytes(p);
  lower.replace(lower.find("Content-Type"), 12, "content-type");
  other.Feed(lower);
  EXPECT_TRUE(other.events.empty());
}

TEST_F(MjpegParser, NewRunKeepsHeaderPositionButFindsTheNextPart) {
  // The first run ends in the middle of a header ...
  Part p;
  p.picture = Picture(25);
  std::string stream = Bytes(p);
  r.Feed(stream.substr(0, p.lead.size() + 20));
  EXPECT_EQ(head_index, 20);
  // ... and the next run starts on a fresh stream that begins with a header.
  MjpegStartRun(r.run);
  EXPECT_EQ(state, HEAD);
  EXPECT_EQ(head_index, 20);
  Part q;
  q.lead = "";
  q.picture = Picture(40, 6);
  r.Feed(Bytes(q));
  EXPECT_EQ(r.Frames(), std::vector<std::string>{q.picture});
}

// A long stream of varied parts, cut every way: what the parser yields must
// not depend on where the blocks end, and no part may be lost.
class ReferenceStream : public ::testing::Test {
protected:
  void SetUp() override {
    std::mt19937 random(1234);
    const std::size_t sizes[] = {1,    2,    3,    41,   42,   1000, 1023,
                                 1024, 1025, 2047, 2048, 3000, 5000};
    const std::string leads[] = {"--vestibell\r\n", "\r\n--vestibell\r\n", "",
                                 "junk without the letter\r\n",
                                 "Content-Type: text/plain\r\n--x\r\n"};
    for (int i = 0; i < 70; ++i) {
      Part p;
      p.flag = "0000112x"[random() % 8];
      p.title = std::string(random() % 64, static_cast<char>('a' + i % 26));
      p.picture = Picture(sizes[random() % std::size(sizes)], i);
      p.lead = leads[random() % std::size(leads)];
      if (i == 0)
        p.lead = "";
      const std::string *frame = &p.picture;
      if (i % 17 == 5) { // a picture that is no JPEG
        p.picture[0] = 'J';
        frame = nullptr;
      }
      if (i % 19 == 7) // a title beyond the field
        p.title = std::string(90 + i, 'L');
      if (i % 23 == 11) { // a length without digits
        p.no_digits = true;
        ExpectPart(expected, p.flag, p.title, nullptr);
        expected.push_back({'F', ""}); // its picture follows as lead-in
      } else {
        ExpectPart(expected, p.flag, p.title, frame);
      }
      stream += Bytes(p);
    }
  }
  std::string stream;
  std::vector<StreamEvent> expected;
};

TEST_F(ReferenceStream, EveryFirstBlockLength) {
  ASSERT_GT(stream.size(), 50000u);
  for (std::size_t first = 1; first <= kMaxBlock; ++first) {
    StreamRecorder r;
    r.StartProgram();
    r.FeedCut(stream, {first});
    ASSERT_EQ(r.events, expected) << "first block of " << first << " bytes";
  }
}

TEST_F(ReferenceStream, RandomBlockLengths) {
  std::mt19937 random(99);
  for (int round = 0; round < 300; ++round) {
    std::vector<std::size_t> cuts;
    // Some rounds with tiny blocks that cut headers anywhere, most with
    // blocks of any size up to 1024.
    std::size_t largest = round % 3 == 0 ? 9 : kMaxBlock;
    for (std::size_t at = 0; at < stream.size(); at += cuts.back())
      cuts.push_back(random() % largest + 1);
    StreamRecorder r;
    r.StartProgram();
    r.FeedCut(stream, cuts);
    ASSERT_EQ(r.events, expected) << "round " << round;
  }
}

} // namespace
