#pragma once

#include "ui/LinearTheme.h"

#include <QApplication>
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>

// What every picture program sets up before it draws: a home of its own (HOME and XDG_*),
// the application, the output folder (the first argument, else "screenshots"), English and
// onboarding done, the theme.
class PictureProgram
{
public:
    PictureProgram(const QString &name, int &argc, char **argv)
        : sandbox_(QDir::tempPath() + "/lumenkite-" + name + "-pictures-XXXXXX"),
          home(prepareHome(sandbox_.path() + "/home")), app_(argc, argv)
    {
        QApplication::setOrganizationName("Lumenkite");
        QApplication::setApplicationName("Lumenkite");
        out = QDir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshots")).absolutePath();
        QDir().mkpath(out);
        QSettings().setValue("Lumenkite.language", "en");
        QSettings().setValue("Lumenkite.hasCompletedOnboarding", true);
        LinearTheme::initialize();
    }

    QString sandboxPath() const { return sandbox_.path(); }

private:
    static QString prepareHome(const QString &home)
    {
        QDir().mkpath(home);
        qputenv("HOME", home.toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", (home + "/.config").toLocal8Bit());
        qputenv("XDG_DATA_HOME", (home + "/.local/share").toLocal8Bit());
        qputenv("XDG_CACHE_HOME", (home + "/.cache").toLocal8Bit());
        return home;
    }

    QTemporaryDir sandbox_;

public:
    const QString home;

private:
    QApplication app_;

public:
    QString out;
};
