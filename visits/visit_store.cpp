// The database of the visitors' record and the folders of its pictures.
#include "visits/visit_store.h"

#include <sqlite3.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <set>

#include "platform/files.h"
#include "platform/report.h"

namespace visits {

namespace {

// Version 1. `outcome` is NULL while a visit is under way; `pictures`,
// `bytes` and `ring_picture` sum up the visit's rows of `pictures`, so that
// a list and retention never read those.
constexpr const char kSchema[] = R"(
CREATE TABLE IF NOT EXISTS visits (
  id INTEGER PRIMARY KEY,
  started TEXT NOT NULL,
  door TEXT,
  address TEXT,
  how TEXT NOT NULL,
  caller TEXT,
  outcome TEXT,
  ended TEXT,
  folder TEXT,
  seen INTEGER NOT NULL DEFAULT 0,
  pictures INTEGER NOT NULL DEFAULT 0,
  bytes INTEGER NOT NULL DEFAULT 0,
  ring_picture TEXT
);
CREATE INDEX IF NOT EXISTS visits_by_start ON visits (started);
CREATE INDEX IF NOT EXISTS visits_by_outcome ON visits (outcome, seen);
CREATE TABLE IF NOT EXISTS pictures (
  visit INTEGER NOT NULL REFERENCES visits (id) ON DELETE CASCADE,
  at_ms INTEGER NOT NULL,
  file TEXT NOT NULL,
  bytes INTEGER NOT NULL,
  PRIMARY KEY (visit, at_ms)
) WITHOUT ROWID;
)";

constexpr const char kColumns[] =
    "id, started, door, address, how, caller, outcome, ended, folder, seen, "
    "pictures, bytes, ring_picture";

// Each reason the record cannot be kept where it is is said once per
// process (the recorder and a window may each open it).
std::mutex g_toldMutex;
std::set<std::string> g_told; // guarded by g_toldMutex

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// A prepared statement, finalized when it goes.
class t_Statement {
public:
  t_Statement(sqlite3 *db, const char *sql) {
    if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK)
      stmt_ = nullptr;
  }
  ~t_Statement() { sqlite3_finalize(stmt_); }
  t_Statement(const t_Statement &) = delete;
  t_Statement &operator=(const t_Statement &) = delete;

  bool ok() const { return stmt_ != nullptr; }
  t_Statement &Bind(int i, std::int64_t value) {
    sqlite3_bind_int64(stmt_, i, value);
    return *this;
  }
  // The empty text is bound as NULL.
  t_Statement &Bind(int i, const std::string &text) {
    if (text.empty())
      sqlite3_bind_null(stmt_, i);
    else
      sqlite3_bind_text(stmt_, i, text.data(), static_cast<int>(text.size()),
                        SQLITE_TRANSIENT);
    return *this;
  }
  t_Statement &Bind(int i, const char *text) {
    return Bind(i, std::string(text ? text : ""));
  }
  // Ready for the next step with new values.
  void Reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  // SQLITE_ROW, SQLITE_DONE or an error.
  int Step() { return stmt_ ? sqlite3_step(stmt_) : SQLITE_ERROR; }
  std::int64_t Int(int i) { return sqlite3_column_int64(stmt_, i); }
  std::string Text(int i) {
    const auto *text =
        reinterpret_cast<const char *>(sqlite3_column_text(stmt_, i));
    return text ? std::string(text, sqlite3_column_bytes(stmt_, i)) : "";
  }

private:
  sqlite3_stmt *stmt_ = nullptr;
};

t_Visit ReadVisit(t_Statement &s) {
  t_Visit v;
  v.id = s.Int(0);
  v.started = s.Text(1);
  v.door = s.Text(2);
  v.address = s.Text(3);
  v.how = s.Text(4);
  v.caller = s.Text(5);
  v.outcome = OutcomeFromText(s.Text(6).c_str());
  v.ended = s.Text(7);
  v.folder = s.Text(8);
  v.seen = s.Int(9) != 0;
  v.pictures = static_cast<int>(s.Int(10));
  v.bytes = s.Int(11);
  v.ringPicture = s.Text(12);
  return v;
}

// A database that cannot be read as one, or fails its check.
bool Damaged(int code) {
  const int primary = code & 0xFF;
  return primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT;
}

// The connection's settings, the check and the schema; SQLITE_OK, the
// error, or SQLITE_CORRUPT when the check finds damage. SQLITE_MISMATCH:
// a newer release's schema.
int Prepare(sqlite3 *db, bool check) {
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  // Every copy of the data folder writes here: WAL lets them read while
  // one writes, and NORMAL syncs only at checkpoints, which WAL keeps safe.
  for (const char *pragma :
       {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=NORMAL",
        "PRAGMA foreign_keys=ON"}) {
    const int code = sqlite3_exec(db, pragma, nullptr, nullptr, nullptr);
    if (code != SQLITE_OK)
      return code;
  }
  if (check) {
    t_Statement quick(db, "PRAGMA quick_check(1)");
    const int code = quick.Step();
    if (code != SQLITE_ROW)
      return code;
    if (quick.Text(0) != "ok")
      return SQLITE_CORRUPT;
  }
  // Two copies starting at once: the one that takes the write lock first
  // makes the tables, the other finds them.
  int code = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  if (code != SQLITE_OK)
    return code;
  t_Statement version(db, "PRAGMA user_version");
  const std::int64_t have = version.Step() == SQLITE_ROW ? version.Int(0) : -1;
  if (have > kSchemaVersion || have < 0)
    code = have < 0 ? SQLITE_CORRUPT : SQLITE_MISMATCH;
  else if (have == 0)
    code = sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr);
  if (code == SQLITE_OK && have == 0) {
    const std::string set =
        "PRAGMA user_version=" + std::to_string(kSchemaVersion);
    code = sqlite3_exec(db, set.c_str(), nullptr, nullptr, nullptr);
  }
  sqlite3_exec(db, code == SQLITE_OK ? "COMMIT" : "ROLLBACK", nullptr, nullptr,
               nullptr);
  return code;
}

sqlite3 *OpenConnection(const std::string &path) {
  sqlite3 *db = nullptr;
  const int code =
      sqlite3_open_v2(path.c_str(), &db,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE |
                          SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_FULLMUTEX,
                      nullptr);
  if (code != SQLITE_OK) {
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3_extended_result_codes(db, 1);
  // The library makes the file with the umask's mode; its journal files
  // take the database's.
  plat::MakeOwnerOnly(path);
  plat::MakeOwnerOnly(path + "-wal");
  plat::MakeOwnerOnly(path + "-shm");
  return db;
}

void Refuse(const std::string &path, const std::string &why) {
  const std::string text = path + " " + why;
  {
    std::lock_guard lock(g_toldMutex);
    if (!g_told.insert(text).second)
      return;
  }
  plat::Report("cannot keep the visitors' record: %s; visits are not "
               "recorded",
               text.c_str());
}

} // namespace

const char *OutcomeText(VisitOutcome outcome) {
  switch (outcome) {
  case VisitOutcome::Answered:
    return "answered";
  case VisitOutcome::Missed:
    return "missed";
  case VisitOutcome::Declined:
    return "declined";
  case VisitOutcome::Busy:
    return "busy";
  case VisitOutcome::Stranger:
    return "stranger";
  case VisitOutcome::Undecided:
    break;
  }
  return nullptr;
}

VisitOutcome OutcomeFromText(const char *text) {
  for (VisitOutcome o :
       {VisitOutcome::Answered, VisitOutcome::Missed, VisitOutcome::Declined,
        VisitOutcome::Busy, VisitOutcome::Stranger})
    if (text != nullptr && std::string(text) == OutcomeText(o))
      return o;
  return VisitOutcome::Undecided;
}

std::unique_ptr<t_VisitStore> t_VisitStore::Open(const std::string &dataFolder,
                                                 bool repair) {
  const std::string given = dataFolder + "/" + kVisitsFolder;
  plat::t_OwnPath folder = plat::JudgeOwnPath(given, plat::OwnKind::Folder);
  if (folder.state == plat::t_OwnPath::Missing) {
    plat::CreateDirectory(given); // or another copy just made it
    folder = plat::JudgeOwnPath(given, plat::OwnKind::Folder);
  }
  if (folder.state != plat::t_OwnPath::Own) {
    Refuse(given, folder.state == plat::t_OwnPath::Missing ? "cannot be made"
                                                           : folder.why);
    return nullptr;
  }
  plat::MakeOwnerOnly(folder.path);

  const std::string named = folder.path + "/" + kDatabaseName;
  const plat::t_OwnPath file = plat::JudgeOwnPath(named, plat::OwnKind::File);
  if (file.state == plat::t_OwnPath::Refused) {
    Refuse(named, file.why);
    return nullptr;
  }
  const std::string path = file.path;
  for (int attempt = 0; attempt < 2; ++attempt) {
    const std::optional<plat::t_FileId> opened = plat::FileIdOf(path);
    sqlite3 *db = OpenConnection(path);
    if (db == nullptr) {
      Refuse(path, "cannot be opened");
      return nullptr;
    }
    const int code = Prepare(db, repair);
    if (code == SQLITE_OK)
      return std::unique_ptr<t_VisitStore>(new t_VisitStore(db, folder.path));
    sqlite3_close(db);
    if (code == SQLITE_MISMATCH) {
      Refuse(path, "was written by a newer release of the program");
      return nullptr;
    }
    if (!repair || !Damaged(code) || attempt > 0) {
      Refuse(path,
             std::string("cannot be used (") + sqlite3_errstr(code) + ")");
      return nullptr;
    }
    // Another copy that met the same damage has already moved it aside and
    // started the fresh one: that one is used, not moved aside too.
    if (opened && plat::FileIdOf(path) != opened)
      continue;
    // Kept, not deleted: the user may want to rescue what it holds.
    const std::string aside = path + ".broken-" + CompactUtcText(NowMs());
    if (std::rename(path.c_str(), aside.c_str()) != 0) {
      Refuse(path, "is damaged and cannot be moved aside");
      return nullptr;
    }
    std::rename((path + "-wal").c_str(), (aside + "-wal").c_str());
    plat::DeleteFile(path + "-shm");
    plat::Report("the visitors' record %s was damaged (%s); it is kept as "
                 "%s and a new one is started",
                 path.c_str(), sqlite3_errstr(code), aside.c_str());
  }
  return nullptr;
}

t_VisitStore::t_VisitStore(sqlite3 *db, std::string folder)
    : db_(db), folder_(std::move(folder)) {}

t_VisitStore::~t_VisitStore() { sqlite3_close(db_); }

bool t_VisitStore::Exec(const char *sql) {
  return !Failed(sqlite3_exec(db_, sql, nullptr, nullptr, nullptr));
}

bool t_VisitStore::Failed(int code) {
  const int primary = code & 0xFF;
  if (primary == SQLITE_OK || primary == SQLITE_DONE || primary == SQLITE_ROW)
    return false;
  if (primary == SQLITE_FULL || primary == SQLITE_IOERR)
    writeFailed_ = true;
  return true;
}

std::vector<t_Visit> t_VisitStore::List(std::int64_t offset, int limit) {
  const std::string sql = std::string("SELECT ") + kColumns +
                          " FROM visits ORDER BY started DESC, id DESC "
                          "LIMIT ? OFFSET ?";
  t_Statement s(db_, sql.c_str());
  s.Bind(1, static_cast<std::int64_t>(limit)).Bind(2, offset);
  std::vector<t_Visit> visits;
  while (s.Step() == SQLITE_ROW)
    visits.push_back(ReadVisit(s));
  return visits;
}

std::int64_t t_VisitStore::Count() {
  t_Statement s(db_, "SELECT count(*) FROM visits");
  return s.Step() == SQLITE_ROW ? s.Int(0) : 0;
}

std::optional<t_Visit> t_VisitStore::Find(std::int64_t id) {
  const std::string sql =
      std::string("SELECT ") + kColumns + " FROM visits WHERE id = ?";
  t_Statement s(db_, sql.c_str());
  s.Bind(1, id);
  if (s.Step() != SQLITE_ROW)
    return std::nullopt;
  return ReadVisit(s);
}

int t_VisitStore::CountUnseenMissed() {
  t_Statement s(db_, R"(
    SELECT count(*) FROM visits AS v
    WHERE v.outcome = 'missed' AND v.seen = 0
      AND NOT (v.how = 'sip' AND EXISTS (
        SELECT 1 FROM visits AS s WHERE s.how = 'stream'
          AND s.started
            BETWEEN strftime('%Y-%m-%dT%H:%M:%fZ', v.started, '-30 seconds')
                AND strftime('%Y-%m-%dT%H:%M:%fZ', v.started, '+30 seconds')))
  )");
  return s.Step() == SQLITE_ROW ? static_cast<int>(s.Int(0)) : 0;
}

std::vector<t_VisitPicture> t_VisitStore::Pictures(std::int64_t id) {
  t_Statement s(db_, "SELECT v.folder, p.at_ms, p.file, p.bytes "
                     "FROM pictures AS p JOIN visits AS v ON v.id = p.visit "
                     "WHERE p.visit = ? ORDER BY p.at_ms");
  s.Bind(1, id);
  std::vector<t_VisitPicture> pictures;
  while (s.Step() == SQLITE_ROW) {
    const std::string folder = s.Text(0);
    t_VisitPicture p;
    p.atMs = static_cast<int>(s.Int(1));
    p.file = s.Text(2);
    p.bytes = s.Int(3);
    // Another program may have written the row: only names of ours become
    // paths.
    if (!IsPlainName(folder) || !IsPictureName(p.file))
      continue;
    p.path = folder_ + "/" + folder + "/" + p.file;
    pictures.push_back(std::move(p));
  }
  return pictures;
}

std::optional<std::int64_t> t_VisitStore::DataVersion() {
  t_Statement s(db_, "PRAGMA data_version");
  if (s.Step() != SQLITE_ROW)
    return std::nullopt;
  return s.Int(0);
}

bool t_VisitStore::MarkSeen(const std::vector<std::int64_t> &ids) {
  writeFailed_ = false;
  if (!Exec("BEGIN IMMEDIATE"))
    return false;
  t_Statement s(db_, "UPDATE visits SET seen = 1 WHERE id = ?");
  bool ok = s.ok();
  for (std::int64_t id : ids) {
    s.Bind(1, id);
    ok = !Failed(s.Step()) && ok;
    s.Reset();
  }
  return Exec(ok ? "COMMIT" : "ROLLBACK") && ok;
}

void t_VisitStore::RemoveFiles(const std::string &folder,
                               const std::vector<std::string> &files) {
  if (!IsPlainName(folder))
    return;
  const std::string base = folder_ + "/" + folder;
  for (const std::string &file : files)
    if (IsPictureName(file))
      plat::DeleteFile(base + "/" + file);
  // Whatever else somebody put there stays, with its folder.
  plat::RemoveFolder(base);
}

bool t_VisitStore::RemoveVisits(const std::vector<std::int64_t> &ids) {
  writeFailed_ = false;
  struct t_Gone {
    std::string folder;
    std::vector<std::string> files;
  };
  std::vector<t_Gone> gone;
  if (!Exec("BEGIN IMMEDIATE"))
    return false;
  bool ok = true;
  for (std::int64_t id : ids) {
    t_Statement folder(db_, "SELECT folder FROM visits WHERE id = ?");
    folder.Bind(1, id);
    if (folder.Step() != SQLITE_ROW)
      continue;
    t_Gone g{folder.Text(0), {}};
    t_Statement files(db_, "SELECT file FROM pictures WHERE visit = ?");
    files.Bind(1, id);
    while (files.Step() == SQLITE_ROW)
      g.files.push_back(files.Text(0));
    t_Statement pictures(db_, "DELETE FROM pictures WHERE visit = ?");
    t_Statement visit(db_, "DELETE FROM visits WHERE id = ?");
    ok = !Failed(pictures.Bind(1, id).Step()) &&
         !Failed(visit.Bind(1, id).Step()) && ok;
    gone.push_back(std::move(g));
  }
  if (!Exec(ok ? "COMMIT" : "ROLLBACK") || !ok)
    return false;
  // The rows went first: a folder left behind by a failure is only litter,
  // a row without its pictures would show a broken visit.
  for (const t_Gone &g : gone)
    RemoveFiles(g.folder, g.files);
  return !gone.empty();
}

bool t_VisitStore::Delete(std::int64_t id) { return RemoveVisits({id}); }

bool t_VisitStore::DeleteAll() {
  std::vector<std::int64_t> ids;
  {
    t_Statement s(db_, "SELECT id FROM visits");
    while (s.Step() == SQLITE_ROW)
      ids.push_back(s.Int(0));
  }
  return RemoveVisits(ids);
}

std::int64_t t_VisitStore::Begin(const t_NewVisit &visit) {
  writeFailed_ = false;
  t_Statement s(db_, "INSERT INTO visits (started, door, address, how, "
                     "caller, outcome, ended, folder) "
                     "VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
  s.Bind(1, UtcText(visit.startedMs))
      .Bind(2, visit.door)
      .Bind(3, visit.address)
      .Bind(4, visit.how)
      .Bind(5, visit.caller)
      .Bind(6, OutcomeText(visit.outcome))
      .Bind(7, visit.endedMs ? UtcText(*visit.endedMs) : std::string())
      .Bind(8, visit.folder);
  if (Failed(s.Step()))
    return 0;
  return sqlite3_last_insert_rowid(db_);
}

std::string t_VisitStore::MakeVisitFolder(std::int64_t startedMs, int copy) {
  writeFailed_ = false;
  const std::string base = VisitFolderName(startedMs, copy);
  for (int n = 1; n <= 9; ++n) {
    const std::string name = n == 1 ? base : base + "-" + std::to_string(n);
    const std::string path = folder_ + "/" + name;
    if (plat::CreateDirectory(path))
      return name;
    if (!plat::PathExists(path))
      break;
  }
  writeFailed_ = true;
  return {};
}

PictureWrite
t_VisitStore::WritePicture(const std::string &folder, int atMs,
                           const std::vector<std::uint8_t> &bytes) {
  writeFailed_ = false;
  if (!IsPlainName(folder))
    return PictureWrite::Gone;
  const std::string path = folder_ + "/" + folder + "/" + PictureName(atMs);
  std::FILE *file = plat::CreatePrivateFile(path.c_str());
  if (file == nullptr) {
    if (errno == ENOENT)
      return PictureWrite::Gone;
    writeFailed_ = true;
    return PictureWrite::Failed;
  }
  const bool written =
      std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  if (std::fclose(file) != 0 || !written) {
    // Half a picture would show as a broken one.
    plat::DeleteFile(path);
    writeFailed_ = true;
    return PictureWrite::Failed;
  }
  return PictureWrite::Written;
}

bool t_VisitStore::AddPictures(std::int64_t id,
                               const std::vector<t_VisitPicture> &added,
                               const std::string &ringPicture) {
  writeFailed_ = false;
  if (!Exec("BEGIN IMMEDIATE"))
    return false;
  bool ok = true;
  {
    t_Statement insert(db_, "INSERT OR REPLACE INTO pictures (visit, at_ms, "
                            "file, bytes) VALUES (?, ?, ?, ?)");
    for (const t_VisitPicture &p : added) {
      insert.Bind(1, id)
          .Bind(2, static_cast<std::int64_t>(p.atMs))
          .Bind(3, p.file)
          .Bind(4, p.bytes);
      ok = !Failed(insert.Step()) && ok;
      insert.Reset();
    }
    t_Statement sum(
        db_, "UPDATE visits SET "
             "pictures = (SELECT count(*) FROM pictures WHERE visit = ?1), "
             "bytes = (SELECT coalesce(sum(bytes), 0) FROM pictures "
             "WHERE visit = ?1), "
             "ring_picture = coalesce(?2, ring_picture) WHERE id = ?1");
    sum.Bind(1, id).Bind(2, ringPicture);
    ok = !Failed(sum.Step()) && sqlite3_changes(db_) == 1 && ok;
  }
  return Exec(ok ? "COMMIT" : "ROLLBACK") && ok;
}

bool t_VisitStore::Finish(std::int64_t id, VisitOutcome outcome,
                          std::optional<std::int64_t> endedMs) {
  writeFailed_ = false;
  t_Statement s(db_, "UPDATE visits SET outcome = ?, "
                     "ended = coalesce(?, ended) WHERE id = ?");
  s.Bind(1, OutcomeText(outcome))
      .Bind(2, endedMs ? UtcText(*endedMs) : std::string())
      .Bind(3, id);
  return !Failed(s.Step()) && sqlite3_changes(db_) == 1;
}

std::vector<std::int64_t> t_VisitStore::Retain(const t_Limits &limits,
                                               std::int64_t nowMs) {
  std::vector<t_Kept> kept;
  {
    // A visit under way belongs to a copy that still writes it.
    t_Statement s(db_, "SELECT id, started, bytes FROM visits "
                       "WHERE outcome IS NOT NULL OR started < ? "
                       "ORDER BY started DESC, id DESC");
    s.Bind(1, UtcText(nowMs - kAbandonedMs));
    while (s.Step() == SQLITE_ROW)
      kept.push_back({s.Int(0), ParseUtcText(s.Text(1)).value_or(0), s.Int(2)});
  }
  std::vector<std::int64_t> removed = ChooseRemovals(kept, limits, nowMs);
  if (removed.empty() || !RemoveVisits(removed))
    return {};
  return removed;
}

} // namespace visits
