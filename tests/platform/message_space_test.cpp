// The message space between real processes: broadcast, nested sends, copy-
// data and posts; a stopped instance; frames that must not be acted on;
// connections that never finish; a runtime folder that must be refused.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/message_frame.h"
#include "platform/message_space.h"
#include "platform/window.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace {

constexpr char kSpace[] = "Vestibell_test_space";

struct Peer {
  std::unique_ptr<Child> child;
  long long value = 0;
};

class MessageSpace : public ::testing::Test {
protected:
  // A peer in the runtime folder `runtime` (the test's own by default) that
  // says `word` and its value once it joined; what it said before goes to
  // `before`.
  Peer Start(const std::string &runtime = {}, const std::string &word = "ready",
             std::vector<std::string> *before = nullptr) {
    Peer peer;
    peer.child = std::make_unique<Child>(
        std::vector<std::string>{SPACE_PEER, kSpace},
        std::vector<std::string>{"XDG_RUNTIME_DIR=" +
                                 (runtime.empty() ? runtime_.path() : runtime)},
        /*mergeStderr=*/true);
    for (;;) {
      const auto line = peer.child->ReadLine();
      if (!line) {
        ADD_FAILURE() << "the peer never said " << word;
        break;
      }
      if (line->rfind(word + " ", 0) == 0) {
        peer.value = std::stoll(line->substr(word.size() + 1));
        break;
      }
      EXPECT_NE(before, nullptr) << *line;
      if (before != nullptr)
        before->push_back(*line);
    }
    return peer;
  }
  // The next line of `peer` that begins with `prefix`; empty if none comes.
  static std::string
  Await(Peer &peer, const std::string &prefix,
        std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      const auto line = peer.child->ReadLine(
          std::chrono::duration_cast<std::chrono::milliseconds>(
              deadline - std::chrono::steady_clock::now()));
      if (!line)
        break;
      if (line->rfind(prefix, 0) == 0)
        return *line;
    }
    return {};
  }
  // The milliseconds a "done" line reports.
  static long long TookMs(const std::string &done) {
    return std::stoll(done.substr(done.rfind(' ') + 1));
  }
  std::string SocketOf(long long value) const {
    return runtime_.path() + "/vestibell/" + kSpace + "/" +
           std::to_string(value);
  }
  // A connection to `value`'s socket, made by this process directly. While
  // the listener's queue is full, it is tried again for a while rather than
  // waited on.
  int Connect(long long value) const {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, SocketOf(value).c_str(),
                 sizeof addr.sun_path - 1);
    for (int attempt = 0; attempt < 2000; ++attempt) {
      const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
      const int flags = fcntl(fd, F_GETFL);
      fcntl(fd, F_SETFL, flags | O_NONBLOCK);
      if (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0) {
        fcntl(fd, F_SETFL, flags);
        return fd;
      }
      const int error = errno;
      close(fd);
      if (error != EAGAIN)
        return -1;
      usleep(1000);
    }
    return -1;
  }
  // Every line `peer` says until it ends (its input closed).
  static std::vector<std::string> Rest(Peer &peer) {
    peer.child->CloseInput();
    std::vector<std::string> lines;
    while (const auto line = peer.child->ReadLine())
      lines.push_back(*line);
    return lines;
  }
  static std::vector<unsigned char> Record(long long lParam) {
    plat::MessageFrame frame;
    frame.message = plat::RegisterWindowMessage(kSpace);
    frame.wParam = 50;
    frame.lParam = lParam;
    return plat::EncodeFrame(frame);
  }
  TempDir runtime_;
};

TEST_F(MessageSpace, BroadcastNestedSendsCopyDataAndPosts) {
  std::vector<Peer> peers;
  for (int i = 0; i < 5; ++i)
    peers.push_back(Start());
  const std::string record = "got 50 " + std::to_string(peers[0].value);

  // The broadcast reaches all five, its sender among them, before it
  // returns.
  peers[0].child->Write("broadcast\n");
  for (auto &peer : peers)
    EXPECT_EQ(Await(peer, "got 50"), record);
  EXPECT_NE(Await(peers[0], "done broadcast"), "");

  // Four sends deep across two processes: each waiting window thread
  // handles the send that comes back to it.
  peers[0].child->Write("nest " + std::to_string(peers[1].value) + " 4\n");
  EXPECT_EQ(Await(peers[0], "done nest").substr(0, 12), "done nest 5 ");

  // Copy-data arrives whole, with its length, and the answer comes back.
  peers[0].child->Write("copy " + std::to_string(peers[1].value) + " sip:7\n");
  EXPECT_EQ(Await(peers[1], "copy "), "copy 6 128 sip:7");
  EXPECT_EQ(Await(peers[0], "done copy").substr(0, 14), "done copy 128 ");

  // A window that is gone, or never was, takes nothing and answers 0.
  peers[2].child->CloseInput();
  ASSERT_TRUE(peers[2].child->Wait().has_value());
  peers[0].child->Write("nest " + std::to_string(peers[2].value) + " 1\n");
  EXPECT_EQ(Await(peers[0], "done nest").substr(0, 12), "done nest 0 ");
  peers[0].child->Write("broadcast\n");
  EXPECT_NE(Await(peers[0], "done broadcast"), "");
  EXPECT_FALSE(std::filesystem::exists(SocketOf(peers[2].value)));
}

TEST_F(MessageSpace, AStoppedInstanceIsGivenUpAndTheOthersCarryOn) {
  Peer a = Start(), b = Start(), stopped = Start();
  kill(stopped.child->pid(), SIGSTOP);

  // A post does not wait for the receiver.
  a.child->Write("post " + std::to_string(stopped.value) + "\n");
  const std::string post = Await(a, "done post");
  ASSERT_NE(post, "");
  EXPECT_LT(TookMs(post), 1000);

  // The broadcast gives the stopped one up after the bound; the others got
  // it meanwhile.
  a.child->Write("broadcast\n");
  EXPECT_EQ(Await(b, "got 50"), "got 50 " + std::to_string(a.value));
  const std::string done = Await(a, "done broadcast");
  ASSERT_NE(done, "");
  EXPECT_LT(TookMs(done), plat::kSendTimeoutMs + 2000);

  // Woken, it handles the post but not the send its sender gave up, and is
  // reachable again.
  kill(stopped.child->pid(), SIGCONT);
  EXPECT_EQ(Await(stopped, "posted"), "posted " + std::to_string(a.value));
  b.child->Write("broadcast\n");
  EXPECT_EQ(Await(stopped, "got 50"), "got 50 " + std::to_string(b.value));
  EXPECT_LT(TookMs(Await(b, "done broadcast")), plat::kSendTimeoutMs);
}

TEST_F(MessageSpace, FramesThatMustNotBeActedOnAreDropped) {
  Peer peer = Start();
  plat::MessageFrame closeFrame;
  closeFrame.message = 0x0010; // WM_CLOSE stays inside its own process
  plat::MessageFrame reply;
  reply.kind = plat::FrameKind::Reply;
  reply.message = plat::RegisterWindowMessage(kSpace);
  std::vector<unsigned char> oversized = Record(1);
  const std::uint32_t huge = plat::kMaxFrameBlock + 1;
  std::memcpy(oversized.data() + 36, &huge, sizeof huge);
  oversized[6] = 1;
  const auto whole = Record(2);
  const std::vector<unsigned char> truncated(whole.begin(), whole.begin() + 20);
  const std::vector<std::vector<unsigned char>> hostile = {
      {'G', 'E', 'T', ' ', '/', '\n'},
      truncated,
      oversized,
      plat::EncodeFrame(closeFrame),
      plat::EncodeFrame(reply)};
  for (const auto &bytes : hostile) {
    const int fd = Connect(peer.value);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()),
              static_cast<ssize_t>(bytes.size()));
    shutdown(fd, SHUT_WR);
    char answer[64];
    EXPECT_EQ(read(fd, answer, sizeof answer), 0) << "acted on a bad frame";
    close(fd);
  }

  // A sound frame after them all is acted on and answered.
  const int fd = Connect(peer.value);
  const auto good = Record(4321);
  ASSERT_EQ(write(fd, good.data(), good.size()),
            static_cast<ssize_t>(good.size()));
  EXPECT_EQ(Await(peer, "got 50"), "got 50 4321");
  unsigned char bytes[plat::kFrameHeaderSize];
  ASSERT_EQ(read(fd, bytes, sizeof bytes), static_cast<ssize_t>(sizeof bytes));
  plat::MessageFrame answer;
  std::size_t used = 0;
  ASSERT_EQ(plat::DecodeFrame(bytes, sizeof bytes, &answer, &used),
            plat::FrameResult::Complete);
  EXPECT_EQ(answer.kind, plat::FrameKind::Reply);
  EXPECT_EQ(answer.lParam, 7);
  close(fd);

  // Another user's frame is refused, even where the folders let it in.
  if (geteuid() != 0)
    GTEST_SKIP() << "running a peer as another user needs root";
  for (std::string path = SocketOf(peer.value); path.size() > 1;
       path = path.substr(0, path.rfind('/')))
    chmod(path.c_str(), 0777);
  const pid_t other = fork();
  if (other == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0)
      _exit(2);
    const int c = Connect(peer.value);
    const auto bad = Record(999);
    _exit(c >= 0 && write(c, bad.data(), bad.size()) > 0 ? 0 : 3);
  }
  int status = 0;
  waitpid(other, &status, 0);
  ASSERT_EQ(WEXITSTATUS(status), 0);
  EXPECT_NE(Await(peer, "Vestibell: message space: refused"), "");
  const int last = Connect(peer.value);
  const auto check = Record(5);
  ASSERT_EQ(write(last, check.data(), check.size()),
            static_cast<ssize_t>(check.size()));
  EXPECT_EQ(Await(peer, "got 50"), "got 50 5") << "the refused frame got in";
  close(last);
}

TEST_F(MessageSpace, SilentConnectionsNeverHoldTheWindowThread) {
  Peer peer = Start(), other = Start();
  const std::string value = std::to_string(peer.value);
  // More of them than it keeps waiting at once, and two that send the
  // beginning of a frame.
  std::vector<int> silent;
  for (int i = 0; i < 100; ++i) {
    silent.push_back(Connect(peer.value));
    ASSERT_GE(silent.back(), 0);
  }
  const auto whole = Record(77);
  const int half = Connect(peer.value), split = Connect(peer.value);
  ASSERT_EQ(write(half, whole.data(), 20), 20);
  ASSERT_EQ(write(split, whole.data(), 20), 20);

  // Meanwhile its window thread handles a post to its own window and a
  // send from another instance (that it answers with a send back) at once.
  for (int round = 0; round < 2; ++round) {
    const auto start = std::chrono::steady_clock::now();
    peer.child->Write("post " + value + "\n");
    EXPECT_EQ(Await(peer, "posted"), "posted " + value);
    EXPECT_LT(std::chrono::steady_clock::now() - start,
              std::chrono::milliseconds(250));
    other.child->Write("nest " + value + " 1\n");
    const std::string nest = Await(other, "done nest");
    EXPECT_EQ(nest.substr(0, 12), "done nest 2 ");
    EXPECT_LT(TookMs(nest), 250);
  }

  // The frame sent in two parts is acted on and answered.
  ASSERT_EQ(write(split, whole.data() + 20, whole.size() - 20),
            static_cast<ssize_t>(whole.size() - 20));
  EXPECT_EQ(Await(peer, "got 50"), "got 50 77");
  unsigned char bytes[plat::kFrameHeaderSize];
  ASSERT_EQ(read(split, bytes, sizeof bytes),
            static_cast<ssize_t>(sizeof bytes));
  plat::MessageFrame answer;
  std::size_t used = 0;
  ASSERT_EQ(plat::DecodeFrame(bytes, sizeof bytes, &answer, &used),
            plat::FrameResult::Complete);
  EXPECT_EQ(answer.lParam, 7);
  close(split);

  // The others are dropped once their time is up.
  silent.push_back(half);
  for (const int fd : silent) {
    pollfd p{fd, POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 3000), 1);
    char c;
    EXPECT_EQ(read(fd, &c, 1), 0) << "a silent connection was kept";
    close(fd);
  }
  EXPECT_NE(Await(peer, "Vestibell: message space: dropped an incomplete "
                        "frame from process"),
            "");
}

TEST_F(MessageSpace, WithItsFolderRefusedTheOwnWindowIsStillReached) {
  const std::string away = runtime_ / "away";
  ASSERT_EQ(mkdir(away.c_str(), 0700), 0);
  auto fresh = [&](const std::string &name) {
    const std::string folder = runtime_ / name;
    EXPECT_EQ(mkdir(folder.c_str(), 0700), 0);
    return folder;
  };
  struct Case {
    std::string setup, runtime, reason;
  };
  std::vector<Case> cases;
  const std::string link = fresh("link");
  ASSERT_EQ(symlink(away.c_str(), (link + "/vestibell").c_str()), 0);
  cases.push_back({"a link", link, "it is a symbolic link"});
  const std::string open = fresh("open");
  ASSERT_EQ(mkdir((open + "/vestibell").c_str(), 0700), 0);
  ASSERT_EQ(chmod((open + "/vestibell").c_str(), 0777), 0);
  cases.push_back({"open to all", open, "others may enter it (mode 0777)"});
  if (geteuid() == 0) {
    const std::string foreign = fresh("foreign");
    ASSERT_EQ(mkdir((foreign + "/vestibell").c_str(), 0700), 0);
    ASSERT_EQ(chown((foreign + "/vestibell").c_str(), 65534, 65534), 0);
    cases.push_back({"another user's", foreign, "it belongs to user 65534"});
  }
  // (A missing runtime folder would be made by the toolkit.)
  WriteFile(runtime_ / "file", "");
  cases.push_back({"not to be made", runtime_ / "file",
                   "it cannot be made (Not a directory)"});

  for (const Case &c : cases) {
    SCOPED_TRACE(c.setup);
    std::vector<std::string> before;
    Peer peer = Start(c.runtime, "alone", &before);
    const std::string told = "Vestibell: cannot use the runtime folder " +
                             c.runtime + "/vestibell: " + c.reason + ";";
    // The toolkit may have its say about the runtime folder too.
    std::erase_if(before, [](const std::string &line) {
      return line.rfind("Vestibell:", 0) != 0;
    });
    ASSERT_EQ(before.size(), 1u);
    EXPECT_EQ(before[0].substr(0, told.size()), told) << before[0];
    // Its broadcasts and posts to all reach its own window, and nothing
    // more is said about the folder.
    peer.child->Write("broadcast\npostall\n");
    const std::string value = std::to_string(peer.value);
    EXPECT_EQ(Await(peer, "got 50"), "got 50 " + value);
    EXPECT_EQ(Await(peer, "done broadcast").substr(0, 17), "done broadcast 0 ");
    EXPECT_EQ(Await(peer, "posted"), "posted " + value);
    for (const std::string &line : Rest(peer))
      EXPECT_EQ(line.rfind("Vestibell:", 0), std::string::npos) << line;
  }
  EXPECT_TRUE(std::filesystem::is_empty(away)) << "made through the link";
}

TEST(MessageFrame, DecodesWhatItEncodesAndNothingElse) {
  plat::MessageFrame frame;
  frame.copyData = true;
  frame.message = 0x004A;
  frame.wParam = 0x12345678ABCDull;
  frame.dwData = 6;
  frame.block = {'s', 'i', 'p', 0, ' '};
  const auto bytes = plat::EncodeFrame(frame);
  plat::MessageFrame out;
  std::size_t used = 0;
  for (std::size_t n = 0; n < bytes.size(); ++n)
    EXPECT_EQ(plat::DecodeFrame(bytes.data(), n, &out, &used),
              plat::FrameResult::NeedMore)
        << n;
  ASSERT_EQ(plat::DecodeFrame(bytes.data(), bytes.size(), &out, &used),
            plat::FrameResult::Complete);
  EXPECT_EQ(used, bytes.size());
  EXPECT_EQ(out.wParam, frame.wParam);
  EXPECT_EQ(out.block, frame.block);

  // Every byte of the fixed part that can be wrong, and a block where none
  // belongs.
  for (std::size_t at : {0u, 4u, 5u, 6u, 7u}) {
    auto bad = bytes;
    bad[at] = 0xEE;
    EXPECT_EQ(plat::DecodeFrame(bad.data(), bad.size(), &out, &used),
              plat::FrameResult::Malformed)
        << at;
  }
  auto posted = bytes;
  posted[5] = static_cast<unsigned char>(plat::FrameKind::Post);
  EXPECT_EQ(plat::DecodeFrame(posted.data(), posted.size(), &out, &used),
            plat::FrameResult::Malformed);
  frame.block.assign(plat::kMaxFrameBlock + 1, 'x');
  EXPECT_TRUE(plat::EncodeFrame(frame).empty());
}

} // namespace
