// Command palette: the video matches for a typed text over 1,000,000 videos, against a
// plain case-insensitive substring scan of the same names in the same run.
#include "library/AppState.h"
#include "ui/palette/PaletteModel.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <random>

namespace {

QList<VideoFile> makeLibrary(qsizetype count)
{
    static const char *const words[] = {"Trips", "Family", "Work", "Archive", "Camera", "Phone", "Edits", "Raw"};
    static const char *const exts[] = {"mp4", "mov", "mkv", "webm"};
    std::mt19937 rng(11);
    const QDateTime base(QDate(2020, 1, 1), QTime(0, 0), Qt::UTC);
    QList<VideoFile> list;
    list.reserve(count);
    int folder = 0;
    while (list.size() < count) {
        const QString dir = QStringLiteral("/home/user/Videos/%1/%2 %3/Batch %4")
                                .arg(words[rng() % 8], words[rng() % 8]).arg(rng() % 9).arg(++folder);
        const int inFolder = 20 + int(rng() % 180);
        for (int i = 0; i < inFolder && list.size() < count; ++i) {
            const QString path = QStringLiteral("%1/Clip %2 take %3.%4").arg(dir).arg(rng() % 100000).arg(i).arg(exts[rng() % 4]);
            if (auto v = VideoFile::make(path, 1 + qint64(rng() % 4'000'000'000u), base.addSecs(rng() % 100'000'000), std::nullopt))
                list.append(*v);
        }
    }
    return list;
}

double bestMs(int runs, const std::function<void()> &work)
{
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        work();
        best = std::min(best, t.nsecsElapsed() / 1e6);
    }
    return best;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QList<VideoFile> videos = makeLibrary(1'000'000);
    QStringList names;
    names.reserve(videos.size());
    for (const VideoFile &v : videos) names.append(v.name);
    AppState state;
    state.setAllVideos(videos);

    // Each keystroke: the commands and the videos for the text typed so far. The worst case
    // is a text that almost nothing contains, so that every name is read.
    double worstRatio = 0;
    for (const QString &query : {QStringLiteral("z"), QStringLiteral("zq"), QStringLiteral("take 7x"), QStringLiteral("clip 99999")}) {
        qsizetype kept = 0, reference = 0;
        const double ours = bestMs(5, [&] {
            kept = PaletteModel::videoMatches(state.allVideos(), query).size();
            kept += PaletteModel::filterCommands(PaletteModel::allCommands(&state), query).size();
        });
        const double scan = bestMs(5, [&] {
            reference = 0;
            for (const QString &n : names) reference += n.contains(query, Qt::CaseInsensitive);
        });
        const double ratio = ours / scan;
        worstRatio = std::max(worstRatio, ratio);
        std::printf("query \"%s\": palette %.1f ms (%lld listed), substring scan %.1f ms (%lld names)\n",
                    qPrintable(query), ours, qlonglong(kept), scan, qlonglong(reference));
    }
    std::printf("palette/scan ratio: %.2f (goal <= 3)\n", worstRatio);
    return 0;
}
