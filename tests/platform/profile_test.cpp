// The INI operations keep the Windows private-profile semantics the
// configuration relies on.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
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
