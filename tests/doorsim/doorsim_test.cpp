// The door-unit simulator as the video reader meets it: a real doorsim
// process on 127.0.0.1, read with libcurl in blocks of at most 1024 bytes
// and taken apart by the stream parser. What the simulator recorded as sent
// (--record) is the reference.
#include <gtest/gtest.h>

#include <curl/curl.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "video/mjpeg_parser.h"
#include "video/stream_recorder.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::string ReadFile(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// One doorsim process on a free loopback port, with its own record folder.
class DoorSim {
public:
  explicit DoorSim(std::vector<std::string> args) {
    char folder[] = "/tmp/doorsim-test-XXXXXX";
    EXPECT_NE(mkdtemp(folder), nullptr);
    dir_ = folder;
    args.insert(args.begin(), {DOORSIM_PATH, "--listen", "127.0.0.1:0",
                               "--record", (dir_ / "rec").string(), "--log",
                               (dir_ / "doorsim.log").string()});
    int in[2], out[2];
    EXPECT_EQ(pipe(in), 0);
    EXPECT_EQ(pipe(out), 0);
    pid_ = fork();
    if (pid_ == 0) {
      // A test that dies takes its simulator with it.
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      dup2(in[0], 0);
      dup2(out[1], 1);
      dup2(out[1], 2);
      close(in[1]);
      close(out[0]);
      std::vector<char *> argv;
      for (std::string &a : args)
        argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    stdin_ = in[1];
    stdout_ = out[0];
    std::string first = ReadLine(10s);
    EXPECT_EQ(first.rfind("listening 127.0.0.1:", 0), 0u) << first;
    port_ = std::atoi(first.substr(first.rfind(':') + 1).c_str());
    EXPECT_GT(port_, 0);
    // Drain the log so the simulator never blocks on a full pipe.
    drain_ = std::thread([this] {
      for (std::string line; !(line = ReadLine(3600s)).empty();) {
        std::lock_guard lock(mutex_);
        lines_.push_back(line);
      }
    });
  }

  ~DoorSim() {
    Stop();
    fs::remove_all(dir_);
  }

  // SIGTERM, then the exit status (0 for a clean stop); -1 if it hung.
  int Stop() {
    if (pid_ <= 0)
      return exit_status_;
    kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 500; ++i) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exit_status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
        break;
      }
      std::this_thread::sleep_for(10ms);
    }
    if (exit_status_ == -1) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
    }
    pid_ = -1;
    close(stdin_);
    if (drain_.joinable())
      drain_.join();
    close(stdout_);
    return exit_status_;
  }

  void Type(const std::string &line) {
    std::string text = line + "\n";
    EXPECT_EQ(write(stdin_, text.data(), text.size()),
              static_cast<ssize_t>(text.size()));
  }

  std::string Url(const std::string &path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }

  std::vector<std::string> Lines() {
    std::lock_guard lock(mutex_);
    return lines_;
  }

  fs::path Record(int stream, const char *ext) const {
    return dir_ / "rec" / ("stream-" + std::to_string(stream) + ext);
  }
  fs::path Dir() const { return dir_; }

private:
  std::string ReadLine(std::chrono::seconds timeout) {
    std::string line;
    auto until = std::chrono::steady_clock::now() + timeout;
    char c;
    while (std::chrono::steady_clock::now() < until) {
      pollfd p{stdout_, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0)
        continue;
      if (read(stdout_, &c, 1) != 1)
        return line;
      if (c == '\n')
        return line.empty() ? " " : line;
      line += c;
    }
    return line;
  }

  fs::path dir_;
  pid_t pid_ = -1;
  int stdin_ = -1, stdout_ = -1, port_ = 0, exit_status_ = -1;
  std::thread drain_;
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

struct HttpAnswer {
  long status = 0;
  std::string body;
};

size_t AppendBody(char *data, size_t size, size_t count, void *out) {
  static_cast<std::string *>(out)->append(data, size * count);
  return size * count;
}

HttpAnswer Get(const std::string &url) {
  HttpAnswer answer;
  CURL *curl = curl_easy_init();
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, AppendBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer.body);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 10L);
  EXPECT_EQ(curl_easy_perform(curl), CURLE_OK) << url;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &answer.status);
  curl_easy_cleanup(curl);
  return answer;
}

// A stream read the way the video reader reads it.
struct StreamRead {
  StreamRecorder parsed;
  std::string body;
  CURLcode code = CURLE_OK;
  long status = 0;
  std::size_t blocks = 0, small_blocks = 0, largest_block = 0;
  std::vector<std::chrono::steady_clock::time_point> frame_times;
  // Called after each block; returning false ends the transfer.
  std::function<bool(StreamRead &)> go_on;
  // The parser's state is the process's own (one reader per process), so
  // readers running side by side only collect and are parsed afterwards.
  bool parse_live = true;
  std::size_t frames_seen = 0;

  std::size_t Frames() const { return parsed.Frames().size(); }
};

size_t OnStreamBlock(char *data, size_t size, size_t count, void *context) {
  auto *read = static_cast<StreamRead *>(context);
  std::size_t length = size * count;
  ++read->blocks;
  read->small_blocks += length < kHeaderLength;
  read->largest_block = std::max(read->largest_block, length);
  read->body.append(data, length);
  if (read->parse_live)
    read->parsed.Feed(std::string(data, length));
  for (std::size_t frames = read->Frames(); read->frames_seen < frames;
       ++read->frames_seen)
    read->frame_times.push_back(std::chrono::steady_clock::now());
  return read->go_on(*read) ? length : 0;
}

StreamRead ReadStream(const std::string &url,
                      std::function<bool(StreamRead &)> go_on,
                      bool parse_live = true) {
  StreamRead read;
  read.go_on = std::move(go_on);
  read.parse_live = parse_live;
  read.parsed.StartProgram();
  CURL *curl = curl_easy_init();
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, static_cast<long>(kMaxBlock));
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnStreamBlock);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &read);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 60L);
  read.code = curl_easy_perform(curl);
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &read.status);
  curl_easy_cleanup(curl);
  return read;
}

auto UntilFrames(std::size_t frames) {
  return [frames](StreamRead &r) { return r.Frames() < frames; };
}

// What the simulator recorded for one stream, as the parser should see it:
// every part's flag and title, and its picture unless it was rejected.
struct SentStream {
  std::string bin;
  std::vector<StreamEvent> events;
  std::vector<std::string> faults;
  std::size_t parts = 0;
};

SentStream Sent(const DoorSim &sim, int stream) {
  SentStream sent;
  sent.bin = ReadFile(sim.Record(stream, ".bin"));
  std::istringstream index(ReadFile(sim.Record(stream, ".txt")));
  bool bad_picture = false;
  for (std::string line; std::getline(index, line);) {
    if (line.rfind("fault ", 0) == 0) {
      sent.faults.push_back(line.substr(6));
      bad_picture |= line == "fault badjpeg";
      continue;
    }
    // part K flag F length L offset O title T
    std::istringstream words(line);
    std::string word, flag;
    std::size_t k = 0, length = 0, offset = 0;
    words >> word >> k >> word >> flag >> word >> length >> word >> offset;
    std::size_t title_at = line.find(" title ");
    EXPECT_NE(title_at, std::string::npos) << line;
    std::string title = line.substr(title_at + 7);
    // The last part may have been cut off by the end of the connection;
    // the parser cannot have completed it.
    std::string frame =
        sent.bin.substr(std::min(offset, sent.bin.size()), length);
    ExpectPart(sent.events, flag.at(0), title, bad_picture ? nullptr : &frame);
    bad_picture = false;
    ++sent.parts;
  }
  return sent;
}

// The parser took, in order, exactly what was sent, up to where the read
// stopped; and the bytes that came over HTTP are the bytes sent.
void ExpectParsedAsSent(const StreamRead &read, const SentStream &sent) {
  ASSERT_LE(read.body.size(), sent.bin.size());
  EXPECT_TRUE(sent.bin.compare(0, read.body.size(), read.body) == 0);
  const auto &got = read.parsed.events;
  ASSERT_LE(got.size(), sent.events.size());
  for (std::size_t i = 0; i < got.size(); ++i)
    ASSERT_EQ(got[i], sent.events[i]) << "event " << i;
  EXPECT_LE(read.largest_block, static_cast<std::size_t>(kMaxBlock));
}

class DoorSimStream : public ::testing::TestWithParam<bool> {};

TEST_P(DoorSimStream, ParsesIntoTheFramesFlagsAndTitlesSent) {
  std::vector<std::string> args = {"--fps", "60", "--size", "160x120"};
  if (GetParam())
    args.push_back("--chunked");
  DoorSim sim(args);
  // Ring, change the title and ring again while the stream flows.
  const std::vector<std::pair<std::size_t, std::string>> script = {
      {4, "/sim/ring?flag=1"},  {8, "/sim/title?text=Gate%20two"},
      {12, "/sim/ring?flag=2"}, {16, "/sim/ring?flag=x"},
      {20, "/sim/title?text="}, {24, "/sim/ring?flag=0"},
  };
  std::size_t step = 0;
  StreamRead read = ReadStream(sim.Url("/video.mjpg"), [&](StreamRead &r) {
    while (step < script.size() && r.Frames() >= script[step].first)
      EXPECT_EQ(Get(sim.Url(script[step++].second)).status, 200);
    return r.Frames() < 40;
  });
  EXPECT_EQ(read.status, 200);
  EXPECT_EQ(sim.Stop(), 0);

  SentStream sent = Sent(sim, 1);
  ExpectParsedAsSent(read, sent);
  std::vector<std::string> frames = read.parsed.Frames();
  ASSERT_GE(frames.size(), 40u);
  for (const std::string &frame : frames) {
    ASSERT_GT(frame.size(), 100u);
    EXPECT_EQ(frame.substr(0, 2), "\xFF\xD8");
    EXPECT_EQ(frame.substr(frame.size() - 2), "\xFF\xD9");
  }
  std::string flags, titles;
  for (const StreamEvent &e : read.parsed.events) {
    if (e.kind == 'C' && flags.find(e.text) == std::string::npos)
      flags += e.text;
    if (e.kind == 'T' && titles.find("[" + e.text + "]") == std::string::npos)
      titles += "[" + e.text + "]";
  }
  EXPECT_EQ(flags, "012x");
  EXPECT_EQ(titles, "[Vestibell door][Gate two][]");
}

INSTANTIATE_TEST_SUITE_P(PlainAndChunked, DoorSimStream, ::testing::Bool());

TEST(DoorSim, SeveralClientsAtOnce) {
  DoorSim sim({"--fps", "30", "--size", "96x72"});
  std::vector<StreamRead> reads(3);
  std::vector<std::thread> clients;
  auto enough = [](StreamRead &r) {
    std::size_t headers = 0;
    for (std::size_t at = 0;
         (at = r.body.find(HLAVICKA, at)) != std::string::npos; ++at)
      ++headers;
    return headers <= 15;
  };
  for (StreamRead &read : reads)
    clients.emplace_back(
        [&] { read = ReadStream(sim.Url("/video.mjpg"), enough, false); });
  for (std::thread &t : clients)
    t.join();
  for (StreamRead &read : reads) {
    read.parsed.StartProgram();
    for (std::size_t at = 0; at < read.body.size(); at += kMaxBlock)
      read.parsed.Feed(read.body.substr(at, kMaxBlock));
  }
  std::string status = Get(sim.Url("/sim/status")).body;
  EXPECT_NE(status.find("\"connections\":3"), std::string::npos) << status;
  EXPECT_EQ(sim.Stop(), 0);
  std::vector<SentStream> sent = {Sent(sim, 1), Sent(sim, 2), Sent(sim, 3)};
  for (const StreamRead &read : reads) {
    EXPECT_GE(read.Frames(), 15u);
    int matches = 0;
    for (const SentStream &s : sent)
      if (s.bin.compare(0, read.body.size(), read.body) == 0) {
        ++matches;
        ExpectParsedAsSent(read, s);
      }
    EXPECT_GE(matches, 1); // streams are alike part for part: same pictures
  }
}

TEST(DoorSim, ConnectionDropsAfterNFramesOrOnDemand) {
  DoorSim sim({"--fps", "50", "--size", "96x72", "--command", "drop-after 5"});
  StreamRead after5 = ReadStream(sim.Url("/video.mjpg"), UntilFrames(1000));
  EXPECT_EQ(after5.code, CURLE_OK); // the body ends with the connection
  EXPECT_EQ(after5.Frames(), 5u);

  EXPECT_EQ(Get(sim.Url("/sim/drop-after?n=0")).status, 200);
  bool dropped = false;
  auto start = std::chrono::steady_clock::now();
  StreamRead now = ReadStream(sim.Url("/video.mjpg"), [&](StreamRead &r) {
    if (r.Frames() >= 3 && !dropped) {
      dropped = true;
      EXPECT_EQ(Get(sim.Url("/sim/drop")).status, 200);
    }
    return r.Frames() < 1000;
  });
  EXPECT_TRUE(dropped);
  EXPECT_LE(now.Frames(), 4u);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
  EXPECT_EQ(sim.Stop(), 0);
  ExpectParsedAsSent(after5, Sent(sim, 1));
  ExpectParsedAsSent(now, Sent(sim, 2));
}

TEST(DoorSim, ErrorPageHoldsNoPart) {
  DoorSim sim({"--fps", "50", "--size", "96x72"});
  EXPECT_EQ(Get(sim.Url("/sim/error?code=503&count=1")).status, 200);
  StreamRead error = ReadStream(sim.Url("/video.mjpg"), UntilFrames(1));
  EXPECT_EQ(error.code, CURLE_OK);
  EXPECT_EQ(error.status, 503);
  EXPECT_NE(error.body.find("503"), std::string::npos);
  EXPECT_TRUE(error.parsed.events.empty());
  // Only one request was refused.
  StreamRead next = ReadStream(sim.Url("/video.mjpg"), UntilFrames(2));
  EXPECT_EQ(next.status, 200);
  EXPECT_EQ(next.Frames(), 2u);
  EXPECT_NE(Get(sim.Url("/sim/status")).body.find("\"error_pages\":1"),
            std::string::npos);
}

TEST(DoorSim, TinyWritesCutHeadersAnywhere) {
  // Chunked: every piece is a chunk of its own. Plain body: pieces 1 ms
  // apart, so they arrive apart.
  const std::vector<std::vector<std::string>> modes = {
      {"--size", "64x48", "--chunked", "--command", "tiny 5"},
      {"--size", "64x48", "--fps", "50", "--command", "tiny 5 1"}};
  for (const std::vector<std::string> &args : modes) {
    SCOPED_TRACE(args[2]);
    DoorSim sim(args);
    StreamRead read = ReadStream(sim.Url("/video.mjpg"), UntilFrames(4));
    EXPECT_EQ(sim.Stop(), 0);
    EXPECT_GE(read.Frames(), 4u);
    EXPECT_GT(read.small_blocks * 2, read.blocks) << read.blocks;
    ExpectParsedAsSent(read, Sent(sim, 1));
  }
}

TEST(DoorSim, InjectedPartFaultsFromStandardInput) {
  DoorSim sim({"--fps", "40", "--size", "96x72"});
  const std::vector<std::pair<std::size_t, std::string>> script = {
      {3, "garbage 500"},
      {6, "badjpeg"},
      {9, "nodigits"},
      {12, "longtitle 100"},
      {15, "title Back to normal"},
  };
  std::size_t step = 0;
  StreamRead read = ReadStream(sim.Url("/video.mjpg"), [&](StreamRead &r) {
    while (step < script.size() && r.Frames() >= script[step].first)
      sim.Type(script[step++].second);
    return r.Frames() < 22;
  });
  EXPECT_EQ(sim.Stop(), 0);
  SentStream sent = Sent(sim, 1);
  EXPECT_EQ(sent.faults,
            (std::vector<std::string>{"garbage 500", "badjpeg", "nodigits",
                                      "longtitle 100"}));
  ExpectParsedAsSent(read, sent);

  // What the reader will see of the faults: one part without a frame, one
  // empty frame, one title cut to 63 bytes, and the stream goes on.
  std::size_t calls = 0, empty_frames = 0, long_titles = 0;
  for (const StreamEvent &e : read.parsed.events) {
    calls += e.kind == 'C';
    empty_frames += e.kind == 'F' && e.text.empty();
    long_titles += e.kind == 'T' && e.text.size() == 63;
  }
  EXPECT_EQ(empty_frames, 1u);
  EXPECT_EQ(long_titles, 1u);
  EXPECT_GE(calls, read.Frames() + 1); // the rejected picture's part
}

TEST(DoorSim, StallHoldsTheStreamBack) {
  DoorSim sim({"--fps", "50", "--size", "96x72"});
  bool stalled = false;
  StreamRead read = ReadStream(sim.Url("/video.mjpg"), [&](StreamRead &r) {
    if (r.Frames() >= 3 && !stalled) {
      stalled = true;
      EXPECT_EQ(Get(sim.Url("/sim/stall?seconds=1")).status, 200);
    }
    return r.Frames() < 8;
  });
  auto longest = 0ms;
  for (std::size_t i = 1; i < read.frame_times.size(); ++i)
    longest =
        std::max(longest, std::chrono::duration_cast<std::chrono::milliseconds>(
                              read.frame_times[i] - read.frame_times[i - 1]));
  EXPECT_GE(longest, 900ms);
  EXPECT_EQ(sim.Stop(), 0);
  ExpectParsedAsSent(read, Sent(sim, 1));
}

TEST(DoorSim, FramesFromAFolderAndRingingByItself) {
  char folder[] = "/tmp/doorsim-frames-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  // doorsim sends the files as they are, in name order, in a loop.
  const std::vector<std::string> pictures = {"\xFF\xD8 first \xFF\xD9",
                                             "\xFF\xD8 second \xFF\xD9"};
  std::ofstream(fs::path(folder) / "b.jpg", std::ios::binary) << pictures[1];
  std::ofstream(fs::path(folder) / "a.JPG", std::ios::binary) << pictures[0];
  std::ofstream(fs::path(folder) / "notes.txt") << "not a picture";
  DoorSim sim({"--frames", folder, "--fps", "20", "--ring-every", "0.4",
               "--ring-length", "0.2"});
  StreamRead read = ReadStream(sim.Url("/video.mjpg"), UntilFrames(25));
  fs::remove_all(folder);
  std::vector<std::string> frames = read.parsed.Frames();
  ASSERT_GE(frames.size(), 25u);
  for (std::size_t i = 0; i < frames.size(); ++i)
    EXPECT_EQ(frames[i], pictures[i % 2]) << i;
  std::string flags;
  for (const StreamEvent &e : read.parsed.events)
    if (e.kind == 'C' && (flags.empty() || flags.back() != e.text[0]))
      flags += e.text;
  EXPECT_EQ(flags.substr(0, 3), "010") << flags;
}

TEST(DoorSim, RelayCommandsAnswerAndAreLogged) {
  DoorSim sim({});
  for (const char *id : {"relay1", "relay2", "relay1"}) {
    HttpAnswer answer =
        Get(sim.Url(std::string("/cgi-bin/remctrl.sh?id=") + id));
    EXPECT_EQ(answer.status, 200);
  }
  EXPECT_EQ(Get(sim.Url("/cgi-bin/remctrl.sh?id=relay3")).status, 400);
  std::string status = Get(sim.Url("/sim/status")).body;
  EXPECT_NE(status.find("\"relay1\":2,\"relay2\":1"), std::string::npos)
      << status;
  EXPECT_EQ(sim.Stop(), 0);

  std::size_t logged = 0;
  for (const std::string &line : sim.Lines())
    if (line.find("relay request id=relay") != std::string::npos) {
      ++logged;
      // A timestamp such as 2025-01-31T12:34:56.789 comes first.
      EXPECT_EQ(line[4], '-');
      EXPECT_EQ(line[10], 'T');
    }
  EXPECT_EQ(logged, 4u);
  std::string file = ReadFile(sim.Dir() / "doorsim.log");
  EXPECT_NE(file.find("relay request id=relay2"), std::string::npos);
}

TEST(DoorSim, ControlCommandsCheckTheirArguments) {
  DoorSim sim({});
  EXPECT_EQ(Get(sim.Url("/sim/ring?flag=12")).status, 400);
  EXPECT_EQ(Get(sim.Url("/sim/title?text=a%0Db")).status, 400);
  EXPECT_EQ(Get(sim.Url("/sim/error?code=9")).status, 400);
  EXPECT_EQ(Get(sim.Url("/sim/nonsense")).status, 404);
  EXPECT_EQ(Get(sim.Url("/sim/colour?rgb=red")).status, 400);
  EXPECT_EQ(Get(sim.Url("/sim/colour?rgb=ff00")).status, 400);
  EXPECT_EQ(Get(sim.Url("/sim/colour?rgb=00ff7F")).status, 200);
  EXPECT_EQ(Get(sim.Url("/sim/colour?rgb=off")).status, 200);
  EXPECT_EQ(Get(sim.Url("/sim/ring?flag=2")).status, 200);
  EXPECT_NE(Get(sim.Url("/sim/status")).body.find("\"flag\":\"2\""),
            std::string::npos);
}

} // namespace
