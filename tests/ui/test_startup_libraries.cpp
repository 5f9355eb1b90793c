// The program opens its media, digest, language and analysis libraries, and libmpv, when
// it first needs them: none of them may be loaded by the time its first window is mapped.

#include "../../bench/StartupWindow.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QSettings>

TEST(StartupLibraries, WhatLoadsWhenFirstNeededIsNotLoadedAtTheFirstWindow)
{
    const QString program = QCoreApplication::applicationDirPath() + "/../src/app/lumenkite";
    ASSERT_TRUE(QFileInfo(program).isExecutable()) << qPrintable(program);
    {
        QSettings settings("Lumenkite", "Lumenkite");
        settings.setValue("Lumenkite.hasCompletedOnboarding", true);
    }
    const auto start = startup::timeFirstWindow(program);
    ASSERT_TRUE(start) << "no window appeared";
    ASSERT_FALSE(start->libraries.filter("/libQt6Widgets.so").isEmpty()) << "the map was not read";

    const QStringList later{"libavformat", "libavcodec", "libavutil", "libswscale", "libswresample", "libmpv",
                            "libcrypto", "libcld2", "libopencv_", "libtesseract", "libpocketsphinx"};
    QStringList loaded;
    for (const QString &name : later)
        if (!start->libraries.filter("/" + name).isEmpty()) loaded << name;
    EXPECT_EQ(loaded.join(", ").toStdString(), "") << "loaded before the first window";
}
