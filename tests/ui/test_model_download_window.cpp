// The model download in the real window, offline: the failure stays on the sidebar card in
// the interface language, with Retry, after its toast has gone.

#include "UiFixture.h"
#include "search/MobileCLIPModelManager.h"
#include "ui/Controls.h"
#include "ui/tree/LumenkitePane.h"
#include "ui/window/LumenkiteApp.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

using namespace uifx;

TEST(ModelDownloadWindow, AnOfflineFailureStaysOnTheCardWithRetry)
{
    QSettings("Lumenkite", "Lumenkite").setValue("Lumenkite.hasCompletedOnboarding", true);
    // A port nothing listens on: the connection is refused, as offline.
    quint16 port = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
        port = probe.serverPort();
    }
    const QString offline = QStringLiteral("http://127.0.0.1:%1").arg(port);
    QSettings().setValue(MobileCLIPModelManager::kModelBaseURLKey, offline);
    QSettings().setValue(MobileCLIPModelManager::kVocabularyBaseURLKey, offline);

    ContentViewParts parts;
    parts.treePane = [](AppState *s, QWidget *parent) -> QWidget * { return new LumenkitePane(s, parent); };
    LumenkiteApp app(parts);
    AppState *state = app.state();
    state->setShowOnboarding(false);
    state->setLanguage(AppLanguage::de);
    state->setAllVideos(library());
    state->rebuildTree(true);
    app.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(app.mainWindow()));
    const auto control = [&](const char *name) { return app.mainWindow()->findChild<QWidget *>(name); };

    for (int attempt = 0; attempt < 2; ++attempt) {
        SCOPED_TRACE(attempt == 0 ? "first download" : "retry");
        QSignalSpy started(state, &AppState::isDownloadingAIModelChanged);
        ASSERT_TRUE(waitFor([&] { return qobject_cast<QAbstractButton *>(control("ai.download")) != nullptr; }, 10000));
        auto *button = qobject_cast<QAbstractButton *>(control("ai.download"));
        EXPECT_EQ(button->text(), L10n::text(attempt == 0 ? "ai.downloadBtn" : "ai.retry", AppLanguage::de));
        button->click();
        ASSERT_TRUE(waitFor([&] { return started.count() >= 2 && !state->isDownloadingAIModel(); }, 30000));
        const QString error = state->aiModelDownloadError();
        EXPECT_TRUE(error.startsWith(L10n::text("ai.downloadFailed", AppLanguage::de))) << error.toStdString();
        EXPECT_TRUE(error.contains("open_clip_model.safetensors")) << error.toStdString();

        // The toast goes; the card keeps the reason and offers Retry.
        ASSERT_TRUE(waitFor([&] { return !state->activeToast(); }, 30000));
        ASSERT_TRUE(waitFor([&] { return control("ai.error") != nullptr; }, 10000));
        EXPECT_EQ(qobject_cast<ThemedLabel *>(control("ai.error"))->text(), error);
        EXPECT_EQ(control("ai.prompt"), nullptr);
        EXPECT_FALSE(MobileCLIPModelManager::isInstalled());
    }
}
