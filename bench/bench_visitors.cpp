// Opening the Visitors window on a record of many visits: from the call
// that opens it to the list shown whole, and to the thumbnails of the rows
// in view; and the longest the window thread was kept from its loop
// meanwhile (what the live picture would wait). The record is made here,
// in a folder of its own: the rows in one transaction, each with a ring
// picture, the newest ones' pictures on disk (only rows in view are drawn).
//   bench_visitors [--visits N] [--on-disk N] [--picture JPEG] [--rounds N]
#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTimer>

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_support.h"
#include "desktop/visitors_window.h"
#include "platform/window.h"
#include "visits/visit_rules.h"
#include "visits/visit_store.h"

namespace {

// A camera-like 640x480 picture when none is given.
QByteArray MadePicture() {
  QImage image(640, 480, QImage::Format_RGB32);
  QPainter painter(&image);
  QLinearGradient sky(0, 0, 640, 480);
  sky.setColorAt(0, QColor(40, 90, 160));
  sky.setColorAt(1, QColor(200, 170, 120));
  painter.fillRect(image.rect(), sky);
  std::srand(7);
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 640; x += 3)
      image.setPixel(x, y, image.pixel(x, y) ^ (std::rand() & 0x1F1F1F));
  painter.end();
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "JPEG", 80);
  return bytes;
}

bool Exec(sqlite3 *db, const char *sql) {
  return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// The record: `visits` rows five minutes apart back from now, every tenth
// a missed one nobody has seen, the newest `onDisk` with their picture.
bool MakeRecord(const std::string &dataFolder, int visits, int onDisk,
                const QByteArray &picture) {
  auto store = visits::t_VisitStore::Open(dataFolder, true);
  if (!store)
    return false;
  const std::string folder = store->Folder();
  store.reset();
  sqlite3 *db = nullptr;
  if (sqlite3_open((folder + "/" + visits::kDatabaseName).c_str(), &db) !=
      SQLITE_OK)
    return false;
  Exec(db, "BEGIN");
  sqlite3_stmt *row = nullptr, *pic = nullptr;
  sqlite3_prepare_v2(
      db,
      "INSERT INTO visits (id, started, door, address, how, caller, outcome, "
      "ended, folder, seen, pictures, bytes, ring_picture) VALUES "
      "(?, ?, 'Front door', '127.0.0.1', ?, ?, ?, ?, ?, ?, 1, ?, ?)",
      -1, &row, nullptr);
  sqlite3_prepare_v2(db,
                     "INSERT INTO pictures (visit, at_ms, file, bytes) "
                     "VALUES (?, 0, ?, ?)",
                     -1, &pic, nullptr);
  const std::int64_t now =
      std::chrono::duration_cast<std::chrono::milliseconds>(
          std::chrono::system_clock::now().time_since_epoch())
          .count();
  const std::string name = visits::PictureName(0);
  const char *outcomes[] = {"answered", "missed", "declined", "answered"};
  for (int i = 0; i < visits; ++i) {
    const std::int64_t started = now - static_cast<std::int64_t>(i) * 300000;
    const std::string when = visits::UtcText(started);
    const std::string ended = visits::UtcText(started + 20000);
    const std::string dir = visits::VisitFolderName(started, 1);
    const bool sip = i % 7 == 3;
    const char *outcome = i % 10 == 0 ? "missed" : outcomes[i % 4];
    sqlite3_reset(row);
    sqlite3_bind_int64(row, 1, i + 1);
    sqlite3_bind_text(row, 2, when.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(row, 3, sip ? "sip" : "stream", -1, SQLITE_STATIC);
    if (sip)
      sqlite3_bind_text(row, 4, "door@127.0.0.1", -1, SQLITE_STATIC);
    else
      sqlite3_bind_null(row, 4);
    sqlite3_bind_text(row, 5, outcome, -1, SQLITE_STATIC);
    sqlite3_bind_text(row, 6, ended.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(row, 7, dir.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(row, 8, i % 10 == 0 ? 0 : 1);
    sqlite3_bind_int64(row, 9, picture.size());
    sqlite3_bind_text(row, 10, name.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(row) != SQLITE_DONE)
      return false;
    sqlite3_reset(pic);
    sqlite3_bind_int64(pic, 1, i + 1);
    sqlite3_bind_text(pic, 2, name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(pic, 3, picture.size());
    sqlite3_step(pic);
    if (i < onDisk) {
      std::filesystem::create_directories(folder + "/" + dir);
      std::ofstream(folder + "/" + dir + "/" + name, std::ios::binary)
          .write(picture.constData(), picture.size());
    }
  }
  sqlite3_finalize(row);
  sqlite3_finalize(pic);
  const bool ok = Exec(db, "COMMIT");
  sqlite3_close(db);
  return ok;
}

} // namespace

int main(int argc, char **argv) {
  int visits = 10000, onDisk = 200, rounds = 3;
  std::string picturePath;
  if (!bench::ReadOptions(argc, argv,
                          {{"--visits", &visits},
                           {"--on-disk", &onDisk},
                           {"--picture", &picturePath},
                           {"--rounds", &rounds}}))
    return 2;
  char folder[] = "/tmp/vestibell-bench-visitors-XXXXXX";
  if (mkdtemp(folder) == nullptr || !plat::Initialize())
    return 1;
  QByteArray picture;
  if (!picturePath.empty()) {
    QFile file(QString::fromStdString(picturePath));
    if (file.open(QIODevice::ReadOnly))
      picture = file.readAll();
  }
  if (picture.isEmpty())
    picture = MadePicture();
  if (!MakeRecord(folder, visits, onDisk, picture)) {
    std::fprintf(stderr, "the record could not be made in %s\n", folder);
    return 1;
  }

  std::printf("Visitors window: a record of %d visits (%lld-byte pictures)\n",
              visits, static_cast<long long>(picture.size()));
  std::vector<double> listed, thumbs, stalls;
  int inView = 0;
  for (int round = 0; round < rounds; ++round) {
    // The window thread's loop, as a timer that should fire every 5 ms
    // sees it: the longest gap is the longest the live picture would wait.
    QElapsedTimer beat;
    double longest = 0;
    QTimer ticker;
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
      longest = std::max(longest, beat.nsecsElapsed() / 1e6);
      beat.restart();
    });
    QElapsedTimer clock;
    clock.start();
    beat.start();
    ticker.start();
    desktop::OpenVisitorsWindow(folder);
    double listedMs = -1, thumbsMs = -1;
    while (clock.elapsed() < 10000) {
      QApplication::processEvents(QEventLoop::AllEvents, 5);
      const desktop::t_VisitorsShown shown = desktop::VisitorsWindowShown();
      if (listedMs < 0 && shown.listed && shown.rows == visits)
        listedMs = clock.nsecsElapsed() / 1e6;
      if (listedMs >= 0 && shown.rowsOnScreen > 0 &&
          shown.thumbnailsOnScreen == shown.rowsOnScreen) {
        thumbsMs = clock.nsecsElapsed() / 1e6;
        inView = shown.rowsOnScreen;
        break;
      }
    }
    ticker.stop();
    listed.push_back(listedMs);
    thumbs.push_back(thumbsMs);
    stalls.push_back(longest);
    desktop::CloseVisitorsWindow();
    QApplication::processEvents();
  }
  char what[96];
  std::snprintf(what, sizeof what, "opening, %d visits: the list shown",
                visits);
  bench::Figure(what, bench::Median(listed), "ms", "(goal: <= 1000)");
  std::snprintf(what, sizeof what, "opening: the %d thumbnails in view made",
                inView);
  bench::Figure(what, bench::Median(thumbs), "ms", "(goal: <= 1000)");
  bench::Figure("opening: window thread kept from its loop, longest",
                bench::Median(stalls), "ms");
  std::filesystem::remove_all(folder);
  return 0;
}
