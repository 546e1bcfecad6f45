// Desktop notifications on QtDBus, through the freedesktop Notifications
// interface of the session bus. A thread of ours holds the connection and
// makes every call, waiting there for the server's answers; the window
// thread only hands it work, in order, and takes back what the user did.
// The work goes through a queue and a lock of ours (an eventfd wakes the
// thread), so thread checkers see every hand-over.
#include <QBuffer>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QObject>
#include <QSaveFile>
#include <QSocketNotifier>
#include <QStringList>
#include <QThread>
#include <QVariantMap>

#include <cstdlib>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <sys/eventfd.h>
#include <unistd.h>
#include <vector>

#include "platform/notify.h"
#include "platform/report.h"
#include "platform/runtime_folder.h"
#include "platform/window_internal.h"

namespace plat {

namespace {

constexpr char kService[] = "org.freedesktop.Notifications";
constexpr char kPath[] = "/org/freedesktop/Notifications";
constexpr char kInterface[] = "org.freedesktop.Notifications";
// How long the bus's thread waits for an answer from the server.
constexpr int kCallMs = 5000;
// Pictures go scaled to fit this square; larger ones are not decoded at
// all.
constexpr int kPictureSide = 256;
constexpr qint64 kMostPicturePixels = 64ll << 20;

// Text from outside as the window shows it: each byte a character, no
// control characters but line ends.
QString PlainText(const std::string &text) {
  QString s =
      QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
  for (QChar &c : s)
    if (c.unicode() < 0x20 && c != QLatin1Char('\n'))
      c = QLatin1Char(' ');
  return s;
}

// The image-data hint: width, height, row length, alpha, bits per sample,
// channels, pixels.
bool PictureHint(const std::vector<std::uint8_t> &jpeg, QVariant *hint) {
  QByteArray bytes =
      QByteArray::fromRawData(reinterpret_cast<const char *>(jpeg.data()),
                              static_cast<qsizetype>(jpeg.size()));
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer, "jpeg");
  const QSize size = reader.size();
  if (!size.isValid() ||
      static_cast<qint64>(size.width()) * size.height() > kMostPicturePixels)
    return false;
  if (size.width() > kPictureSide || size.height() > kPictureSide)
    reader.setScaledSize(
        size.scaled(kPictureSide, kPictureSide, Qt::KeepAspectRatio));
  QImage image = reader.read();
  if (image.isNull())
    return false;
  image = image.convertToFormat(QImage::Format_RGB888);
  QDBusArgument arg;
  arg.beginStructure();
  arg << image.width() << image.height()
      << static_cast<int>(image.bytesPerLine()) << false << 8 << 3
      << QByteArray(reinterpret_cast<const char *>(image.constBits()),
                    image.sizeInBytes());
  arg.endStructure();
  *hint = QVariant::fromValue(arg);
  return true;
}

// What the server offers.
struct Offers {
  bool actions = false;
  bool body = false;
  bool markup = false;
  bool images = false;
};

NoticeHandlers g_handlers; // window thread

// Lives on the bus's thread; everything in it runs there.
class NoticeBus : public QObject {
  Q_OBJECT

public:
  NoticeBus(QString app, QByteArray icon)
      : app_(std::move(app)), icon_(std::move(icon)) {}

  void Connect() {
    WriteIcon();
    // Without an address libdbus would start a bus of its own through the
    // X server; the session has none then, and nothing is shown.
    const char *address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    const bool standard = runtime != nullptr && runtime[0] != '\0' &&
                          QFileInfo::exists(QString::fromLocal8Bit(runtime) +
                                            QStringLiteral("/bus"));
    if ((address == nullptr || address[0] == '\0') && !standard) {
      noBus_ = true;
      TellAbsent("there is no session bus (DBUS_SESSION_BUS_ADDRESS is "
                 "not set)");
      return;
    }
    bus_ = QDBusConnection::sessionBus();
    if (!bus_.isConnected()) {
      noBus_ = true;
      TellAbsent("the session bus cannot be reached (" +
                 bus_.lastError().message().toStdString() + ")");
      return;
    }
    bus_.connect(kService, kPath, kInterface, "ActionInvoked", this,
                 SLOT(OnAction(uint, QString)));
    bus_.connect(kService, kPath, kInterface, "NotificationClosed", this,
                 SLOT(OnClosed(uint, uint)));
    ServerThere();
  }

  void Post(unsigned number, const Notice &notice, bool replace) {
    if (!ServerThere())
      return;
    unsigned replaces = 0;
    if (replace) {
      const auto known = ids_.find(number);
      if (known != ids_.end())
        replaces = known->second;
    }
    QString body = offers_.body ? PlainText(notice.body) : QString();
    if (offers_.markup)
      body = body.toHtmlEscaped();
    QStringList actions;
    if (offers_.actions)
      for (const NoticeAction &a : notice.actions)
        actions << QString::fromLatin1(a.key.c_str()) << PlainText(a.label);
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"),
                 QVariant::fromValue(static_cast<uchar>(notice.urgency)));
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("vestibell"));
    if (notice.resident)
      hints.insert(QStringLiteral("resident"), true);
    QVariant picture;
    if (offers_.images && notice.picture &&
        PictureHint(*notice.picture, &picture))
      hints.insert(QStringLiteral("image-data"), picture);
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, "Notify");
    call << app_ << replaces << iconPath_ << PlainText(notice.summary) << body
         << actions << hints << notice.expireMs;
    const QDBusMessage reply = bus_.call(call, QDBus::Block, kCallMs);
    if (reply.type() != QDBusMessage::ReplyMessage ||
        reply.arguments().isEmpty()) {
      Failed(reply);
      return;
    }
    const unsigned id = reply.arguments().first().toUInt();
    Forget(number);
    ids_[number] = id;
    numbers_[id] = number;
  }

  void Close(unsigned number) {
    const auto known = ids_.find(number);
    if (known == ids_.end() || !present_)
      return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        kService, kPath, kInterface, "CloseNotification");
    call << known->second;
    Forget(number);
    const QDBusMessage reply = bus_.call(call, QDBus::Block, kCallMs);
    if (reply.type() == QDBusMessage::ErrorMessage)
      Failed(reply);
  }

public slots:
  void OnAction(uint id, const QString &key) {
    const auto known = numbers_.find(id);
    if (known == numbers_.end())
      return;
    const unsigned number = known->second;
    const std::string text = key.toStdString();
    QueueOnWindowThread([number, text] {
      if (g_handlers.action != nullptr)
        g_handlers.action(number, text);
    });
  }

  void OnClosed(uint id, uint reason) {
    const auto known = numbers_.find(id);
    if (known == numbers_.end())
      return;
    const unsigned number = known->second;
    Forget(number);
    const NoticeGone why = reason >= 1 && reason <= 3
                               ? static_cast<NoticeGone>(reason)
                               : NoticeGone::Other;
    QueueOnWindowThread([number, why] {
      if (g_handlers.gone != nullptr)
        g_handlers.gone(number, why);
    });
  }

private:
  // The program's icon, where the server can read it.
  void WriteIcon() {
    if (icon_.isEmpty())
      return;
    const std::string folder = PrivateRuntimeFolder();
    if (folder.empty())
      return;
    const QString path =
        QString::fromStdString(folder) + QStringLiteral("/vestibell.png");
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(icon_) == icon_.size() &&
        file.commit())
      iconPath_ = QStringLiteral("file://") + path;
  }

  void Forget(unsigned number) {
    const auto known = ids_.find(number);
    if (known == ids_.end())
      return;
    numbers_.erase(known->second);
    ids_.erase(known);
  }

  // Whether a server is there, asking it what it offers when that is not
  // known: at the start, and again after it went (it may have come back,
  // or be started by the bus for this call).
  bool ServerThere() {
    if (noBus_)
      return false;
    if (present_)
      return true;
    QDBusMessage call = QDBusMessage::createMethodCall(
        kService, kPath, kInterface, "GetCapabilities");
    const QDBusMessage reply = bus_.call(call, QDBus::Block, kCallMs);
    if (reply.type() != QDBusMessage::ReplyMessage ||
        reply.arguments().isEmpty()) {
      TellAbsent("no notification server answers on the session bus (" +
                 reply.errorMessage().toStdString() + ")");
      return false;
    }
    const QStringList caps = reply.arguments().first().toStringList();
    offers_.actions = caps.contains(QStringLiteral("actions"));
    offers_.body = caps.contains(QStringLiteral("body"));
    offers_.markup = caps.contains(QStringLiteral("body-markup"));
    offers_.images = caps.contains(QStringLiteral("icon-static")) ||
                     caps.contains(QStringLiteral("icon-multi"));
    present_ = true;
    TellLacks();
    return true;
  }

  void Failed(const QDBusMessage &reply) {
    // A server that went is asked again at the next notice.
    const QString name = reply.errorName();
    if (name == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
        name == QLatin1String("org.freedesktop.DBus.Error.NoReply") ||
        name == QLatin1String("org.freedesktop.DBus.Error.Disconnected") ||
        name == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner"))
      present_ = false;
    if (!toldFailure_) {
      toldFailure_ = true;
      Report("the notification server refused a notice: %s",
             reply.errorMessage().toLocal8Bit().constData());
    }
  }

  void TellAbsent(const std::string &why) {
    if (told_)
      return;
    told_ = true;
    Report("%s: rings are not shown as desktop notifications", why.c_str());
  }

  void TellLacks() {
    std::vector<const char *> lacking;
    if (!offers_.actions)
      lacking.push_back("actions");
    if (!offers_.body)
      lacking.push_back("a body");
    if (!offers_.images)
      lacking.push_back("images");
    if (lacking.empty() || told_)
      return;
    std::string lacks;
    for (std::size_t i = 0; i < lacking.size(); ++i) {
      if (i > 0)
        lacks += i + 1 == lacking.size() ? " or " : ", ";
      lacks += lacking[i];
    }
    told_ = true;
    Report("the notification server shows no %s: rings are shown without "
           "them",
           lacks.c_str());
  }

  QString app_;
  QByteArray icon_;
  QString iconPath_;
  QDBusConnection bus_{QString()};
  bool noBus_ = false;
  bool present_ = false;
  bool told_ = false;
  bool toldFailure_ = false;
  Offers offers_;
  std::map<unsigned, unsigned> ids_;     // our number -> the server's id
  std::map<unsigned, unsigned> numbers_; // the server's id -> our number
};

// The work handed to the bus's thread, in order. Guarded by g_workMutex.
std::mutex g_workMutex;
std::deque<std::function<void(NoticeBus &)>> g_work;
int g_wakeFd = -1;

void RunWork(NoticeBus &bus) {
  std::uint64_t count;
  [[maybe_unused]] ssize_t n = read(g_wakeFd, &count, sizeof count);
  for (;;) {
    std::function<void(NoticeBus &)> task;
    {
      std::lock_guard lock(g_workMutex);
      if (g_work.empty())
        return;
      task = std::move(g_work.front());
      g_work.pop_front();
    }
    task(bus);
  }
}

// The bus's thread: its object is made there, and lives there.
class BusThread : public QThread {
public:
  BusThread(QString app, QByteArray icon)
      : app_(std::move(app)), icon_(std::move(icon)) {}

protected:
  void run() override {
    NoticeBus bus(app_, icon_);
    QSocketNotifier wake(static_cast<qintptr>(g_wakeFd), QSocketNotifier::Read);
    QObject::connect(&wake, &QSocketNotifier::activated, &bus,
                     [&bus] { RunWork(bus); });
    bus.Connect();
    RunWork(bus);
    exec();
  }

private:
  const QString app_;
  const QByteArray icon_;
};

// Window thread.
BusThread *g_thread = nullptr;
bool g_running = false;
unsigned g_numbered = 0;

void OnBus(std::function<void(NoticeBus &)> task) {
  if (!g_running)
    return;
  {
    std::lock_guard lock(g_workMutex);
    g_work.push_back(std::move(task));
  }
  const std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = write(g_wakeFd, &one, sizeof one);
}

} // namespace

void StartNotices(const char *appName, const NoticeHandlers &handlers,
                  const std::uint8_t *iconPng, std::size_t iconSize) {
  if (g_app == nullptr || g_thread != nullptr)
    return;
  g_wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (g_wakeFd < 0)
    return;
  g_handlers = handlers;
  g_thread = new BusThread(QString::fromLatin1(appName),
                           QByteArray(reinterpret_cast<const char *>(iconPng),
                                      static_cast<qsizetype>(iconSize)));
  g_thread->setObjectName(QStringLiteral("notices"));
  g_running = true;
  g_thread->start();
}

unsigned ShowNotice(const Notice &notice) {
  const unsigned number = ++g_numbered;
  OnBus([number, notice](NoticeBus &bus) { bus.Post(number, notice, false); });
  return number;
}

void ReplaceNotice(unsigned number, const Notice &notice) {
  OnBus([number, notice](NoticeBus &bus) { bus.Post(number, notice, true); });
}

void CloseNotice(unsigned number) {
  OnBus([number](NoticeBus &bus) { bus.Close(number); });
}

void StopNotices(const std::vector<unsigned> &closing, unsigned ms) {
  if (!g_running)
    return;
  OnBus([closing](NoticeBus &bus) {
    for (unsigned number : closing)
      bus.Close(number);
    QThread::currentThread()->quit();
  });
  g_running = false;
  // One that does not end in time is left to the end of the process: it
  // holds nothing anybody waits for.
  g_thread->wait(QDeadlineTimer(static_cast<qint64>(ms)));
}

} // namespace plat

#include "notify_dbus.moc"
