// The frame file lives in a folder others may write into: whatever they
// planted under its name is neither written through nor read, and nothing
// there makes us wait.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <future>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/files.h"
#include "support/temp_dir.h"

namespace {

constexpr uid_t kOther = 65534; // "someone else", as root can make it

TEST(PrivateFiles, PlantedEntriesAreReplacedForWritingAndRefusedForReading) {
  TempDir dir;
  const std::string at = dir / "Vestibell_1.tmp";
  const std::string doc = dir / "thesis.txt";
  struct Case {
    const char *what;
    void (*plant)(const std::string &at, const std::string &doc);
  } cases[] = {
      {"a link to my document",
       [](const std::string &at, const std::string &doc) {
         ASSERT_EQ(symlink(doc.c_str(), at.c_str()), 0);
       }},
      {"a FIFO nobody reads",
       [](const std::string &at, const std::string &) {
         ASSERT_EQ(mkfifo(at.c_str(), 0666), 0);
       }},
      {"someone else's file",
       [](const std::string &at, const std::string &) {
         WriteFile(at, "theirs");
         ASSERT_EQ(chown(at.c_str(), kOther, kOther), 0);
       }},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    unlink(at.c_str());
    WriteFile(doc, "my own words\n");
    c.plant(at, doc);

    // Reading back: refused at once, never waiting on a FIFO.
    auto reading = std::async(std::launch::async, [&] {
      std::FILE *in = plat::OpenPrivateFile(at.c_str());
      if (in != nullptr)
        std::fclose(in);
      return in != nullptr;
    });
    if (reading.wait_for(std::chrono::seconds(3)) !=
        std::future_status::ready) {
      ADD_FAILURE() << "waits on what was planted";
      close(open(at.c_str(), O_WRONLY | O_NONBLOCK));
    }
    EXPECT_FALSE(reading.get());

    std::FILE *out = plat::CreatePrivateFile(at.c_str());
    ASSERT_NE(out, nullptr);
    std::fputs("picture", out);
    std::fclose(out);
    EXPECT_EQ(ReadFile(doc), "my own words\n");
    struct stat st {};
    ASSERT_EQ(lstat(at.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_uid, geteuid());
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    std::FILE *in = plat::OpenPrivateFile(at.c_str());
    ASSERT_NE(in, nullptr);
    char got[16] = {};
    EXPECT_EQ(std::fread(got, 1, sizeof got, in), 7u);
    std::fclose(in);
  }

  // A folder under the name can be neither emptied nor removed, even by
  // root: the file cannot be made, and nothing inside is touched.
  unlink(at.c_str());
  ASSERT_EQ(mkdir(at.c_str(), 0700), 0);
  WriteFile(at + "/kept", "x");
  EXPECT_EQ(plat::CreatePrivateFile(at.c_str()), nullptr);
  EXPECT_EQ(ReadFile(at + "/kept"), "x");
}

} // namespace
