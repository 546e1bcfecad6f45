// The visitors' record on disk: in the data folder (where Vestibell.ini
// is), a folder visits/ (0700) holding the SQLite database visits.sqlite
// and one folder of pictures per visit (files 0600). Several copies that
// share the data folder write the one database (WAL, a busy timeout).
//
// Threads: a t_VisitStore is one connection; use it from one thread at a
// time. Never from the window thread or the reader: any call may wait for
// the disk, or up to kBusyTimeoutMs for another copy's write. The
// recorder's worker holds one; the Visitors window opens its own on a
// thread of its own.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "visits/visit_rules.h"

struct sqlite3;

namespace visits {

inline constexpr int kSchemaVersion = 1; // PRAGMA user_version
inline constexpr int kBusyTimeoutMs = 5000;
// A visit still without an outcome this long after it began was left by a
// copy that ended before it knew (it crashed): retention takes it like a
// decided one.
inline constexpr std::int64_t kAbandonedMs = 86400000;
inline constexpr const char kVisitsFolder[] = "visits";
inline constexpr const char kDatabaseName[] = "visits.sqlite";

// The outcomes the table holds; Undecided is NULL (the visit is under way,
// or the program ended before it was known).
enum class VisitOutcome {
  Undecided,
  Answered,
  Missed,
  Declined,
  Busy,
  Stranger
};
const char *OutcomeText(VisitOutcome outcome); // "answered", ...; null
VisitOutcome OutcomeFromText(const char *text);

// One row of the table `visits`. A text the table holds as NULL is empty
// here.
struct t_Visit {
  std::int64_t id = 0;
  std::string started; // UTC, ISO 8601 with milliseconds and Z
  std::string door;    // the stream's title at the ring ("sip": empty)
  std::string address; // IP_addr of the copy that recorded it ("sip": empty)
  std::string how;     // "stream" or "sip"
  std::string caller;  // "user@host" or "host" ("stream": empty)
  VisitOutcome outcome = VisitOutcome::Undecided;
  std::string ended;  // when the ring or the call ended; empty until then
  std::string folder; // its pictures' folder, relative to visits/
  bool seen = false;  // the user has looked at it
  int pictures = 0;
  std::int64_t bytes = 0;
  std::string ringPicture; // the picture of the ring's moment, in `folder`
};

// One picture of a visit.
struct t_VisitPicture {
  int atMs = 0;     // the start of its slot, from the ring
  std::string file; // PictureName(atMs)
  std::string path; // where it is: visits/FOLDER/FILE, whole
  std::int64_t bytes = 0;
};

// A visit as it begins.
struct t_NewVisit {
  std::int64_t startedMs = 0; // since 1970, UTC
  std::string how = "stream";
  std::string door, address, caller;
  std::string folder; // empty: no pictures
  VisitOutcome outcome = VisitOutcome::Undecided;
  std::optional<std::int64_t> endedMs;
};

// How a picture's write went.
enum class PictureWrite { Written, Gone, Failed };

class t_VisitStore {
public:
  // Opens the record under `dataFolder`, making visits/ and the database
  // when missing. A visits/ or visits.sqlite that is not the user's own,
  // or a link that is not, is refused (null); a damaged database is moved
  // aside as visits.sqlite.broken-TIME and a fresh one made when `repair`.
  // Each is said on standard error, once per process.
  static std::unique_ptr<t_VisitStore> Open(const std::string &dataFolder,
                                            bool repair);
  ~t_VisitStore();
  t_VisitStore(const t_VisitStore &) = delete;
  t_VisitStore &operator=(const t_VisitStore &) = delete;

  // visits/ as a real path, with no link in it.
  const std::string &Folder() const { return folder_; }

  // --- read ---------------------------------------------------------------
  // `limit` visits from the `offset`-th newest on, newest first.
  std::vector<t_Visit> List(std::int64_t offset, int limit);
  std::int64_t Count();
  std::optional<t_Visit> Find(std::int64_t id);
  // The missed visits the user has not looked at, counting a visitor once:
  // a missed SIP call that a stream visit began near (30 s either way) is
  // the same ring heard both ways.
  int CountUnseenMissed();
  // A visit's pictures, in time order.
  std::vector<t_VisitPicture> Pictures(std::int64_t id);
  // Changes whenever any connection (of any copy) commits.
  std::optional<std::int64_t> DataVersion();

  // --- write (the Visitors window's) ------------------------------------
  bool MarkSeen(const std::vector<std::int64_t> &ids);
  // The row and its pictures; false when nothing was removed.
  bool Delete(std::int64_t id);
  bool DeleteAll();

  // --- write (the recorder's) -------------------------------------------
  // The new row's id, or 0.
  std::int64_t Begin(const t_NewVisit &visit);
  // Makes a folder for a visit's pictures under visits/; its name, or
  // empty.
  std::string MakeVisitFolder(std::int64_t startedMs, int copy);
  // One picture into a visit's folder. Gone: the folder was removed (the
  // visit deleted meanwhile).
  PictureWrite WritePicture(const std::string &folder, int atMs,
                            const std::vector<std::uint8_t> &bytes);
  // Rows of pictures written; false when the visit is gone or the write
  // failed.
  bool AddPictures(std::int64_t id, const std::vector<t_VisitPicture> &added,
                   const std::string &ringPicture);
  // The outcome, and when the ring or call ended once that is known.
  bool Finish(std::int64_t id, VisitOutcome outcome,
              std::optional<std::int64_t> endedMs);
  // Removes, oldest first, the decided (or abandoned) visits beyond the
  // limits; the ids removed.
  std::vector<std::int64_t> Retain(const t_Limits &limits, std::int64_t nowMs);
  // Whether the last write failed for want of space (or a write error),
  // rather than because its visit was gone.
  bool LastWriteFailed() const { return writeFailed_; }

private:
  t_VisitStore(sqlite3 *db, std::string folder);
  bool Exec(const char *sql);
  bool Failed(int code);
  bool RemoveVisits(const std::vector<std::int64_t> &ids);
  void RemoveFiles(const std::string &folder,
                   const std::vector<std::string> &files);

  sqlite3 *db_;
  std::string folder_;
  bool writeFailed_ = false;
};

} // namespace visits
