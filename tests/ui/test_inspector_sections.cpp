// The inspector's cards on their own: facts rows, matched moments, visual index, transcript.
#include "library/Models.h"
#include "ui/inspector/InspectorMediaInfo.h"
#include "ui/inspector/InspectorSections.h"
#include "ui/player/ScrubberBar.h"
#include "ui/inspector/InspectorWidgets.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QIcon>

#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <limits>

namespace {

VideoFile sampleVideo(bool withCreated)
{
    VideoFile v;
    v.id = "/videos/Holiday.mkv";
    v.name = "Holiday.mkv";
    v.fileExtension = "MKV";
    v.directoryPath = "/videos";
    v.fileSize = 193'400'000;
    v.modifiedDate = QDateTime(QDate(2024, 3, 5), QTime(14, 7), Qt::LocalTime);
    if (withCreated) v.createdDate = QDateTime(QDate(2023, 12, 24), QTime(9, 30), Qt::LocalTime);
    return v;
}

QString valueOf(const QList<MediaInfoRow> &rows, const QString &key)
{
    for (const MediaInfoRow &r : rows)
        if (r.labelKey == key) return r.value;
    return "<absent>";
}

QStringList keysOf(const QList<MediaInfoRow> &rows)
{
    QStringList keys;
    for (const MediaInfoRow &r : rows) keys << r.labelKey;
    return keys;
}

} // namespace

TEST(MediaInfoRows, FullFactsInOrder)
{
    VideoMediaInfo info;
    info.duration = 65.9;
    info.width = 1920;
    info.height = 1080;
    info.fps = 29.97;
    info.codec = "H.264";
    info.isPlayableNatively = true;
    const auto rows = mediaInfoRows(sampleVideo(true), info, 0, false, AppLanguage::en);
    EXPECT_EQ(keysOf(rows), (QStringList{"meta.size", "meta.duration", "meta.resolution", "meta.fps", "meta.codec",
                                         "meta.player", "meta.modified", "meta.created"}));
    EXPECT_EQ(valueOf(rows, "meta.size"), formatByteCount(193'400'000));
    EXPECT_EQ(valueOf(rows, "meta.duration"), "1:05");
    EXPECT_EQ(valueOf(rows, "meta.resolution"), QString::fromUtf8("1920 × 1080"));
    EXPECT_EQ(valueOf(rows, "meta.fps"), "29.97 fps");
    EXPECT_EQ(valueOf(rows, "meta.codec"), "H.264");
    EXPECT_EQ(valueOf(rows, "meta.player"), kNativeEngineName);
    EXPECT_EQ(valueOf(rows, "meta.modified"), formatDateTime(sampleVideo(true).modifiedDate, uiLocale(AppLanguage::en)));
    EXPECT_EQ(valueOf(rows, "meta.created"), formatDateTime(*sampleVideo(true).createdDate, uiLocale(AppLanguage::en)));
}

TEST(MediaInfoRows, MissingFactsFallBack)
{
    const QString dash = QString::fromUtf8("\u2014");
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        const char *name;
        std::optional<VideoMediaInfo> info;
        double playerDuration;
        QString duration;
    };
    VideoMediaInfo zero;
    zero.duration = 0;
    VideoMediaInfo infinite;
    infinite.duration = inf;
    VideoMediaInfo nan;
    nan.duration = std::nan("");
    const Case cases[] = {
        {"no facts, no player", std::nullopt, 0, dash},
        {"no facts, player knows", std::nullopt, 12.4, "0:12"},
        {"zero duration, player knows", zero, 7, "0:07"},
        {"infinite duration", infinite, 0, dash},
        {"nan duration, player knows", nan, 3725, "1:02:05"},
    };
    for (const Case &c : cases) {
        const auto rows = mediaInfoRows(sampleVideo(false), c.info, c.playerDuration, true, AppLanguage::en);
        EXPECT_EQ(valueOf(rows, "meta.duration"), c.duration) << c.name;
        EXPECT_EQ(valueOf(rows, "meta.resolution"), dash) << c.name;
        EXPECT_EQ(valueOf(rows, "meta.fps"), dash) << c.name;
        EXPECT_EQ(valueOf(rows, "meta.codec"), "MKV") << c.name;
        EXPECT_EQ(valueOf(rows, "meta.player"), kMPVEngineName) << c.name;
        EXPECT_EQ(rows.size(), 7) << c.name;
        EXPECT_EQ(valueOf(rows, "meta.created"), "<absent>") << c.name;
    }
    VideoMediaInfo widthOnly;
    widthOnly.width = 640;
    EXPECT_EQ(valueOf(mediaInfoRows(sampleVideo(false), widthOnly, 0, false, AppLanguage::en), "meta.resolution"), dash);
}

TEST(MediaInfoRows, DatesFollowTheInterfaceLanguage)
{
    for (AppLanguage lang : AppLanguageInfo::allCases()) {
        const auto rows = mediaInfoRows(sampleVideo(true), std::nullopt, 0, false, lang);
        EXPECT_EQ(valueOf(rows, "meta.modified"), formatDateTime(sampleVideo(true).modifiedDate, uiLocale(lang)));
    }
    EXPECT_NE(valueOf(mediaInfoRows(sampleVideo(true), std::nullopt, 0, false, AppLanguage::en), "meta.modified"),
              valueOf(mediaInfoRows(sampleVideo(true), std::nullopt, 0, false, AppLanguage::de), "meta.modified"));
}

TEST(MediaInfoGrid, DividersOnlyBetweenRowsAndLabelsTranslated)
{
    MediaInfoGrid grid;
    const auto rows = mediaInfoRows(sampleVideo(false), std::nullopt, 0, false, AppLanguage::de);
    grid.setRows(rows, AppLanguage::de);
    EXPECT_EQ(grid.findChildren<DividerLine *>().size(), rows.size() - 1);
    auto *size = grid.findChild<QWidget *>("meta-row:meta.size");
    ASSERT_TRUE(size);
    EXPECT_EQ(size->findChild<QLabel *>("label")->text(), L10n::text("meta.size", AppLanguage::de));
    EXPECT_EQ(grid.findChild<QWidget *>("meta-row:meta.created"), nullptr);
}

TEST(TopLabels, HighestEightWithBlanksForUnderscores)
{
    VideoVisualIndexEntry entry;
    for (int i = 0; i < 12; ++i) entry.labelsEN.insert(QString("label_%1").arg(i, 2, 10, QChar('0')), float(i) / 12);
    const QStringList labels = topLabels(entry);
    ASSERT_EQ(labels.size(), 8);
    EXPECT_EQ(labels.front(), "label 11");
    EXPECT_EQ(labels.back(), "label 04");
    entry.labelsEN = {{"b_b", 0.5f}, {"a_a", 0.5f}, {"c", 0.9f}};
    EXPECT_EQ(topLabels(entry), (QStringList{"c", "a a", "b b"}));
    EXPECT_TRUE(topLabels(VideoVisualIndexEntry{}).isEmpty());
}

TEST(LeadingGraphemes, CountsCharactersAsShownNotCodeUnits)
{
    EXPECT_EQ(leadingGraphemes(QString(500, 'x'), 160), QString(160, 'x'));
    EXPECT_EQ(leadingGraphemes("short", 160), "short");
    // A flag is four code units and one character; an accent may be a separate mark.
    const QString flags = QString::fromUtf8("🇯🇵🇩🇪🇺🇸");
    EXPECT_EQ(leadingGraphemes(flags, 2), QString::fromUtf8("🇯🇵🇩🇪"));
    const QString accents = QString::fromUtf8("e\u0301e\u0301e\u0301");
    EXPECT_EQ(leadingGraphemes(accents, 2), QString::fromUtf8("e\u0301e\u0301"));
}

TEST(AIInsightsSection, OCRRowAndTagsFollowTheEntry)
{
    AIInsightsSection section;
    VideoVisualIndexEntry entry;
    entry.engineUsed = "CLIP + OpenCV";
    entry.ocrText = QString(500, 'A');
    for (int i = 0; i < 12; ++i) entry.labelsEN.insert(QString("tag%1").arg(i), float(i));
    section.setEntry(entry, AppLanguage::en);
    EXPECT_TRUE(section.hasOCRRow());
    EXPECT_EQ(section.ocrText().size(), 160);
    EXPECT_EQ(section.tags().size(), 8);
    EXPECT_EQ(section.engineText(), "CLIP + OpenCV");
    // The tags are the shared chip row, one chip per tag, shown under the header.
    ASSERT_NE(section.tagsView(), nullptr);
    EXPECT_TRUE(section.tagsView()->isVisibleTo(&section));
    EXPECT_EQ(section.tagsView()->tags(), section.tags());
    EXPECT_EQ(section.tagsView()->chips().size(), 8);
    EXPECT_GT(section.tagsView()->sizeHint().height(), 0);

    entry.ocrText.clear();
    entry.labelsEN.clear();
    section.setEntry(entry, AppLanguage::en);
    EXPECT_FALSE(section.hasOCRRow());
    EXPECT_TRUE(section.tags().isEmpty());
    EXPECT_FALSE(section.tagsView()->isVisibleTo(&section));
}

TEST(MatchedMomentsSection, ChipsInStoredOrderWithTheirOwnIcons)
{
    MatchedMomentsSection section;
    VisualSearchHit hit;
    hit.isOCRMatch = true;
    hit.moments = {{42, 0.9, false}, {3, 0.5, true}, {75.5, 0.7, false}};
    section.setHit(hit, AppLanguage::en);
    EXPECT_EQ(section.headerIcon(), "text.viewfinder");
    EXPECT_EQ(section.countText(), "3");
    const auto chips = section.chips();
    ASSERT_EQ(chips.size(), 3);
    EXPECT_EQ(chips[0]->text(), "0:42");
    EXPECT_EQ(chips[1]->text(), "0:03");
    EXPECT_EQ(chips[2]->text(), "1:15");
    EXPECT_EQ(chips[0]->iconName(), "play.fill");
    EXPECT_EQ(chips[1]->iconName(), "text.viewfinder");
    EXPECT_EQ(chips[0]->toolTip(), L10n::text("ai.jumpToMoment", AppLanguage::en));

    hit.isOCRMatch = false;
    section.setHit(hit, AppLanguage::en);
    EXPECT_EQ(section.headerIcon(), "sparkle.magnifyingglass");

    QSignalSpy jumps(&section, &MatchedMomentsSection::jumpRequested);
    section.chips()[2]->button()->click();
    ASSERT_EQ(jumps.size(), 1);
    EXPECT_DOUBLE_EQ(jumps[0][0].toDouble(), 75.5);
}

TEST(MatchedMomentsSection, CurrentChipWithinTwoSeconds)
{
    MatchedMomentsSection section;
    VisualSearchHit hit;
    hit.moments = {{10, 1, false}};
    section.setHit(hit, AppLanguage::en);
    const std::pair<double, bool> cases[] = {{10, true}, {11.99, true}, {8.01, true}, {12, false}, {8, false}, {0, false}};
    for (const auto &[time, current] : cases) {
        section.setCurrentTime(time);
        EXPECT_EQ(section.chips()[0]->isCurrent(), current) << time;
    }
}

TEST(TranscriptSection, HeaderFormsAndSegmentLimit)
{
    TranscriptSection section;
    section.setData(false, std::nullopt, AppLanguage::en);
    EXPECT_EQ(section.trailing(), TranscriptSection::Trailing::transcribeButton);
    EXPECT_TRUE(section.segmentButtons().isEmpty());
    EXPECT_FALSE(section.showsNoSpeech());
    QSignalSpy transcribe(&section, &TranscriptSection::transcribeRequested);
    section.transcribeButton()->click();
    EXPECT_EQ(transcribe.size(), 1);

    VideoTranscriptEntry entry;
    for (int i = 0; i < 7; ++i) entry.segments.append({double(i * 10), QString("words %1").arg(i)});
    section.setData(false, entry, AppLanguage::en);
    EXPECT_EQ(section.trailing(), TranscriptSection::Trailing::engineName);
    EXPECT_EQ(section.segmentButtons().size(), 6);

    // Transcribing again wins over the older transcript.
    section.setData(true, entry, AppLanguage::en);
    EXPECT_EQ(section.trailing(), TranscriptSection::Trailing::progress);

    entry.segments.removeLast();
    section.setData(false, entry, AppLanguage::en);
    EXPECT_EQ(section.segmentButtons().size(), 6);

    QSignalSpy jumps(&section, &TranscriptSection::jumpRequested);
    section.segmentButtons()[3]->click();
    ASSERT_EQ(jumps.size(), 1);
    EXPECT_DOUBLE_EQ(jumps[0][0].toDouble(), 30);

    entry.segments.clear();
    section.setData(false, entry, AppLanguage::en);
    EXPECT_TRUE(section.segmentButtons().isEmpty());
    EXPECT_TRUE(section.showsNoSpeech());
}

TEST(InspectorIcons, EverySymbolTheInspectorUsesDraws)
{
    // Also on a desktop without any freedesktop icon theme: our own drawings stand in.
    QIcon::setThemeSearchPaths({QDir::tempPath() + "/no-icon-themes-here"});
    QIcon::setFallbackSearchPaths({});
    initInspectorIcons();
    for (const char *name : {"rectangle.compress.vertical", "rectangle.expand.vertical", "arrow.up.left.and.arrow.down.right",
                             "arrow.up.forward.app", "xmark", "play.rectangle.on.rectangle", "display", "play.slash.fill",
                             "play.fill", "scissors", "folder.badge.arrow.right", "trash", "folder", "text.viewfinder",
                             "sparkle.magnifyingglass", "waveform"})
        EXPECT_TRUE(LinearTheme::hasSymbol(name)) << name;
}
