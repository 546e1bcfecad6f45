// The Visitors window over a record made here: the list, the visits seen
// once it opened, a replay at the pictures' pace, Delete and Delete all,
// each write reaching the record through the window's worker. Threaded:
// run under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "desktop/visitors_window.h"
#include "platform/window.h"
#include "support/pump.h"
#include "support/temp_dir.h"
#include "visits/visit_rules.h"
#include "visits/visit_store.h"

namespace {

using namespace std::chrono_literals;
using visits::VisitOutcome;

std::vector<std::uint8_t> Jpeg(QRgb colour) {
  QImage image(64, 48, QImage::Format_RGB32);
  image.fill(colour);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "JPEG", 90);
  return {bytes.begin(), bytes.end()};
}

// A stream visit with pictures red before the ring and blue from it on.
std::int64_t AddVisit(visits::t_VisitStore &store, std::int64_t startedMs,
                      VisitOutcome outcome) {
  visits::t_NewVisit visit;
  visit.startedMs = startedMs;
  visit.door = "Front door";
  visit.address = "127.0.0.1";
  visit.folder = store.MakeVisitFolder(startedMs, 1);
  visit.outcome = outcome;
  visit.endedMs = startedMs + 2000;
  const std::int64_t id = store.Begin(visit);
  std::vector<visits::t_VisitPicture> pictures;
  for (int at = -1000; at <= 1000; at += 250) {
    const auto bytes = Jpeg(at < 0 ? 0xFF0000 : 0x0000FF);
    EXPECT_EQ(store.WritePicture(visit.folder, at, bytes),
              visits::PictureWrite::Written);
    pictures.push_back({at, visits::PictureName(at), "",
                        static_cast<std::int64_t>(bytes.size())});
  }
  EXPECT_TRUE(store.AddPictures(id, pictures, visits::PictureName(0)));
  return id;
}

template <typename T> T *Find(QWidget *in, const QString &text) {
  for (T *w : in->findChildren<T *>())
    if (w->text() == text)
      return w;
  return nullptr;
}

// The colour in the middle of the picture shown.
QRgb Shown(QWidget *window) {
  for (QLabel *label : window->findChildren<QLabel *>()) {
    const QPixmap pixmap = label->pixmap();
    if (!pixmap.isNull()) {
      const QImage image = pixmap.toImage();
      return image.pixel(image.width() / 2, image.height() / 2) & 0xFFFFFF;
    }
  }
  return 1;
}
bool Reddish(QRgb c) { return qRed(c) > 200 && qBlue(c) < 60; }
bool Bluish(QRgb c) { return qBlue(c) > 200 && qRed(c) < 60; }

TEST(VisitorsWindow, ListsMarksSeenPlaysAndDeletes) {
  ASSERT_TRUE(plat::Initialize());
  TempDir data;
  auto store = visits::t_VisitStore::Open(data.path(), true);
  ASSERT_TRUE(store);
  const std::int64_t now = 1700000000000;
  const std::int64_t older =
      AddVisit(*store, now - 60000, VisitOutcome::Missed);
  AddVisit(*store, now - 30000, VisitOutcome::Answered);
  const std::int64_t newest = AddVisit(*store, now, VisitOutcome::Missed);
  ASSERT_EQ(store->CountUnseenMissed(), 2);

  desktop::OpenVisitorsWindow(data.path());
  ASSERT_TRUE(PumpUntil([] {
    const auto s = desktop::VisitorsWindowShown();
    return s.listed && s.rows == 3 && s.rowsOnScreen == 3 &&
           s.thumbnailsOnScreen == 3;
  }));
  QWidget *window = nullptr;
  for (QWidget *w : QApplication::topLevelWidgets())
    if (w->windowTitle() == "Visitors" && w->isVisible())
      window = w;
  ASSERT_NE(window, nullptr);
  const QAbstractItemModel *list = window->findChild<QTreeView *>()->model();
  // Newest first; the missed ones stay marked while the window is open,
  // yet the record has them seen.
  EXPECT_EQ(list->index(0, 4).data().toString(), "Missed (new)");
  EXPECT_EQ(list->index(1, 4).data().toString(), "Answered");
  EXPECT_EQ(list->index(2, 4).data().toString(), "Missed (new)");
  EXPECT_EQ(list->index(0, 2).data().toString(), "Front door");
  EXPECT_TRUE(PumpUntil([&] { return store->CountUnseenMissed() == 0; }, 3s));

  // The newest plays by itself: red, then blue once its ring comes, about
  // a second later.
  ASSERT_TRUE(PumpUntil([&] { return Reddish(Shown(window)); }, 3s));
  const auto red = std::chrono::steady_clock::now();
  ASSERT_TRUE(PumpUntil([&] { return Bluish(Shown(window)); }, 3s));
  EXPECT_GE(std::chrono::steady_clock::now() - red, 600ms);

  // Delete: the newest visit and its folder go; the next one is selected.
  const std::string folder = store->Find(newest)->folder;
  Find<QPushButton>(window, "Delete")->click();
  // The row goes first, then the files.
  EXPECT_TRUE(PumpUntil(
      [&] {
        return !store->Find(newest) &&
               !std::filesystem::exists(store->Folder() + "/" + folder);
      },
      3s));
  EXPECT_EQ(desktop::VisitorsWindowShown().rows, 2);

  // Delete all asks first: No keeps everything, Yes removes it.
  for (const auto answer : {QMessageBox::No, QMessageBox::Yes}) {
    QTimer::singleShot(200, [answer] {
      if (auto *box =
              qobject_cast<QMessageBox *>(QApplication::activeModalWidget()))
        box->button(answer)->click();
    });
    Find<QPushButton>(window, QStringLiteral("Delete all\u2026"))->click();
    PumpFor(300ms);
    if (answer == QMessageBox::No) {
      EXPECT_EQ(store->Count(), 2);
    }
  }
  EXPECT_TRUE(PumpUntil([&] { return store->Count() == 0; }, 3s));
  EXPECT_FALSE(store->Find(older));
  EXPECT_EQ(desktop::VisitorsWindowShown().rows, 0);
  desktop::CloseVisitorsWindow();
}

} // namespace
