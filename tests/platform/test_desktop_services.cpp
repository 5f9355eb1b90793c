#include "platform/DesktopServices.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QClipboard>
#include <QDBusConnection>
#include <QDir>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QMutex>
#include <QObject>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <memory>

// Without a display the GUI tests run on the offscreen platform; this must be set before
// the test main creates the application object.
[[maybe_unused]] static const bool kHeadless = [] {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY")
        && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    return true;
}();

static void PrintTo(const QUrl &u, std::ostream *os) { *os << u.toString().toStdString(); }

// Stands in for the file manager on a private bus.
class FakeFileManager : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    QStringList shown() const
    {
        QMutexLocker locker(&mutex);
        return uris;
    }
public slots:
    void ShowItems(const QStringList &items, const QString &startupId)
    {
        QMutexLocker locker(&mutex);
        uris = items;
        Q_UNUSED(startupId);
    }

private:
    mutable QMutex mutex;
    QStringList uris;
};

// Records what QDesktopServices would have opened, so no real program starts.
class OpenRecorder : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened << url; }
};

namespace {

struct PrivateBus {
    std::unique_ptr<QProcess> daemon;
    QString address;

    bool start()
    {
        const QString program = QStandardPaths::findExecutable("dbus-daemon");
        if (program.isEmpty())
            return false;
        daemon = std::make_unique<QProcess>();
        daemon->start(program, {"--session", "--nofork", "--print-address=1"});
        if (!daemon->waitForStarted(5000))
            return false;
        while (!daemon->canReadLine() && daemon->waitForReadyRead(5000)) {
        }
        address = QString::fromUtf8(daemon->readLine()).trimmed();
        return !address.isEmpty();
    }
    ~PrivateBus()
    {
        if (daemon) {
            daemon->kill();
            daemon->waitForFinished(3000);
        }
    }
};

TEST(DesktopServices, ParentFoldersAreDistinctInFirstSeenOrder)
{
    const QList<QUrl> items{QUrl::fromLocalFile("/a/b/one.mp4"), QUrl("https://example.com/x"),
                            QUrl::fromLocalFile("/c/two.mp4"), QUrl::fromLocalFile("/a/b/./three.mp4"),
                            QUrl::fromLocalFile("/a/b/sub/")};
    const QList<QUrl> expected{QUrl::fromLocalFile("/a/b"), QUrl::fromLocalFile("/c")};
    EXPECT_EQ(DesktopServices::parentFolders(items), expected);
}

TEST(DesktopServices, RevealAsksFileManagerThenFallsBackToParents)
{
    PrivateBus bus;
    if (!bus.start())
        GTEST_SKIP() << "no dbus-daemon for a private bus";

    OpenRecorder recorder;
    QDesktopServices::setUrlHandler("file", &recorder, "open");
    const QDBusConnection client = QDBusConnection::connectToBus(bus.address, "lk-client");
    ASSERT_TRUE(client.isConnected());
    const QList<QUrl> items{QUrl::fromLocalFile("/media/Clip (2).mov"), QUrl::fromLocalFile("/media/b.mp4")};

    // Nobody owns the name yet: the parent folder is opened instead.
    EXPECT_TRUE(DesktopServices::revealInFileManager(items, client));
    EXPECT_EQ(recorder.opened, QList<QUrl>{QUrl::fromLocalFile("/media")});

    // A file manager that answers is asked with every item's URI.
    QThread serviceThread;
    serviceThread.start();
    auto *manager = new FakeFileManager;
    manager->moveToThread(&serviceThread);
    QObject::connect(&serviceThread, &QThread::finished, manager, &QObject::deleteLater);
    QDBusConnection service = QDBusConnection::connectToBus(bus.address, "lk-service");
    ASSERT_TRUE(service.registerObject("/org/freedesktop/FileManager1", manager, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(service.registerService("org.freedesktop.FileManager1"));

    recorder.opened.clear();
    EXPECT_TRUE(DesktopServices::revealInFileManager(items, client));
    EXPECT_EQ(manager->shown(), (QStringList{"file:///media/Clip%20(2).mov", "file:///media/b.mp4"}));
    EXPECT_TRUE(recorder.opened.isEmpty());

    service.unregisterObject("/org/freedesktop/FileManager1");
    QDBusConnection::disconnectFromBus("lk-service");
    QDBusConnection::disconnectFromBus("lk-client");
    serviceThread.quit();
    serviceThread.wait();
    QDesktopServices::unsetUrlHandler("file");
}

TEST(DesktopServices, FolderPermissionsWithNothingToShowDoesNothing)
{
    OpenRecorder recorder;
    QDesktopServices::setUrlHandler("file", &recorder, "open");
    EXPECT_FALSE(DesktopServices::openFullDiskAccessSettings({}));
    EXPECT_TRUE(recorder.opened.isEmpty());
    EXPECT_FALSE(DesktopServices::revealInFileManager({}));
    QDesktopServices::unsetUrlHandler("file");
}

TEST(DesktopServices, FolderPermissionsShowsTheUnreadableFolderInItsParent)
{
    // No file manager on the bus: the parent folder is opened instead.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/lumenkite-bus");
    const struct {
        QStringList denied;
        QString opened;
    } cases[] = {
        {{"/data/locked/Secret"}, "/data/locked"},
        // Records of older versions hold bare names; the first whole path wins.
        {{"Legacy", "/srv/media/Private"}, "/srv/media"},
        // Bare names alone say nowhere where the folder is: the home folder is opened.
        {{"Legacy"}, QDir::homePath()},
    };
    for (const auto &c : cases) {
        OpenRecorder recorder;
        QDesktopServices::setUrlHandler("file", &recorder, "open");
        EXPECT_TRUE(DesktopServices::openFullDiskAccessSettings(c.denied));
        EXPECT_EQ(recorder.opened, QList<QUrl>{QUrl::fromLocalFile(c.opened)}) << c.denied.join(',').toStdString();
        QDesktopServices::unsetUrlHandler("file");
    }
}

TEST(DesktopServices, CopiesTextToClipboard)
{
    DesktopServices::copyToClipboard("/home/user/Movies/Clip 9");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "/home/user/Movies/Clip 9");
}

} // namespace

#include "test_desktop_services.moc"
