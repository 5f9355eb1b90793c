#include "UiFixture.h"
#include "ui/Controls.h"
#include "ui/sheets/duplicates/DuplicatesSheetView.h"
#include "ui/window/LumenkiteApp.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QTest>

#include <sys/stat.h>

#include <cmath>

using namespace uifx;

namespace {

QByteArray bytes(int size, char seed)
{
    QByteArray b(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i) b[i] = char(seed * 31 + i * 7 + (i >> 9));
    return b;
}

VideoFile realVideo(const QString &relative, const QByteArray &content, int ageDays = 10)
{
    const QString path = home() + "/Dupes/" + relative;
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write(content) == content.size());
    f.close();
    return video(path, content.size(), ageDays);
}

QuantizedEmbedding towards(double degrees)
{
    std::vector<float> v(16, 0.0f);
    v[0] = float(std::cos(degrees * M_PI / 180));
    v[1] = float(std::sin(degrees * M_PI / 180));
    return QuantizedEmbedding::fromVector(v);
}

QStringList names(const QSet<QString> &ids)
{
    QStringList out;
    for (const QString &id : ids) out << QFileInfo(id).fileName();
    out.sort();
    return out;
}

class DuplicatesSheetTest : public ::testing::Test {
protected:
    void open(const QList<VideoFile> &videos)
    {
        ContentViewParts parts;
        parts.duplicatesSheet = makeDuplicatesSheet;
        app = std::make_unique<LumenkiteApp>(parts);
        state = app->state();
        state->setShowOnboarding(false);
        state->setAllVideos(videos);
        state->rebuildTree(true);
        app->show();
        // Opened as a user opens it: the sidebar's tool row.
        SidebarView *sidebar = app->mainWindow()->contentView()->sidebar();
        ASSERT_NE(sidebar, nullptr);
        sidebar->rebuild();
        auto *tool = sidebar->control<SidebarItemRow>("tool:duplicates");
        ASSERT_NE(tool, nullptr);
        ASSERT_TRUE(tool->isEnabled());
        tool->click();
        // No events are taken before the first look: the sheet opens on the click itself, and
        // a scan of a few small files can end within the first few milliseconds.
        ASSERT_TRUE(state->showDuplicatesSheet());
        sheet = qobject_cast<DuplicatesSheetView *>(app->mainWindow()->contentView()->openSheet());
        ASSERT_NE(sheet, nullptr);
    }
    bool settle(const char *content) { return waitFor([&] { return sheet->contentState() == content; }, 10000); }
    void TearDown() override
    {
        if (sheet) sheet->closeSheet();
        spin(10);
        app.reset();
    }

    std::unique_ptr<LumenkiteApp> app;
    AppState *state = nullptr;
    QPointer<DuplicatesSheetView> sheet;
};

} // namespace

TEST_F(DuplicatesSheetTest, ExactCopiesAreFoundMarkedAndTrashedButNeverEveryCopy)
{
    const QByteArray big = bytes(300'000, 1), small = bytes(200'000, 2);
    open({realVideo("keep.mp4", big), realVideo("sub/keep copy.mp4", big), realVideo("a.mp4", small, 30),
          realVideo("a (2).mp4", small, 20), realVideo("a copy.mp4", small, 10), realVideo("unique.mp4", bytes(1234, 3))});
    // The first frame already shows the scan, with nothing to act on yet.
    EXPECT_EQ(sheet->contentState(), "exactScanning");
    EXPECT_FALSE(sheet->autoSelectButton()->isVisible());
    EXPECT_FALSE(sheet->trashButton()->isVisible());
    ASSERT_TRUE(settle("list"));

    const auto cards = sheet->cards();
    ASSERT_EQ(cards.size(), 2);
    EXPECT_EQ(cards[0]->title(), "3\u00d7 200 KB");
    EXPECT_EQ(cards[0]->detail(), "+400 KB reclaimable");
    EXPECT_EQ(cards[0]->roleTexts(), QStringList({"Keep", "Copy", "Copy"}));
    EXPECT_EQ(cards[1]->title(), "2\u00d7 300 KB");
    EXPECT_EQ(sheet->summaryText(), "2 duplicate groups \u00b7 700 KB reclaimable");
    EXPECT_EQ(names(sheet->selectedForTrash()), QStringList({"a (2).mp4", "a copy.mp4", "keep copy.mp4"}));
    EXPECT_EQ(sheet->trashButtonText(), "Move Selected to Trash (3 \u00b7 700 KB)");
    EXPECT_TRUE(sheet->trashButton()->isVisible());

    // Every copy of the small group marked by hand; one marked copy vanishes from disk
    // before the Trash move, so that one move fails.
    cards[0]->checkBoxes()[0]->click();
    EXPECT_EQ(sheet->selectedForTrash().size(), 4);
    ASSERT_TRUE(QFile::remove(home() + "/Dupes/sub/keep copy.mp4"));
    sheet->trashButton()->click();
    spin(20);

    // The kept copy of the small group is still there; its group is gone (one member left).
    EXPECT_TRUE(QFile::exists(home() + "/Dupes/a.mp4"));
    EXPECT_TRUE(state->videoWithID(home() + "/Dupes/a.mp4").has_value());
    EXPECT_FALSE(QFile::exists(home() + "/Dupes/a (2).mp4"));
    EXPECT_FALSE(state->videoWithID(home() + "/Dupes/a copy.mp4").has_value());
    // The failed copy stays in its group, and the failure is said.
    ASSERT_EQ(sheet->exactGroups().size(), 1);
    EXPECT_EQ(sheet->exactGroups()[0].videos.size(), 2);
    EXPECT_EQ(sheet->trashFailureCount(), 1);
    EXPECT_TRUE(sheet->selectedForTrash().isEmpty());
    ASSERT_TRUE(state->lastUndoRecord().has_value());
    EXPECT_EQ(state->lastUndoRecord()->trashedItems.size(), 2);
    EXPECT_EQ(sheet->cards().size(), 1);

    // A member the library now records with another size (replaced by an edited result)
    // is no copy any more: one is left, so the group goes and no duplicates remain.
    QList<VideoFile> rest = state->allVideos();
    for (VideoFile &v : rest)
        if (v.name == "keep copy.mp4") v.fileSize = 123;
    state->setAllVideos(rest);
    EXPECT_TRUE(sheet->exactGroups().isEmpty());
    EXPECT_EQ(sheet->contentState(), "empty");
}

// What the disk holds when the user presses the button decides, not what the scan saw: a
// kept copy deleted by another program keeps one marked copy back, and a marked file that
// another program rewrote to another size stays. A name with a line break is drawn on one line.
TEST_F(DuplicatesSheetTest, TrashAsksTheDiskForTheKeptCopyAndEveryMarkedSize)
{
    const QByteArray big = bytes(300'000, 4), small = bytes(200'000, 5);
    open({realVideo("keep.mp4", big, 30), realVideo("copy\nline.mp4", big, 20), realVideo("copy 2.mp4", big, 10),
          realVideo("s.mp4", small, 30), realVideo("s copy.mp4", small, 10)});
    ASSERT_TRUE(settle("list"));
    ASSERT_EQ(sheet->cards().size(), 2);
    QStringList shown;
    for (const DuplicateGroupCard *card : sheet->cards())
        for (const ThemedLabel *label : card->findChildren<ThemedLabel *>()) shown << label->text();
    EXPECT_TRUE(shown.contains("copy\u23CEline.mp4")) << shown.join('|').toStdString();
    for (const QString &text : shown) EXPECT_FALSE(text.contains('\n')) << text.toStdString();
    EXPECT_EQ(names(sheet->selectedForTrash()), QStringList({"copy\nline.mp4", "copy 2.mp4", "s copy.mp4"}));

    ASSERT_TRUE(QFile::remove(home() + "/Dupes/keep.mp4"));
    QFile rewritten(home() + "/Dupes/s copy.mp4");
    ASSERT_TRUE(rewritten.open(QIODevice::WriteOnly | QIODevice::Truncate) && rewritten.write(bytes(150'000, 6)) > 0);
    rewritten.close();
    sheet->trashButton()->click();
    spin(20);

    // Of the big group one copy is left on disk; the rewritten small copy is untouched.
    const int left = int(QFile::exists(home() + "/Dupes/copy\nline.mp4")) + int(QFile::exists(home() + "/Dupes/copy 2.mp4"));
    EXPECT_EQ(left, 1);
    EXPECT_EQ(QFileInfo(home() + "/Dupes/s copy.mp4").size(), 150'000);
    ASSERT_TRUE(state->lastUndoRecord().has_value());
    EXPECT_EQ(state->lastUndoRecord()->trashedItems.size(), 1);
    EXPECT_EQ(sheet->trashFailureCount(), 1);
}

TEST_F(DuplicatesSheetTest, NoDuplicatesIsOnlyClaimedWhenEveryCandidateWasRead)
{
    const QByteArray content = bytes(50'000, 5);
    VideoFile real = realVideo("real.mp4", content);
    const QString pipe = home() + "/Dupes/pipe.mp4";
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0644), 0);
    VideoFile fifo = video(pipe, content.size());
    struct {
        QList<VideoFile> library;
        const char *title;
        const char *subtitle;
    } cases[] = {
        {{real, fifo}, "No Duplicates Among the Readable Videos", "1 videos could not be read"},
        {{real, realVideo("other.mp4", bytes(777, 6))}, "No Duplicate Videos Found",
         "Your current video library has no identical copies."},
    };
    for (const auto &c : cases) {
        open(c.library);
        ASSERT_TRUE(settle("empty"));
        EXPECT_EQ(sheet->emptyTitle(), c.title);
        EXPECT_EQ(sheet->emptySubtitle(), c.subtitle);
        EXPECT_FALSE(sheet->autoSelectButton()->isVisible());
        sheet->closeSheet();
        spin(10);
        app.reset();
    }
}

TEST_F(DuplicatesSheetTest, SimilarTabMarksOnlyVideosLinkedToTheKeptOneAndShowsTheNewestSearch)
{
    // A-B and B-C are 20 degrees apart (about 0.94), A-C 40 degrees; D is far away.
    const VideoFile a = realVideo("A.mp4", bytes(4000, 7)), b = realVideo("B.mp4", bytes(3000, 8)),
                    c = realVideo("C.mp4", bytes(2000, 9)), d = realVideo("D.mp4", bytes(1000, 10));
    open({a, b, c, d});
    ASSERT_TRUE(settle("empty"));

    // Without an index the tab asks for one (no button while the models are missing).
    sheet->setActiveTab(DuplicateTab::similar);
    EXPECT_EQ(sheet->contentState(), "needIndex");
    EXPECT_FALSE(sheet->indexNowButton()->isVisible());
    sheet->setActiveTab(DuplicateTab::exact);
    spin(10);

    VisualIndexMap entries;
    const double degrees[] = {0, 20, 40, 90};
    const VideoFile all[] = {a, b, c, d};
    for (int i = 0; i < 4; ++i) {
        VideoVisualIndexEntry e;
        e.videoID = all[i].id;
        e.clipEmbeddings = {towards(degrees[i]), towards(degrees[i] + 1)};
        entries.insert(all[i].id, e);
    }
    state->setAiIndexEntries(entries);
    sheet->setActiveTab(DuplicateTab::similar);
    EXPECT_EQ(sheet->contentState(), "similarScanning");
    EXPECT_EQ(sheet->similarityLabelText(), "Similarity: 90%");
    ASSERT_TRUE(settle("list"));
    ASSERT_EQ(sheet->similarGroups().size(), 1);
    EXPECT_EQ(sheet->similarGroups()[0].videos.size(), 3);
    EXPECT_EQ(sheet->cards()[0]->detail(), "+5 KB reclaimable");
    // C belongs to the group only through B.
    EXPECT_EQ(names(sheet->selectedForTrash()), QStringList({"B.mp4"}));

    // Two slider moves in a row: only the later one's result shows.
    sheet->slider()->setValue(96);
    sheet->slider()->setValue(90);
    EXPECT_TRUE(sheet->isScanningSimilar());
    ASSERT_TRUE(settle("list"));
    spin(50);
    EXPECT_EQ(sheet->contentState(), "list");
    sheet->slider()->setValue(96);
    ASSERT_TRUE(settle("empty"));
    EXPECT_EQ(sheet->emptyTitle(), "No Visually Similar Videos Found");
    EXPECT_EQ(sheet->similarityLabelText(), "Similarity: 96%");
}

// After every slider move the ticks are exactly the rows labelled "Copy" in the groups shown,
// "Close" stays where it was when the trash button appears, and trashing similar videos
// (which are not identical) asks once, naming how many and how much, before anything goes.
TEST_F(DuplicatesSheetTest, SimilarMarksFollowTheCopyLabelsAndTrashingAsksFirst)
{
    // A chain 12 degrees apart: A0-A1, A1-A2, A2-A3 about 0.98; A0-A2 and A1-A3 (24 degrees)
    // about 0.91; A0-A3 0.81. B0-B1 10 degrees apart, far from the A chain.
    struct Member { const char *name; int size; double degrees; };
    const Member members[] = {{"A0.mp4", 40'000, 0}, {"A1.mp4", 30'000, 12}, {"A2.mp4", 20'000, 24},
                              {"A3.mp4", 10'000, 36}, {"B0.mp4", 8'000, 90}, {"B1.mp4", 6'000, 100}};
    QList<VideoFile> library;
    VisualIndexMap entries;
    char seed = 20;
    for (const Member &m : members) {
        library << realVideo(m.name, bytes(m.size, seed++));
        VideoVisualIndexEntry e;
        e.videoID = library.last().id;
        e.clipEmbeddings = {towards(m.degrees), towards(m.degrees + 1)};
        entries.insert(e.videoID, e);
    }
    open(library);
    ASSERT_TRUE(settle("empty"));
    // Where "Close" sits while nothing is marked.
    spin(10);
    const QRect closeAt = sheet->closeButton()->geometry();
    state->setAiIndexEntries(entries);
    sheet->setActiveTab(DuplicateTab::similar);
    ASSERT_TRUE(settle("list"));

    const QString copy = L10n::text("dup.copy", AppLanguage::en);
    auto checkMarks = [&](const char *when) {
        SCOPED_TRACE(when);
        int labelled = 0;
        for (const DuplicateGroupCard *card : sheet->cards()) {
            const QStringList roles = card->roleTexts();
            const QList<QAbstractButton *> boxes = card->checkBoxes();
            ASSERT_EQ(roles.size(), boxes.size());
            for (int i = 0; i < roles.size(); ++i) {
                EXPECT_EQ(boxes[i]->isChecked(), roles[i] == copy) << card->title().toStdString() << " row " << i;
                labelled += roles[i] == copy;
            }
        }
        EXPECT_GT(labelled, 0);
        EXPECT_EQ(sheet->selectedForTrash().size(), labelled);
        EXPECT_TRUE(sheet->trashButtonText().contains("(" + QString::number(labelled) + " \u00b7"))
            << sheet->trashButtonText().toStdString();
        spin(10);
        EXPECT_TRUE(sheet->trashButton()->isVisible());
        EXPECT_EQ(sheet->closeButton()->geometry(), closeAt);
        EXPECT_FALSE(sheet->trashButton()->geometry().intersects(closeAt));
    };
    checkMarks("90%");
    EXPECT_EQ(names(sheet->selectedForTrash()), QStringList({"A1.mp4", "A2.mp4", "B1.mp4"}));
    for (const int percent : {96, 85, 92, 90}) {
        sheet->slider()->setValue(percent);
        // While the new groups are found, the old marks cannot be acted on.
        EXPECT_FALSE(sheet->trashButton()->isVisible());
        ASSERT_TRUE(settle("list"));
        checkMarks(QByteArray::number(percent).constData());
    }
    // At 96% only the direct neighbour of A0 looks like it.
    sheet->slider()->setValue(96);
    ASSERT_TRUE(settle("list"));
    checkMarks("96% again");
    EXPECT_EQ(names(sheet->selectedForTrash()), QStringList({"A1.mp4", "B1.mp4"}));

    // The button asks first; Cancel keeps everything.
    QTest::mouseClick(sheet->trashButton(), Qt::LeftButton);
    QMessageBox *ask = sheet->trashConfirmation();
    ASSERT_NE(ask, nullptr);
    ASSERT_TRUE(waitFor([&] { return ask->isVisible(); }));
    EXPECT_TRUE(ask->informativeText().startsWith("2 videos \u00b7 " + formatByteCount(30'000 + 6'000)))
        << ask->informativeText().toStdString();
    sheet->trashSelected();
    EXPECT_EQ(sheet->findChildren<QMessageBox *>().size(), 1);
    QTest::mouseClick(ask->findChild<QPushButton *>("confirmCancel"), Qt::LeftButton);
    spin(20);
    for (const VideoFile &v : library) EXPECT_TRUE(QFile::exists(v.id)) << v.name.toStdString();
    EXPECT_EQ(sheet->selectedForTrash().size(), 2);

    // Confirmed: exactly the two marked copies go, with undo.
    QTest::mouseClick(sheet->trashButton(), Qt::LeftButton);
    ask = sheet->trashConfirmation();
    ASSERT_NE(ask, nullptr);
    QTest::mouseClick(ask->findChild<QPushButton *>("confirmTrash"), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return !QFile::exists(home() + "/Dupes/A1.mp4"); }));
    EXPECT_FALSE(QFile::exists(home() + "/Dupes/B1.mp4"));
    for (const char *kept : {"A0.mp4", "A2.mp4", "A3.mp4", "B0.mp4"}) EXPECT_TRUE(QFile::exists(home() + "/Dupes/" + kept)) << kept;
    ASSERT_TRUE(state->lastUndoRecord().has_value());
    EXPECT_EQ(state->lastUndoRecord()->trashedItems.size(), 2);
}
