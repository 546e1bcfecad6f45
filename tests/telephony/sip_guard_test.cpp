// The judgement of incoming SIP datagrams: what door units and registrars
// send passes, what the SIP library could not take (an address too long to
// write out again, or text it would keep and join to the sender's next
// datagram) does not.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "sip/sip_guard.h"

namespace {

constexpr auto kPass = SipDatagramFate::kPass;
constexpr auto kDrop = SipDatagramFate::kDrop;
constexpr auto kRefuse = SipDatagramFate::kRefuse;

const std::string kSdp = "v=0\r\no=door 1 1 IN IP4 127.0.0.1\r\ns=-\r\n"
                         "c=IN IP4 127.0.0.1\r\nt=0 0\r\n"
                         "m=audio 40000 RTP/AVP 0\r\n";

// An INVITE as door units send it, with `headers` among its own and the
// body's length in Content-Length unless `headers` gives one.
std::string Invite(const std::string &headers = "",
                   const std::string &body = kSdp,
                   const std::string &start = "INVITE sip:Vestibell@127.0.0.1 "
                                              "SIP/2.0") {
  std::string head = start + "\r\n" +
                     "Via: SIP/2.0/UDP 127.0.0.1:5062;branch=z9hG4bK1;rport\r\n"
                     "From: \"Front\" <sip:door@127.0.0.1:5062>;tag=1\r\n"
                     "To: <sip:Vestibell@127.0.0.1>\r\n"
                     "Call-ID: 1@127.0.0.1\r\nCSeq: 1 INVITE\r\n"
                     "Contact: <sip:door@127.0.0.1:5062>\r\n" +
                     headers;
  if (headers.find("Content-Length") == std::string::npos)
    head += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  return head + "\r\n" + body;
}

const char *Name(SipDatagramFate fate) {
  return fate == kPass ? "pass" : fate == kDrop ? "drop" : "refuse";
}

// A header value of exactly `size` bytes (from after the colon): one
// address in brackets.
std::string Address(std::size_t size) {
  const std::string shell = " <sip:door@127.0.0.1;x=>";
  return " <sip:door@127.0.0.1;x=" + std::string(size - shell.size(), 'p') +
         ">";
}

TEST(SipGuard, JudgesDatagrams) {
  const std::string d1100(1100, 'D');
  const std::string contact300 = "<sip:" + std::string(280, 'c') + "@h>";
  const std::string bare300 = "sip:" + std::string(296, 'c');
  std::string without_length = Invite();
  without_length.erase(without_length.find("Content-Length"),
                       without_length.find("\r\n\r\n") + 2 -
                           without_length.find("Content-Length"));
  const struct {
    const char *name;
    std::string datagram;
    SipDatagramFate fate;
  } cases[] = {
      // What door units, phones and registrars send.
      {"an INVITE with its SDP", Invite(), kPass},
      {"a response",
       "SIP/2.0 200 OK\r\nVia: SIP/2.0/UDP 127.0.0.1\r\nContent-Length: "
       "0\r\n\r\n",
       kPass},
      {"a reason phrase left out", "SIP/2.0 200\r\nl: 0\r\n\r\n", kPass},
      {"line ends before the start line", "\r\n\r\n" + Invite(), kPass},
      {"no Content-Length, a body of lines", without_length, kPass},
      {"a registrar's bindings, each short",
       Invite("Contact: " + contact300 + ";expires=60, " + contact300 + ", " +
              contact300 + "\r\n"),
       kPass},
      {"a comma inside a quoted name",
       Invite("Reply-To: \"a, b\" <sip:x@h>\r\n"), kPass},
      {"a long header that carries no address",
       Invite("Subject: " + std::string(kSipHeaderLimit - 9, 's') + "\r\n"),
       kPass},
      // Other datagrams: the library drops them whole, or would keep them.
      {"a keep-alive", "\r\n\r\n", kPass},
      {"an empty datagram", "", kPass},
      {"binary with a line end", std::string("\x80\x00\r\n\xff", 5), kPass},
      {"binary without one", std::string("\x00\x01\x00\x08", 4), kDrop},
      {"half a version", "INVITE sip:a SIP/2.", kDrop},
      // The datagram of the report, and its kin.
      {"a 1 KB display name",
       Invite().replace(Invite().find("\"Front\""), 7, "\"" + d1100 + "\""),
       kRefuse},
      {"an address at the limit",
       Invite("To:" + Address(kSipAddressLimit) + "\r\n"), kPass},
      {"an address one past it",
       Invite("To:" + Address(kSipAddressLimit + 1) + "\r\n"), kRefuse},
      {"compact name, another case, space before the colon",
       Invite("M :" + Address(kSipAddressLimit + 1) + "\r\n"), kRefuse},
      {"folded lines count with their header",
       Invite("P-Asserted-Identity: <sip:" + std::string(300, 'u') + "\r\n\t" +
              std::string(300, 'u') + "@h>\r\n"),
       kRefuse},
      {"bare addresses with commas are not split",
       Invite("Route: " + bare300 + "," + bare300 + "\r\n"), kRefuse},
      {"a start line at the limit",
       Invite("", kSdp,
              "INVITE sip:" + std::string(kSipAddressLimit - 21, 'u') +
                  "@h SIP/2.0"),
       kPass},
      {"a start line one past it",
       Invite("", kSdp,
              "INVITE sip:" + std::string(kSipAddressLimit - 20, 'u') +
                  "@h SIP/2.0"),
       kRefuse},
      {"a header one past its limit",
       Invite("Subject: " + std::string(kSipHeaderLimit - 8, 's') + "\r\n"),
       kRefuse},
      // Messages the library would not take as one whole datagram.
      {"no end of the head", Invite().substr(0, Invite().find("\r\n\r\n")),
       kRefuse},
      {"text in front", "xx " + Invite(), kRefuse},
      {"an HTTP request", "GET / HTTP/1.1\r\nHost: x\r\n\r\n", kRefuse},
      {"a zero byte in the head",
       Invite("X-Door: a" + std::string(1, '\0') + "b\r\n"), kRefuse},
      {"a line that is no header", Invite("just text\r\n"), kRefuse},
      {"a folded line first",
       Invite("", kSdp, "INVITE sip:Vestibell@127.0.0.1 SIP/2.0\r\n x"),
       kRefuse},
      {"a body longer than its Content-Length", Invite("Content-Length: 3\r\n"),
       kRefuse},
      {"a body shorter than it", Invite("Content-Length: 300\r\n"), kRefuse},
      {"two Content-Lengths", Invite("l: 0\r\n"), kRefuse},
      {"a body without a line end", Invite("", "v=0"), kRefuse},
      {"a message in the body", Invite("", "SIP/2.0 200 OK\r\n"), kRefuse},
  };
  for (const auto &c : cases) {
    // A copy of exact length on the heap: a read past it is caught by the
    // sanitizers.
    const auto copy = std::make_unique<char[]>(c.datagram.size());
    c.datagram.copy(copy.get(), c.datagram.size());
    const SipDatagramVerdict verdict =
        JudgeSipDatagram(copy.get(), c.datagram.size());
    EXPECT_STREQ(Name(verdict.fate), Name(c.fate))
        << c.name << ": " << (verdict.why ? verdict.why : "passed");
    EXPECT_EQ(verdict.fate == kPass, verdict.why == nullptr) << c.name;
  }
}

// Only the given bytes count: a whole message after them is not read.
TEST(SipGuard, ReadsNoFurtherThanTheDatagram) {
  const std::string invite = Invite();
  EXPECT_EQ(JudgeSipDatagram(invite.data(), invite.size()).fate, kPass);
  EXPECT_EQ(JudgeSipDatagram(invite.data(), invite.size() - 1).fate, kRefuse);
  EXPECT_EQ(JudgeSipDatagram(invite.data(), invite.find("\r\n\r\n") + 2).fate,
            kRefuse);
}

} // namespace
