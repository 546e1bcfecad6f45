// The INI operations keep the Windows private-profile semantics the
// configuration relies on.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <fcntl.h>
#include <future>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/profile.h"
#include "support/temp_dir.h"

using namespace plat;

namespace {

class Profile : public ::testing::Test {
protected:
  std::string Get(const char *section, const char *key, const char *def,
                  std::size_t size = 256) {
    std::string buffer(size, '#');
    const std::size_t n =
        GetPrivateProfileString(section, key, def, buffer.data(), size, file());
    EXPECT_EQ(n, std::strlen(buffer.c_str()));
    return buffer.c_str();
  }
  const char *file() const { return path_.c_str(); }
  TempDir dir_;
  std::string path_ = dir_ / "test.ini";
};

TEST_F(Profile, MissingFileSectionOrKeyGivesTheDefault) {
  EXPECT_EQ(Get("Window 0", "IP_addr", "192.168.1.250"), "192.168.1.250");
  EXPECT_EQ(GetPrivateProfileInt("Window 0", "Width", 336, file()), 336);
  WriteFile(path_, "[SIP]\nSIP_id=door\n");
  EXPECT_EQ(Get("Window 0", "IP_addr", "dflt"), "dflt");
  EXPECT_EQ(Get("SIP", "SIP_pass", "dflt"), "dflt");
  EXPECT_EQ(Get("SIP", "SIP_id", "dflt"), "door");
  EXPECT_EQ(GetPrivateProfileInt("SIP", "UseSIP", -7, file()), -7);
}

TEST_F(Profile, PresentButEmptyValueIsEmptyNotTheDefault) {
  WriteFile(path_, "[SIP]\nSIP_id=\nSIP_reg_duration=\n");
  EXPECT_EQ(Get("SIP", "SIP_id", "Vestibell"), "");
  // An empty number is taken as 0, not as the default.
  EXPECT_EQ(GetPrivateProfileInt("SIP", "SIP_reg_duration", 3600, file()), 0);
}

TEST_F(Profile, ValuesAreCutToTheBufferSizeLessOne) {
  WriteFile(path_, "[S]\nk=0123456789abcdef\n");
  EXPECT_EQ(Get("S", "k", "", 8), "0123456");
  EXPECT_EQ(Get("S", "missing", "ABCDEFGHIJ", 4), "ABC");
  EXPECT_EQ(Get("S", "k", "", 1), "");
  char untouched = 'x';
  EXPECT_EQ(GetPrivateProfileString("S", "k", "", &untouched, 0, file()), 0u);
  EXPECT_EQ(untouched, 'x');
}

TEST_F(Profile, IntegersReadWithSignLeadingZerosAndTrailingText) {
  WriteFile(path_, "[W]\nLeft=-1200\nreg=0600\ntail=42px\nplus=+5\n"
                   "junk=abc\nhuge=99999999999999999999\n"
                   "tiny=-99999999999999999999\n");
  EXPECT_EQ(GetPrivateProfileInt("W", "Left", 0, file()), -1200);
  EXPECT_EQ(GetPrivateProfileInt("W", "reg", 0, file()), 600);
  EXPECT_EQ(GetPrivateProfileInt("W", "tail", 0, file()), 42);
  EXPECT_EQ(GetPrivateProfileInt("W", "plus", 0, file()), 5);
  EXPECT_EQ(GetPrivateProfileInt("W", "junk", 9, file()), 0);
  EXPECT_EQ(GetPrivateProfileInt("W", "huge", 0, file()), INT_MAX);
  EXPECT_EQ(GetPrivateProfileInt("W", "tiny", 0, file()), INT_MIN);
}

TEST_F(Profile, SectionsAndKeysMatchWithoutCaseAndValuesAreTrimmed) {
  WriteFile(path_, "  [window 0]  \r\n  ip_ADDR  =  10.0.0.1  \r\n");
  EXPECT_EQ(Get("Window 0", "IP_addr", ""), "10.0.0.1");
}

TEST_F(Profile, KeysOfOtherSectionsAreNotSeen) {
  WriteFile(path_, "[Window 1]\nIP_addr=1.1.1.1\n[Window 0]\nother=x\n");
  EXPECT_EQ(Get("Window 0", "IP_addr", "dflt"), "dflt");
}

TEST_F(Profile, WriteCreatesFileOwnerOnlyAndTextRoundTripsAsTyped) {
  ASSERT_TRUE(
      WritePrivateProfileString("SIP", "SIP_reg_duration", "0600", file()));
  ASSERT_TRUE(WritePrivateProfileString("Window 0", "Left", "-1200", file()));
  EXPECT_EQ(Get("SIP", "SIP_reg_duration", ""), "0600");
  EXPECT_EQ(GetPrivateProfileInt("SIP", "SIP_reg_duration", 0, file()), 600);
  EXPECT_EQ(GetPrivateProfileInt("Window 0", "Left", 0, file()), -1200);
  struct stat st {};
  ASSERT_EQ(stat(file(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u) << "the file holds a SIP password";
  // Still a plain INI a person can read and edit.
  EXPECT_EQ(ReadFile(path_),
            "[SIP]\nSIP_reg_duration=0600\n\n[Window 0]\nLeft=-1200\n");
}

TEST_F(Profile, WriteReplacesInPlaceAndKeepsEverythingElse) {
  WriteFile(path_, "; my door\n[Window 0]\nIP_addr=1.2.3.4\npop=1\n\n"
                   "[SIP]\nSIP_id=me\n");
  ASSERT_TRUE(
      WritePrivateProfileString("window 0", "ip_addr", "127.0.0.1", file()));
  ASSERT_TRUE(WritePrivateProfileString("Window 0", "Width", "640", file()));
  EXPECT_EQ(ReadFile(path_), "; my door\n[Window 0]\nip_addr=127.0.0.1\n"
                             "pop=1\nWidth=640\n\n[SIP]\nSIP_id=me\n");
}

TEST_F(Profile, WriteKeepsWindowsLineEnds) {
  WriteFile(path_, "[A]\r\nx=1\r\n");
  ASSERT_TRUE(WritePrivateProfileString("A", "y", "2", file()));
  EXPECT_EQ(ReadFile(path_), "[A]\r\nx=1\r\ny=2\r\n");
}

TEST_F(Profile, AValueCannotSmuggleInLinesOfItsOwn) {
  // A realm named by a registrar is written as it came.
  ASSERT_TRUE(WritePrivateProfileString(
      "SIP", "SIP_realm", "evil\n[Window 0]\nIP_addr=6.6.6.6", file()));
  EXPECT_EQ(Get("SIP", "SIP_realm", ""), "evil");
  EXPECT_EQ(Get("Window 0", "IP_addr", "dflt"), "dflt");
}

TEST_F(Profile, NullValueRemovesKeyAndNullKeyRemovesSection) {
  WriteFile(path_, "[A]\nx=1\ny=2\n[B]\nz=3\n");
  ASSERT_TRUE(WritePrivateProfileString("A", "x", nullptr, file()));
  EXPECT_EQ(Get("A", "x", "gone"), "gone");
  EXPECT_EQ(Get("A", "y", ""), "2");
  ASSERT_TRUE(WritePrivateProfileString("A", nullptr, nullptr, file()));
  EXPECT_EQ(Get("A", "y", "gone"), "gone");
  EXPECT_EQ(Get("B", "z", ""), "3");
}

TEST_F(Profile, WriteIntoMissingFolderFailsAndReadsGiveDefaults) {
  const std::string nowhere = dir_ / "missing/Vestibell.ini";
  EXPECT_FALSE(WritePrivateProfileString("A", "x", "1", nowhere.c_str()));
  EXPECT_EQ(GetPrivateProfileInt("A", "x", 5, nowhere.c_str()), 5);
}

TEST_F(Profile, WriteFollowsASymbolicLinkToTheRealFile) {
  const std::string real = dir_ / "real.ini";
  WriteFile(real, "[A]\nx=1\n");
  ASSERT_EQ(symlink(real.c_str(), file()), 0);
  ASSERT_TRUE(WritePrivateProfileString("A", "y", "2", file()));
  struct stat st {};
  ASSERT_EQ(lstat(file(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ReadFile(real), "[A]\nx=1\ny=2\n");
}

// A shared settings folder: whoever can write it can plant links there. As
// root (the tests' user) "someone else" is made by handing the entry to
// another user id with lchown.
TEST_F(Profile, OnlyTheUsersOwnLinksAreFollowedAndNothingElseIsWrittenThrough) {
  constexpr uid_t kOther = 65534;
  ASSERT_EQ(mkdir((dir_ / "docs").c_str(), 0700), 0);
  const std::string doc = dir_ / "docs/thesis.txt";
  const std::string docText = "[A]\nx=secret\n";
  struct Case {
    const char *what;
    bool linkIsMine, docIsMine, viaForeignLink, dangling;
  } cases[] = {
      {"a link someone else planted", false, true, false, false},
      {"my link to someone else's file", true, false, false, false},
      {"my link through someone else's link", true, true, true, false},
      {"my link that leads nowhere", true, true, false, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    unlink(file());
    unlink(doc.c_str());
    unlink((dir_ / "hop").c_str());
    if (!c.dangling) {
      WriteFile(doc, docText);
      ASSERT_EQ(chmod(doc.c_str(), 0644), 0);
      ASSERT_EQ(chown(doc.c_str(), c.docIsMine ? geteuid() : kOther, 0), 0);
    }
    const std::string hop = dir_ / "hop";
    if (c.viaForeignLink) {
      ASSERT_EQ(symlink(doc.c_str(), hop.c_str()), 0);
      ASSERT_EQ(lchown(hop.c_str(), kOther, 0), 0);
    }
    ASSERT_EQ(symlink(c.viaForeignLink ? hop.c_str() : doc.c_str(), file()), 0);
    ASSERT_EQ(lchown(file(), c.linkIsMine ? geteuid() : kOther, 0), 0);

    EXPECT_EQ(Get("A", "x", "dflt"), "dflt") << "read through the link";
    EXPECT_FALSE(WritePrivateProfileString("A", "y", "2", file()));
    struct stat st {};
    if (c.dangling) {
      EXPECT_NE(lstat(doc.c_str(), &st), 0) << "made where the link points";
    } else {
      EXPECT_EQ(ReadFile(doc), docText);
      ASSERT_EQ(stat(doc.c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 0777, 0644u);
    }
    ASSERT_EQ(lstat(file(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the planted entry is left as it is";
  }

  // My own link to my own file in another folder: that file is replaced in
  // its own folder, the link stays, nothing is left behind but the lock.
  unlink(file());
  WriteFile(doc, docText);
  ASSERT_EQ(chown(doc.c_str(), geteuid(), 0), 0);
  ASSERT_EQ(symlink(doc.c_str(), file()), 0);
  ASSERT_TRUE(WritePrivateProfileString("A", "y", "2", file()));
  EXPECT_EQ(ReadFile(doc), "[A]\nx=secret\ny=2\n");
  EXPECT_EQ(Get("A", "y", ""), "2");
  struct stat st {};
  ASSERT_EQ(lstat(file(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(stat((dir_ / "docs/thesis.txt.lock").c_str(), &st), 0);

  // A lock planted as a link is replaced by a lock of our own; nothing is
  // created where it pointed.
  unlink(file());
  const std::string lock = path_ + ".lock";
  const std::string elsewhere = dir_ / "docs/created-by-the-lock";
  ASSERT_EQ(symlink(elsewhere.c_str(), lock.c_str()), 0);
  ASSERT_TRUE(WritePrivateProfileString("A", "x", "1", file()));
  EXPECT_NE(lstat(elsewhere.c_str(), &st), 0);
  ASSERT_EQ(lstat(lock.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(ReadFile(path_), "[A]\nx=1\n");
}

TEST_F(Profile, AFifoInPlaceOfTheFileNeitherHangsNorIsReplaced) {
  ASSERT_EQ(mkfifo(file(), 0600), 0);
  auto read =
      std::async(std::launch::async, [this] { return Get("A", "x", "dflt"); });
  const bool answered =
      read.wait_for(std::chrono::seconds(3)) == std::future_status::ready;
  EXPECT_TRUE(answered) << "the reader waits on the FIFO";
  if (!answered) // let the stuck open go, so the test can end
    close(open(file(), O_WRONLY | O_NONBLOCK));
  EXPECT_EQ(read.get(), "dflt");
  auto write = std::async(std::launch::async, [this] {
    return WritePrivateProfileString("A", "x", "1", file());
  });
  const bool wrote =
      write.wait_for(std::chrono::seconds(3)) == std::future_status::ready;
  EXPECT_TRUE(wrote) << "the writer waits on the FIFO";
  if (!wrote)
    close(open(file(), O_WRONLY | O_NONBLOCK));
  EXPECT_FALSE(write.get());
  struct stat st {};
  ASSERT_EQ(lstat(file(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST_F(Profile, HostileFilesNeitherCrashNorLoseData) {
  // No line ends at all, a line of a megabyte, binary bytes.
  std::string big = "[A]\nk=" + std::string(1 << 20, 'v') + "\n";
  big += std::string("\0\xff\x01[", 4) + "\n[B\nq=1\n";
  WriteFile(path_, big);
  EXPECT_EQ(Get("A", "k", "", 64), std::string(63, 'v'));
  EXPECT_EQ(Get("B", "q", "none"), "none");
  // A file past any sane configuration size is left alone, not cut.
  WriteFile(path_, "[A]\nx=1\n" + std::string(5u << 20, ';'));
  EXPECT_FALSE(WritePrivateProfileString("A", "y", "1", file()));
  EXPECT_EQ(ReadFile(path_).size(), 8u + (5u << 20));
}

} // namespace
