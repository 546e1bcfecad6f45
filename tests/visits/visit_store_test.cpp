// The record on disk: a real SQLite database and real files, opened as the
// recorder and the Visitors window open it, and read as another program
// would read it.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/standard_error.h"
#include "support/temp_dir.h"
#include "visits/visit_store.h"

using namespace visits;
namespace fs = std::filesystem;

namespace {

constexpr uid_t kOther = 65534; // "someone else", as root can make it
constexpr std::int64_t kDay = 86400000;

std::int64_t Now() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

unsigned ModeOf(const std::string &path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

int Lines(const std::string &text) {
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

// The database as any other program would read it.
class Reader {
public:
  explicit Reader(const std::string &path) {
    sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr);
  }
  ~Reader() { sqlite3_close(db_); }
  std::string One(const char *sql) {
    sqlite3_stmt *s = nullptr;
    std::string value = "<none>";
    if (sqlite3_prepare_v2(db_, sql, -1, &s, nullptr) == SQLITE_OK &&
        sqlite3_step(s) == SQLITE_ROW && sqlite3_column_text(s, 0) != nullptr)
      value = reinterpret_cast<const char *>(sqlite3_column_text(s, 0));
    sqlite3_finalize(s);
    return value;
  }

private:
  sqlite3 *db_ = nullptr;
};

// A stream visit with pictures at `slots`, and its outcome.
std::int64_t StreamVisit(t_VisitStore &store, std::int64_t started,
                         std::vector<int> slots, VisitOutcome outcome) {
  t_NewVisit v;
  v.startedMs = started;
  v.door = "Front door";
  v.address = "127.0.0.1:8080";
  v.folder = slots.empty() ? "" : store.MakeVisitFolder(started, 1);
  const std::int64_t id = store.Begin(v);
  std::vector<t_VisitPicture> written;
  for (int slot : slots) {
    const std::vector<std::uint8_t> bytes(120 + slot / kSlotMs, 0xFF);
    EXPECT_EQ(store.WritePicture(v.folder, slot, bytes), PictureWrite::Written);
    written.push_back(
        {slot, PictureName(slot), "", static_cast<std::int64_t>(bytes.size())});
  }
  if (!written.empty()) {
    EXPECT_TRUE(store.AddPictures(id, written, "+00000.jpg"));
  }
  if (outcome != VisitOutcome::Undecided) {
    EXPECT_TRUE(store.Finish(id, outcome, started + 2000));
  }
  return id;
}

std::int64_t SipCall(t_VisitStore &store, std::int64_t started,
                     VisitOutcome outcome) {
  t_NewVisit v;
  v.startedMs = started;
  v.how = "sip";
  v.caller = "door@127.0.0.1";
  const std::int64_t id = store.Begin(v);
  EXPECT_TRUE(store.Finish(id, outcome, started + 5000));
  return id;
}

std::vector<std::int64_t> Ids(const std::vector<t_Visit> &visits) {
  std::vector<std::int64_t> ids;
  for (const t_Visit &v : visits)
    ids.push_back(v.id);
  return ids;
}

TEST(VisitStore, TheRecordIsPrivateAndReadsAsTheVisitorsWindowNeedsIt) {
  TempDir data;
  auto store = t_VisitStore::Open(data.path(), true);
  ASSERT_TRUE(store);
  const std::string folder = data / "visits";
  EXPECT_EQ(store->Folder(), fs::canonical(folder).string());
  EXPECT_EQ(ModeOf(folder), 0700u);

  const std::int64_t t0 = Now() - kDay;
  const std::int64_t v1 =
      StreamVisit(*store, t0, {-250, 0, 250}, VisitOutcome::Missed);
  // The same ring heard over SIP, and a SIP call no stream saw.
  const std::int64_t v2 = SipCall(*store, t0 + 10000, VisitOutcome::Missed);
  const std::int64_t v3 =
      StreamVisit(*store, t0 + 100000, {0}, VisitOutcome::Answered);
  const std::int64_t v4 = SipCall(*store, t0 + 200000, VisitOutcome::Missed);
  const std::int64_t v5 =
      StreamVisit(*store, t0 + 300000, {-3000}, VisitOutcome::Undecided);
  for (const char *file : {"visits.sqlite", "visits.sqlite-wal"})
    EXPECT_EQ(ModeOf(folder + "/" + file), 0600u) << file;

  // Another program reads it by the documented names.
  {
    Reader other(folder + "/visits.sqlite");
    EXPECT_EQ(other.One("PRAGMA user_version"), "1");
    EXPECT_EQ(other.One("PRAGMA journal_mode"), "wal");
    EXPECT_EQ(other.One("SELECT group_concat(id || ' ' || started || ' ' || "
                        "door || ' ' || address || ' ' || how || ' ' || "
                        "ifnull(caller, '-') || ' ' || outcome || ' ' || "
                        "ended || ' ' || folder || ' ' || seen) "
                        "FROM visits WHERE id = 1"),
              "1 " + UtcText(t0) + " Front door 127.0.0.1:8080 stream - " +
                  "missed " + UtcText(t0 + 2000) + " " +
                  VisitFolderName(t0, 1) + " 0");
    EXPECT_EQ(other.One("SELECT caller FROM visits WHERE id = 2"),
              "door@127.0.0.1");
    EXPECT_EQ(other.One("SELECT ifnull(outcome, 'NULL') FROM visits "
                        "WHERE id = 5"),
              "NULL");
  }

  EXPECT_EQ(store->Count(), 5);
  EXPECT_EQ(Ids(store->List(0, 2)), (std::vector<std::int64_t>{v5, v4}));
  EXPECT_EQ(Ids(store->List(2, 2)), (std::vector<std::int64_t>{v3, v2}));
  EXPECT_EQ(Ids(store->List(4, 10)), (std::vector<std::int64_t>{v1}));
  const auto first = store->Find(v1);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->outcome, VisitOutcome::Missed);
  EXPECT_EQ(first->pictures, 3);
  EXPECT_EQ(first->bytes, 119 + 120 + 121);
  EXPECT_EQ(first->ringPicture, "+00000.jpg");
  EXPECT_FALSE(first->seen);
  EXPECT_EQ(store->Find(v5)->outcome, VisitOutcome::Undecided);
  EXPECT_EQ(store->Find(v5)->ended, "");

  const std::vector<t_VisitPicture> pictures = store->Pictures(v1);
  ASSERT_EQ(pictures.size(), 3u);
  std::vector<int> at;
  for (const t_VisitPicture &p : pictures) {
    at.push_back(p.atMs);
    EXPECT_EQ(p.path, store->Folder() + "/" + first->folder + "/" + p.file);
    EXPECT_EQ(static_cast<std::int64_t>(ReadFile(p.path).size()), p.bytes);
    EXPECT_EQ(ModeOf(p.path), 0600u);
  }
  EXPECT_EQ(at, (std::vector<int>{-250, 0, 250}));

  // v2 is v1's ring heard both ways: one visitor; v4 another.
  EXPECT_EQ(store->CountUnseenMissed(), 2);
  EXPECT_TRUE(store->MarkSeen({v1, v2}));
  EXPECT_EQ(store->CountUnseenMissed(), 1);
  EXPECT_TRUE(store->Find(v1)->seen);

  const std::string v1Folder = store->Folder() + "/" + first->folder;
  EXPECT_TRUE(store->Delete(v1));
  EXPECT_FALSE(store->Find(v1));
  EXPECT_FALSE(fs::exists(v1Folder));
  EXPECT_FALSE(store->Delete(v1)) << "nothing left to delete";

  // A row some other program wrote with names that lead out of visits/:
  // never read from or deleted through.
  const std::string victim = data / "victim.jpg";
  WriteFile(victim, "mine");
  {
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open((folder + "/visits.sqlite").c_str(), &db),
              SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "INSERT INTO visits (id, started, how, folder) "
                           "VALUES (99, '2020-01-01T00:00:00.000Z', 'stream', "
                           "'..');"
                           "INSERT INTO pictures VALUES (99, 0, "
                           "'victim.jpg', 4)",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
  }
  EXPECT_TRUE(store->Pictures(99).empty());
  EXPECT_TRUE(store->DeleteAll());
  EXPECT_EQ(store->Count(), 0);
  EXPECT_EQ(ReadFile(victim), "mine");
  EXPECT_FALSE(
      fs::exists(store->Folder() + "/" + VisitFolderName(t0 + 300000, 1)));
  EXPECT_TRUE(fs::exists(folder + "/visits.sqlite"));
}

TEST(VisitStore, APictureThatDoesNotFitIsNotLeftHalfWritten) {
  TempDir data;
  auto store = t_VisitStore::Open(data.path(), true);
  ASSERT_TRUE(store);
  const std::string folder = store->MakeVisitFolder(Now(), 2);
  ASSERT_FALSE(folder.empty());
  std::signal(SIGXFSZ, SIG_IGN); // the write fails instead
  rlimit limit{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
  const rlimit before = limit;
  limit.rlim_cur = 1000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  const PictureWrite result =
      store->WritePicture(folder, 0, std::vector<std::uint8_t>(4000, 0xFF));
  const bool failed = store->LastWriteFailed();
  setrlimit(RLIMIT_FSIZE, &before);
  EXPECT_EQ(result, PictureWrite::Failed);
  EXPECT_TRUE(failed);
  EXPECT_FALSE(fs::exists(store->Folder() + "/" + folder + "/+00000.jpg"));
  // A visit deleted meanwhile is gone, not a full disk.
  fs::remove_all(store->Folder() + "/" + folder);
  EXPECT_EQ(store->WritePicture(folder, 0, {0xFF}), PictureWrite::Gone);
  EXPECT_FALSE(store->LastWriteFailed());
}

// What stands at visits/ and visits.sqlite is judged as the settings file
// is: the user's own links are followed, nothing of anybody else's is used.
TEST(VisitStore, LinksAndOwnersAreJudgedAsForTheSettingsFile) {
  struct Case {
    const char *what;
    void (*plant)(const TempDir &data, const TempDir &elsewhere);
    const char *refusal; // null: opened
  };
  const Case cases[] = {
      {"a link of the user's own to a folder of the user's own",
       [](const TempDir &data, const TempDir &elsewhere) {
         symlink(elsewhere.path().c_str(), (data / "visits").c_str());
       },
       nullptr},
      {"a folder the user made open to others",
       [](const TempDir &data, const TempDir &) {
         mkdir((data / "visits").c_str(), 0755);
       },
       nullptr},
      {"a link of someone else's",
       [](const TempDir &data, const TempDir &elsewhere) {
         symlink(elsewhere.path().c_str(), (data / "visits").c_str());
         lchown((data / "visits").c_str(), kOther, kOther);
       },
       "is a symbolic link of user 65534"},
      {"someone else's folder",
       [](const TempDir &data, const TempDir &) {
         mkdir((data / "visits").c_str(), 0700);
         chown((data / "visits").c_str(), kOther, kOther);
       },
       "belongs to user 65534"},
      {"a file",
       [](const TempDir &data, const TempDir &) {
         WriteFile(data / "visits", "x");
       },
       "is not a folder"},
      {"the database a link to someone else's file",
       [](const TempDir &data, const TempDir &elsewhere) {
         mkdir((data / "visits").c_str(), 0700);
         WriteFile(elsewhere / "theirs.sqlite", "");
         chown((elsewhere / "theirs.sqlite").c_str(), kOther, kOther);
         symlink((elsewhere / "theirs.sqlite").c_str(),
                 (data / "visits/visits.sqlite").c_str());
       },
       "which belongs to user 65534"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    TempDir data, elsewhere;
    c.plant(data, elsewhere);
    std::unique_ptr<t_VisitStore> store;
    const std::string said =
        StandardError([&] { store = t_VisitStore::Open(data.path(), true); });
    if (c.refusal == nullptr) {
      ASSERT_TRUE(store);
      EXPECT_EQ(said, "");
      EXPECT_EQ(ModeOf(store->Folder()), 0700u);
      EXPECT_TRUE(fs::exists(data / "visits/visits.sqlite"));
      EXPECT_NE(store->Begin({}), 0);
      continue;
    }
    EXPECT_FALSE(store);
    EXPECT_EQ(Lines(said), 1) << said;
    EXPECT_NE(said.find(data / "visits"), std::string::npos) << said;
    EXPECT_NE(said.find(c.refusal), std::string::npos) << said;
    // The copy and its window both open it: the reason is said once.
    EXPECT_EQ(StandardError([&] { t_VisitStore::Open(data.path(), false); }),
              "");
    EXPECT_EQ(ReadFile(elsewhere / "theirs.sqlite"), "");
  }
}

// The first pages of a database of one visit, its table's pages written
// over with what no database holds.
std::string DamagedDatabase() {
  TempDir data;
  {
    auto store = t_VisitStore::Open(data.path(), true);
    StreamVisit(*store, Now(), {}, VisitOutcome::Missed);
  }
  std::string bytes = ReadFile(data / "visits/visits.sqlite");
  for (std::size_t i = 4096; i < bytes.size(); ++i)
    bytes[i] = static_cast<char>(0xA5);
  return bytes;
}

TEST(VisitStore, ADamagedDatabaseIsMovedAsideAndAFreshOneStarted) {
  const struct {
    const char *what;
    std::string bytes;
  } cases[] = {
      {"not a database", "These are not the visits you are looking for.\n"},
      {"a database with damaged pages", DamagedDatabase()},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    TempDir data;
    ASSERT_EQ(mkdir((data / "visits").c_str(), 0700), 0);
    const std::string path = data / "visits/visits.sqlite";
    WriteFile(path, c.bytes);
    std::unique_ptr<t_VisitStore> store;
    const std::string said =
        StandardError([&] { store = t_VisitStore::Open(data.path(), true); });
    ASSERT_TRUE(store);
    EXPECT_EQ(store->Count(), 0);
    EXPECT_NE(store->Begin({}), 0);
    std::vector<std::string> aside;
    for (const auto &e : fs::directory_iterator(data / "visits"))
      if (e.path().filename().string().rfind("visits.sqlite.broken-", 0) == 0)
        aside.push_back(e.path());
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(ReadFile(aside[0]), c.bytes) << "kept as it was";
    EXPECT_EQ(Lines(said), 1) << said;
    EXPECT_NE(said.find(aside[0]), std::string::npos) << said;
  }
}

TEST(VisitStore, RetentionRemovesTheOldestDecidedVisitsWithTheirPictures) {
  TempDir data;
  auto store = t_VisitStore::Open(data.path(), true);
  ASSERT_TRUE(store);
  const std::int64_t now = Now();
  // Still under way in some copy: never removed. One left undecided by a
  // copy that crashed long ago goes like the others.
  const std::int64_t ringing =
      StreamVisit(*store, now - 3600000, {0}, VisitOutcome::Undecided);
  const std::int64_t abandoned =
      StreamVisit(*store, now - 50 * kDay, {0}, VisitOutcome::Undecided);
  std::vector<std::int64_t> ids;
  for (int days : {40, 20, 10, 1})
    ids.push_back(
        StreamVisit(*store, now - days * kDay, {0, 250}, VisitOutcome::Missed));
  auto folderOf = [&](std::int64_t id) {
    return store->Folder() + "/" + store->Find(id)->folder;
  };
  const std::string oldest = folderOf(ids[0]);

  EXPECT_EQ(store->Retain({30, 1000, 500 << 20}, now),
            (std::vector<std::int64_t>{abandoned, ids[0]}));
  EXPECT_FALSE(fs::exists(oldest)) << "its pictures went with it";
  EXPECT_TRUE(fs::exists(folderOf(ids[1])));
  EXPECT_EQ(store->Retain({30, 2, 0}, now), std::vector<std::int64_t>{ids[1]});
  // Two visits of 2 pictures, 241 bytes each: the older one is too many.
  EXPECT_EQ(store->Retain({0, 0, 300}, now), std::vector<std::int64_t>{ids[2]});
  EXPECT_EQ(Ids(store->List(0, 10)),
            (std::vector<std::int64_t>{ringing, ids[3]}));
}

} // namespace
