// Test entry point: isolates every test program from the real user's files by pointing
// HOME and the XDG folders at a fresh temporary folder before Qt reads them.
#include "TestSupport.h"
#include "platform/LeakCheckSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QByteArray>

#ifdef LK_TEST_GUI
#include <QApplication>
using TestApp = QApplication;
#else
#include <QCoreApplication>
using TestApp = QCoreApplication;
#endif

#include <clocale>
#include <cstdlib>

namespace {
QString g_root;
}

namespace lktest {
QString sandboxRoot() { return g_root; }
}

int main(int argc, char **argv)
{
    QTemporaryDir *dir = new QTemporaryDir(QDir::tempPath() + "/lumenkite-test-XXXXXX");
    g_root = dir->path();
    const QByteArray root = QFile::encodeName(g_root);
    auto setDir = [&](const char *name, const char *sub) {
        const QByteArray path = root + "/" + sub;
        QDir().mkpath(QString::fromLocal8Bit(path));
        ::setenv(name, path.constData(), 1);
    };
    setDir("HOME", "home");
    setDir("XDG_DATA_HOME", "home/.local/share");
    setDir("XDG_CONFIG_HOME", "home/.config");
    setDir("XDG_CACHE_HOME", "home/.cache");
    setDir("XDG_STATE_HOME", "home/.local/state");
    setDir("XDG_RUNTIME_DIR", "runtime");
    QFile::setPermissions(g_root + "/runtime", QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    ::setenv("XDG_CONFIG_DIRS", (root + "/etc-xdg").constData(), 1);
    // No session bus: the user's own desktop is left alone, and libdbus does not fork to
    // start one (a child forked from the sanitizer build can hang on an allocator lock
    // another thread held at the fork). Tests that need a bus start a private one.
    ::setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + root + "/runtime/no-session-bus").constData(), 1);
    // Relative writes (Qt files a trashed item below the working folder when it finds no
    // Trash) land in the sandbox, never in the checkout the tests were started from.
    QDir::setCurrent(g_root);

#ifdef LK_TEST_GUI
    // Listing tests (and running them outside Xvfb) must not need a display.
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") && !std::getenv("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
#endif
    ::testing::InitGoogleTest(&argc, argv);
    TestApp app(argc, argv);
    TestApp::setOrganizationName("Lumenkite");
    TestApp::setApplicationName("Lumenkite");
    std::setlocale(LC_NUMERIC, "C");
    const int rc = RUN_ALL_TESTS();
#ifdef LK_TEST_GUI
    keepGlDriversLoadedForLeakCheck();
#endif
    delete dir;
    return rc;
}
