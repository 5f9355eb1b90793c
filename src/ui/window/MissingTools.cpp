#include "ui/window/MissingTools.h"

#include "library/AppState.h"
#include "media/LibMPVLibrary.h"
#include "media/MediaMetadataService.h"
#include "search/MobileCLIPService.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThreadPool>

namespace MissingTools {

Tools probe()
{
    Tools t;
    t.ffmpeg = MediaMetadataService::ffmpegPath().has_value();
    t.ffprobe = MediaMetadataService::ffprobePath().has_value();
    t.libmpv = LibMPVLibrary::shared() != nullptr;
    t.clipHelper = !MobileCLIPService::helperProgram().isEmpty();
    return t;
}

QStringList missingNames(const Tools &tools)
{
    QStringList names;
    if (!tools.ffmpeg) names << QStringLiteral("ffmpeg");
    if (!tools.ffprobe) names << QStringLiteral("ffprobe");
    if (!tools.libmpv) names << QStringLiteral("libmpv");
    if (!tools.clipHelper) names << QStringLiteral("lumenkite-clip");
    return names;
}

QStringList messages(const Tools &tools, AppLanguage language)
{
    QStringList out;
    if (!tools.ffmpeg) out << L10n::text(QStringLiteral("tools.missingFFmpeg"), language);
    if (!tools.ffprobe) out << L10n::text(QStringLiteral("tools.missingFFprobe"), language);
    if (!tools.libmpv) out << L10n::text(QStringLiteral("tools.missingLibmpv"), language);
    if (!tools.clipHelper) out << L10n::text(QStringLiteral("tools.missingClipHelper"), language);
    return out;
}

void announce(AppState *state)
{
    const QPointer<AppState> target(state);
    QThreadPool::globalInstance()->start([target] {
        const Tools tools = probe();
        const QStringList names = missingNames(tools);
        if (names.isEmpty()) return;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [target, names] {
                if (!target) return;
                target->showToast(L10n::text(QStringLiteral("tools.missingToast"), target->language()) +
                                      QLatin1Char(' ') + names.join(QStringLiteral(", ")),
                                  true);
            },
            Qt::QueuedConnection);
    });
}

} // namespace MissingTools
