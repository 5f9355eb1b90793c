// The real main window in its longest languages, at its default size and at its smallest:
// every label and button of the pane's header, search row and permission banner and of the
// sidebar shows its whole text or a shortened one ending in "…" (never one cut off at an
// edge), nothing in a row overlaps, no pane is cut off at the window's edge, and the tree's
// rows keep their size column whole.
#include "UiFixture.h"
#include "library/FileNames.h"
#include "ui/Controls.h"
#include "ui/inspector/InspectorMediaInfo.h"
#include "ui/inspector/InspectorPane.h"
#include "ui/tree/FolderRowPainter.h"
#include "ui/tree/LumenkitePane.h"
#include "ui/tree/LumenkiteRowView.h"
#include "ui/tree/PaneWidgets.h"
#include "ui/tree/TreeListView.h"
#include "ui/window/LumenkiteApp.h"
#include "ui/window/SidebarView.h"

#include <gtest/gtest.h>

#include <QFontMetricsF>
#include <QLabel>
#include <QScrollArea>
#include <QSplitter>
#include <QTest>

using namespace uifx;

namespace {

struct Case {
    const char *name;
    AppLanguage language;
    QSize size; // asked for; the window keeps at least its minimum
};

void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

const QString kEllipsis = QStringLiteral("…");

// "sidebar/sidebarHeader/QLabel" and the like, for the messages.
QString where(const QWidget *w)
{
    QStringList parts;
    for (const QWidget *p = w; p && !p->isWindow(); p = p->parentWidget())
        parts.prepend(p->objectName().isEmpty() ? QString::fromLatin1(p->metaObject()->className()) : p->objectName());
    return parts.join('/');
}

// Whether `shown` is `whole` or a shortened form of it that says so.
bool honest(const QString &shown, const QString &whole) { return shown == whole || shown.contains(kEllipsis); }

// The narrowest width the widget's layout is meant to give it; less means its content is cut
// or runs into its neighbours.
int leastWidth(const QWidget *w)
{
    const QSizePolicy::Policy policy = w->sizePolicy().horizontalPolicy();
    if (policy == QSizePolicy::Ignored)
        return 0;
    int least = (policy & QSizePolicy::ShrinkFlag) ? w->minimumSizeHint().width() : w->sizeHint().width();
    if (w->minimumWidth() > 0)
        least = w->minimumWidth();
    return std::max(0, std::min(least, w->maximumWidth()));
}

class WindowTextFit : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override
    {
        ContentViewParts parts;
        parts.treePane = [](AppState *s, QWidget *parent) -> QWidget * { return new LumenkitePane(s, parent); };
        parts.inspector = makeInspectorPane;
        app = std::make_unique<LumenkiteApp>(parts);
        state = app->state();
        state->setShowOnboarding(false);
        state->setLanguage(GetParam().language);
        state->setActiveScope(ScanScope::homeDirectory());
        const QString h = home();
        QList<VideoFile> videos;
        const QStringList folders{"Videos/Urlaubsreisen nach Südtirol und ins Salzkammergut 2023",
                                  "Videos/Familie/Geburtstagsfeiern der Großeltern", "Downloads/Bildschirmaufnahmen"};
        const QStringList extensions{"mp4", "mov", "mkv", "webm", "avi"};
        for (int i = 0; i < 15; ++i)
            videos.append(video(h + "/" + folders.at(i % folders.size())
                                    + QStringLiteral("/Sonnenuntergang am Gardasee mit der ganzen Familie %1.").arg(i)
                                    + extensions.at(i % extensions.size()),
                                qint64(i + 1) * 987'654'321, i * 13));
        state->setAllVideos(videos);
        state->setLastScanDate(QDateTime::currentDateTime().addSecs(-3600));
        state->setDeniedFolders({h + "/Bibliotheken/Fotos-Mediathek.photoslibrary", h + "/Dokumente/Steuererklärungen",
                                 h + "/Schreibtisch/Bildschirmaufnahmen"});
        state->rebuildTree(true);
        state->expandAll();
        state->selectVideo(videos.first());
        app->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(app->mainWindow()));
        app->mainWindow()->resize(GetParam().size);
        spin(300);
    }
    void TearDown() override { app.reset(); }

    MainWindow *window() const { return app->mainWindow(); }
    LumenkitePane *pane() const { return window()->findChild<LumenkitePane *>(); }
    SidebarView *sidebar() const { return window()->findChild<SidebarView *>(); }

    // Every visible widget of `root` whose text does not fit: shown whole, or shortened with "…".
    QStringList cutTexts(QWidget *root) const
    {
        QStringList faults;
        QList<QWidget *> widgets = root->findChildren<QWidget *>();
        widgets.prepend(root);
        for (QWidget *w : widgets) {
            if (!w->isVisibleTo(window()) || w->width() <= 0)
                continue;
            const QString at = where(w);
            if (auto *label = qobject_cast<ElidedLabel *>(w)) {
                const QString shown = label->shownText();
                if (!honest(shown, label->text())
                    || label->fontMetrics().horizontalAdvance(shown) > label->contentsRect().width() + 1)
                    faults << at + ": \"" + shown + "\" of \"" + label->text() + "\"";
            } else if (auto *label = qobject_cast<QLabel *>(w)) {
                if (!label->wordWrap() && !label->text().isEmpty() && label->textFormat() == Qt::PlainText
                    && label->fontMetrics().horizontalAdvance(label->text()) > label->contentsRect().width() + 1)
                    faults << at + ": \"" + label->text() + "\" is cut at " + QString::number(label->width());
            } else if (auto *label = qobject_cast<ThemedLabel *>(w)) {
                if (label->wordWrap()) {
                    if (label->heightForWidth(label->width()) > label->height())
                        faults << at + ": the lines of \"" + label->text() + "\" are cut at the bottom";
                } else {
                    const QString shown = label->shownText();
                    if (!honest(shown, label->text())
                        || QFontMetricsF(label->textFont()).horizontalAdvance(shown) > label->width() + 1)
                        faults << at + ": \"" + shown + "\" of \"" + label->text() + "\" is cut at "
                                      + QString::number(label->width());
                }
            } else if (auto *row = qobject_cast<SidebarItemRow *>(w)) {
                const QString shown = row->shownTitle();
                const QFont font = LinearTheme::font(12.5, row->isSelected() ? QFont::DemiBold : QFont::Normal);
                if (!honest(shown, row->title())
                    || QFontMetricsF(font).horizontalAdvance(shown) > row->titleRect().width() + 1)
                    faults << at + ": \"" + shown + "\" of \"" + row->title() + "\"";
            }
            // Whatever does not shorten its content must get the width its content needs.
            if (w->width() < leastWidth(w))
                faults << at + ": " + QString::number(w->width()) + " wide, needs " + QString::number(leastWidth(w));
        }
        return faults;
    }

    // Children of one parent that overlap, or reach outside it.
    QStringList overlaps(QWidget *parent) const
    {
        QStringList faults;
        QList<QWidget *> kids;
        for (QWidget *w : parent->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
            if (w->isVisibleTo(window()) && !w->isWindow() && w->width() > 0 && w->height() > 0)
                kids << w;
        for (int i = 0; i < kids.size(); ++i) {
            if (!parent->rect().contains(kids[i]->geometry()))
                faults << where(kids[i]) + " reaches outside " + where(parent);
            for (int j = i + 1; j < kids.size(); ++j)
                if (kids[i]->geometry().intersects(kids[j]->geometry()))
                    faults << where(kids[i]) + " overlaps " + where(kids[j]);
        }
        return faults;
    }

    // A pane or section cut off at the window's edge.
    QStringList outsideWindow(const QList<QWidget *> &widgets) const
    {
        QStringList faults;
        for (QWidget *w : widgets) {
            if (!w || !w->isVisibleTo(window()))
                continue;
            const QRect r(w->mapTo(window(), QPoint(0, 0)), w->size());
            if (!window()->rect().contains(r))
                faults << where(w) + " at " + QString("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height())
                              + " is cut by the window's edge";
            // Content wider than the scroll area it sits in (which never scrolls sideways).
            for (QWidget *p = w->parentWidget(); p; p = p->parentWidget())
                if (auto *scroll = qobject_cast<QScrollArea *>(p)) {
                    QWidget *viewport = scroll->viewport();
                    const int right = w->mapTo(viewport, QPoint(w->width(), 0)).x();
                    if (right > viewport->width())
                        faults << where(w) + " reaches " + QString::number(right - viewport->width())
                                      + " px past the side of its scroll area";
                    break;
                }
        }
        return faults;
    }

    // The painted rows of the tree: names fit or say they are shortened, the count, date and
    // size columns do not run into each other and the size stays whole inside the list.
    QStringList rowFaults() const
    {
        QStringList faults;
        TreeListView *list = pane()->treeList();
        const auto [first, last] = list->visibleRange();
        const int right = list->viewport()->width();
        const QFontMetricsF sizeMetrics(PaneStyle::font(11.5, QFont::Medium));
        for (qsizetype i = first; i <= last; ++i) {
            const TreeRow &row = list->rows().at(i);
            const QRectF rect = list->rowRect(i);
            QRectF name, size, middle;
            QString nameText, wholeName, sizeText;
            if (row.isFolder()) {
                FolderRowPainter::Input in;
                in.row = &row;
                const auto l = FolderRowPainter::layout(rect, in);
                name = l.name, size = l.size, middle = l.count;
                nameText = l.nameText, sizeText = l.sizeText;
                wholeName = FileNames::display(row.folder().displayName);
            } else {
                LumenkiteRowView::Input in;
                in.depth = row.depth;
                in.video = &row.video();
                in.language = state->language();
                in.isPrimarySelection = state->primarySelectedVideoID() == row.video().id;
                const auto l = LumenkiteRowView::layout(rect, in);
                name = l.name, size = l.size, middle = l.date;
                nameText = l.nameText, sizeText = l.sizeText;
                wholeName = FileNames::display(row.video().name);
            }
            const QString at = "row " + row.id();
            if (!honest(nameText, wholeName))
                faults << at + ": name \"" + nameText + "\"";
            if (name.intersects(middle) || middle.intersects(size) || name.intersects(size))
                faults << at + ": its columns overlap";
            if (size.right() > right + 0.5 || size.left() < rect.left())
                faults << at + ": the size column is cut by the list's edge";
            if (sizeMetrics.horizontalAdvance(sizeText) > size.width() + 0.5 || size.width() < FolderRowPainter::kSizeMinWidth)
                faults << at + ": the size \"" + sizeText + "\" has no room";
        }
        return faults;
    }

    std::unique_ptr<LumenkiteApp> app;
    AppState *state = nullptr;
};

TEST_P(WindowTextFit, NothingIsCutWithoutAnEllipsisNorOverlaps)
{
    ASSERT_TRUE(pane() && sidebar());
    ASSERT_GE(window()->width(), window()->minimumWidth());
    ASSERT_GE(window()->height(), window()->minimumHeight());

    QWidget *header = pane()->findChild<QWidget *>("paneHeader");
    QWidget *search = pane()->findChild<QWidget *>("searchRow");
    QWidget *banner = pane()->permissionBanner();
    QWidget *sidebarHeader = sidebar()->findChild<QWidget *>("sidebarHeader");
    QWidget *footer = sidebar()->findChild<QWidget *>("sidebarFooter");
    ASSERT_TRUE(header && search && banner && sidebarHeader && footer);
    ASSERT_TRUE(banner->isVisibleTo(window()));

    QWidget *content = window()->contentView();
    QList<QWidget *> panes{content, header, search, banner, pane()->treeList(), sidebarHeader, footer};
    for (QSplitter *s : content->findChildren<QSplitter *>())
        for (int i = 0; i < s->count(); ++i)
            panes << s->widget(i);
    // The inspector's action buttons, whose labels are the longest in German.
    QWidget *actions = window()->findChild<InspectorActionsSection *>();
    ASSERT_TRUE(actions && actions->isVisibleTo(window()));
    panes << actions;
    QStringList faults = outsideWindow(panes);
    for (QWidget *root : {header, search, banner, static_cast<QWidget *>(sidebar()), actions})
        faults += cutTexts(root);
    QList<QWidget *> rowsOfItems{header, search, banner, sidebarHeader, footer};
    for (QWidget *w : footer->findChildren<QWidget *>())
        rowsOfItems << w;
    for (QWidget *w : rowsOfItems)
        if (w->isVisibleTo(window()))
            faults += overlaps(w);
    faults += rowFaults();
    EXPECT_TRUE(faults.isEmpty()) << faults.join('\n').toStdString();

    // At the default size the rescan button gives up its time before the scope and the count
    // are shortened.
    if (GetParam().size == LumenkiteApp::kDefaultSize) {
        ASSERT_EQ(window()->size(), LumenkiteApp::kDefaultSize);
        auto *title = header->findChild<ElidedLabel *>("scopeTitle");
        auto *count = header->findChild<ElidedLabel *>("videoCount");
        ASSERT_TRUE(title && count);
        EXPECT_EQ(title->shownText(), title->text());
        EXPECT_TRUE(count->isVisibleTo(window()));
        EXPECT_EQ(count->shownText(), count->text());
    }
}

INSTANTIATE_TEST_SUITE_P(LongLanguages, WindowTextFit,
                         ::testing::Values(Case{"GermanDefault", AppLanguage::de, QSize(1280, 800)},
                                           Case{"GermanSmallest", AppLanguage::de, QSize(960, 620)},
                                           Case{"JapaneseDefault", AppLanguage::ja, QSize(1280, 800)},
                                           Case{"JapaneseSmallest", AppLanguage::ja, QSize(960, 620)}),
                         [](const ::testing::TestParamInfo<Case> &info) { return std::string(info.param.name); });

} // namespace
