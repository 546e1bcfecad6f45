// Caller fields and address comparison: the door-unit cases, and texts no
// door unit should send (each must stay inside its field and the text).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "telephony/caller.h"

namespace {

struct CallerCase {
  std::string from, name, ip;
};

TEST(Caller, FieldsFromAddress) {
  const std::string long_user(500, 'u');
  const std::string long_host(500, '7');
  const CallerCase cases[] = {
      {"sip:door@192.168.1.250:5060", "door", "192.168.1.250"},
      {"sip:door@192.168.1.250;transport=udp", "door", "192.168.1.250"},
      {"<sip:192.168.1.250>", "", "192.168.1.250"},
      {"\"Front\" <sip:door@127.0.0.1:5062>", "door", "127.0.0.1"},
      {"sip:@127.0.0.1", "", "127.0.0.1"},
      {"sip:door@", "door", ""},
      {"sip:", "", ""},
      {"", "", ""},
      {"door@192.168.1.250", "", ""},            // no scheme: nobody
      {std::string(64, 'x') + ":a@b", "", ""},   // ':' past the first 64
      {std::string(63, 'x') + ":a@b", "a", "b"}, // ':' at the last place
      // The display name holds ':' and '@': the parse starts inside it and
      // the fields are wrong, but stay in bounds.
      {"\"a:b@c\" <sip:door@10.0.0.1>", "b", "c\" <sip"},
      // No '@' among the 64 characters after ':': no user part.
      {"sip:" + long_user + "@10.0.0.1", "", std::string(63, 'u')},
      {"sip:" + std::string(63, 'u') + "@10.0.0.1", std::string(63, 'u'),
       "10.0.0.1"},
      {"sip:d@" + long_host, "d", std::string(63, '7')},
  };
  for (const auto &c : cases) {
    char name[kCallerFieldSize], ip[kCallerFieldSize];
    std::memset(name, '#', sizeof name);
    std::memset(ip, '#', sizeof ip);
    ParseCaller(c.from.c_str(), name, ip);
    EXPECT_EQ(name, c.name) << c.from;
    EXPECT_EQ(ip, c.ip) << c.from;
  }
  char name[kCallerFieldSize] = "old", ip[kCallerFieldSize] = "old";
  ParseCaller(nullptr, name, ip);
  EXPECT_STREQ(name, "");
  EXPECT_STREQ(ip, "");
}

// The host of IP_addr, which a call goes to: never the web server's port.
TEST(Caller, DoorHostLeavesThePortOut) {
  const std::string long_host(100, 'h');
  const struct {
    const char *address;
    std::string host;
  } cases[] = {
      {"127.0.0.2:8080", "127.0.0.2"},
      {"192.168.001.250", "192.168.001.250"},
      {"door.local:80", "door.local"},
      {"[2001:db8::10]:8080", "[2001:db8::10]"},
      {"[::1]", "[::1]"},
      {"[::1", "[::1"}, // unclosed: the text, as the web side refuses it
      {":8080", ""},
      {"", ""},
  };
  for (const auto &c : cases) {
    char host[kCallerFieldSize];
    std::memset(host, '#', sizeof host);
    DoorHost(c.address, host);
    EXPECT_EQ(host, c.host) << c.address;
  }
  char host[kCallerFieldSize];
  DoorHost((long_host + ":1").c_str(), host);
  EXPECT_EQ(host, std::string(63, 'h'));
  DoorHost(nullptr, host);
  EXPECT_STREQ(host, "");
}

TEST(Caller, CompareAddresses) {
  struct {
    const char *a, *b;
    int result;
  } cases[] = {
      {"192.168.001.250", "192.168.1.250", 0},
      {"192.168.1.25", "192.168.1.250", -1},
      {"010.0.0.1", "10.0.0.1", 0}, // decimal, not octal
      {"a.b.c.d", "0.0.0.0", 0},
      {"127.0.0.1:8080", "127.0.0.1", 0}, // the port is past three characters
      {"10.0.0", "10.0.0.0", 0},          // a missing field is 0
      {"10.0.0", "10.0.0.1", -1},
      {"", "0.0.0.0", 0},
      {"1.2.3.4.5", "1.2.3.4", 0}, // a fifth field is not read
      {"1234.0.0.1", "123.0.0.1", 0},
      {"192.168.1.250", "192.168.1.251", -1},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(cmp_ip(c.a, c.b), c.result) << c.a << " vs " << c.b;
    EXPECT_EQ(cmp_ip(c.b, c.a), c.result) << c.b << " vs " << c.a;
  }
  EXPECT_EQ(cmp_ip(nullptr, ""), 0);
}

// Which change of IP_addr is another door unit's stream.
TEST(Caller, SameDoorAddress) {
  struct {
    const char *a, *b;
    bool same;
  } cases[] = {
      {"192.168.001.250", "192.168.1.250", true},
      {"127.0.0.1:8170", "127.0.0.1:8172", false}, // only the port
      {"127.0.0.1:8170", "127.0.0.1", false},
      {"door.test", "door.test", true},
      {"door.test", "gate.test", false},
      {"a.b.c.d", "0.0.0.0", false}, // not addresses at all
      {"1.2.3.4.5", "1.2.3.4", false},
      {"1234.0.0.1", "123.0.0.1", false},
      {"10.0.0", "10.0.0.0", false},
      {"", "", true},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(SameDoorAddress(c.a, c.b), c.same) << c.a << " vs " << c.b;
    EXPECT_EQ(SameDoorAddress(c.b, c.a), c.same) << c.b << " vs " << c.a;
  }
}

} // namespace

namespace {

// Which copy's door-unit identity names the caller.
TEST(Caller, DoorIdMatches) {
  struct {
    bool useSip;
    const char *identity, *name, *ip;
    bool match;
  } cases[] = {
      {false, "192.168.001.250", "door", "192.168.1.250", true},
      {false, "192.168.1.25", "door", "192.168.1.250", false},
      {false, "192.168.1.250", "", "192.168.1.250", true}, // no user part
      {true, "door", "door", "10.0.0.1", true},
      {true, "Door", "door", "10.0.0.1", false},  // case counts
      {true, "9door", "door", "10.0.0.1", false}, // a prefix must be in it
      {true, "", "", "10.0.0.1", true},           // nothing named, both ways
      {true, "10.0.0.1", "door", "10.0.0.1", false},
  };
  for (const auto &c : cases)
    EXPECT_EQ(DoorIdMatches(c.useSip, c.identity, c.name, c.ip), c.match)
        << c.identity << " / " << c.name << "@" << c.ip;
  EXPECT_FALSE(DoorIdMatches(true, nullptr, "door", "10.0.0.1"));
}

} // namespace
