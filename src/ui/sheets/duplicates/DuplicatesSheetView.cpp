#include "ui/sheets/duplicates/DuplicatesSheetView.h"

#include "library/FileNames.h"
#include "platform/DesktopServices.h"
#include "ui/Controls.h"
#include "ui/LinearTheme.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <cmath>
#include <thread>

namespace {

QFont sheetFont(qreal size, QFont::Weight weight = QFont::Normal, LinearTheme::Design design = LinearTheme::Design::standard)
{
    return LinearTheme::font(size, weight, design);
}

QString colorCss(const QColor &c)
{
    return QStringLiteral("rgba(%1,%2,%3,%4)").arg(c.red()).arg(c.green()).arg(c.blue()).arg(c.alphaF());
}

QColor withAlpha(QColor c, qreal a)
{
    c.setAlphaF(a);
    return c;
}

// A symbol in a fixed colour as a label.
class SymbolLabel : public QWidget {
public:
    SymbolLabel(const QString &symbol, qreal size, std::function<QColor(const LinearPalette &)> color, QWidget *parent = nullptr)
        : QWidget(parent), m_symbol(symbol), m_size(size), m_color(std::move(color))
    {
        setFixedSize(int(std::ceil(size)), int(std::ceil(size)));
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.drawPixmap(rect(), LinearTheme::symbolPixmap(m_symbol, m_size, m_color(LinearPalette::of(this)), devicePixelRatioF()));
    }

private:
    QString m_symbol;
    qreal m_size;
    std::function<QColor(const LinearPalette &)> m_color;
};

// The icon tile of the header: the symbol on a rounded accent square.
class IconTile : public QWidget {
public:
    explicit IconTile(QWidget *parent) : QWidget(parent) { setFixedSize(32, 32); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        const LinearPalette pal = LinearPalette::of(this);
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(withAlpha(pal.accent(), 0.12));
        p.drawRoundedRect(rect(), 8, 8);
        const QRect icon(7, 7, 18, 18);
        p.drawPixmap(icon, LinearTheme::symbolPixmap(QStringLiteral("square.on.square.dashed"), 18, pal.accent(), devicePixelRatioF()));
    }
};

// One video of a group card.
class GroupRow : public QWidget {
public:
    GroupRow(int index, const VideoFile &video, bool copy, bool last, AppLanguage language, QWidget *parent)
        : QWidget(parent), m_id(video.id), m_last(last)
    {
        setObjectName(QStringLiteral("groupRow"));
        auto *row = new QHBoxLayout(this);
        row->setContentsMargins(12, 8, 12, 8);
        row->setSpacing(10);
        m_check = new QCheckBox(this);
        m_check->setObjectName(QStringLiteral("markCheckBox"));
        m_check->setProperty("videoID", video.id);
        row->addWidget(m_check);
        auto *texts = new QVBoxLayout;
        texts->setSpacing(2);
        auto *line = new QHBoxLayout;
        line->setSpacing(6);
        auto *name = new ThemedLabel(FileNames::display(video.name), sheetFont(12.5, QFont::Medium), Tone::label, this);
        name->setElideMode(Qt::ElideRight);
        line->addWidget(name, 0);
        const bool keep = index == 0;
        m_role = new QLabel(L10n::text(keep ? QStringLiteral("dup.original") : QStringLiteral("dup.copy"), language), this);
        m_role->setObjectName(QStringLiteral("roleLabel"));
        m_role->setFont(sheetFont(10, QFont::DemiBold));
        // A member that is no copy of the kept video (only like another member) is not called
        // one: the labels name exactly what Auto-Select marks.
        m_role->setVisible(keep || copy);
        m_keep = keep;
        line->addWidget(m_role, 0);
        line->addStretch(1);
        texts->addLayout(line);
        auto *path = new ThemedLabel(FileNames::display(video.directoryPath), sheetFont(11, QFont::Normal, LinearTheme::Design::monospaced),
                                     Tone::secondary, this);
        path->setElideMode(Qt::ElideMiddle);
        texts->addWidget(path);
        row->addLayout(texts, 1);
        auto *size = new ThemedLabel(formatByteCount(video.fileSize), sheetFont(11, QFont::Medium), Tone::secondary, this);
        row->addWidget(size);
        PlainButton::Look look;
        look.symbol = QStringLiteral("arrow.up.forward.square");
        look.symbolSize = 12;
        look.symbolTone = Tone::secondary;
        look.padding = QMarginsF(2, 2, 2, 2);
        auto *reveal = new PlainButton(look, {}, this);
        reveal->setObjectName(QStringLiteral("revealButton"));
        reveal->setToolTip(L10n::text(QStringLiteral("inspector.revealFinder"), language));
        const QUrl url = video.url();
        connect(reveal, &QAbstractButton::clicked, this, [url] { DesktopServices::revealInFileManager({url}); });
        row->addWidget(reveal);
        styleRole();
    }
    QCheckBox *check() const { return m_check; }
    const QString &id() const { return m_id; }
    QString roleText() const { return m_role->isVisibleTo(this) ? m_role->text() : QString(); }
    void setMarked(bool marked)
    {
        if (m_check->isChecked() != marked) {
            QSignalBlocker block(m_check);
            m_check->setChecked(marked);
        }
        update();
    }
    void styleRole()
    {
        const LinearPalette pal = LinearPalette::of(this);
        const QColor c = m_keep ? pal.systemGreen() : pal.systemOrange();
        m_role->setStyleSheet(QStringLiteral("QLabel#roleLabel { color: %1; background: %2; border-radius: 7px; padding: 1px 6px; }")
                                  .arg(colorCss(c), colorCss(withAlpha(c, 0.14))));
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        const LinearPalette pal = LinearPalette::of(this);
        if (m_check->isChecked()) p.fillRect(rect(), withAlpha(pal.systemRed(), 0.06));
        // The divider under every row but the last, inset past the checkbox.
        if (!m_last) p.fillRect(QRectF(36, height() - 1, width() - 36, 1), pal.separator());
    }
    void changeEvent(QEvent *event) override
    {
        if (event->type() == QEvent::PaletteChange) styleRole();
        QWidget::changeEvent(event);
    }

private:
    QString m_id;
    bool m_last;
    bool m_keep = false;
    QCheckBox *m_check;
    QLabel *m_role;
};

// The members a group calls copies: of identical files every one but the first; of similar
// ones only those that look like the first themselves (a member joined to it only through
// other members may look quite different). The labels and Auto-Select both read this.
QSet<QString> copiesOf(const DuplicateVideoGroup &g)
{
    QSet<QString> ids;
    for (qsizetype i = 1; i < g.videos.size(); ++i) ids.insert(g.videos[i].id);
    return ids;
}

QSet<QString> copiesOf(const SimilarVideoGroup &g)
{
    return g.videos.size() > 1 ? g.linkedTo(g.videos.first().id) : QSet<QString>{};
}

int roundPercent(double fraction) { return int(std::round(fraction * 100.0)); }

// The members still in the library. A member whose file the library now records with
// another size (replaced by a trimmed or compressed result) is no copy of the others.
template <typename Group>
QList<Group> keepPresent(const QList<Group> &groups, const QHash<QString, qint64> &present, bool sameSize)
{
    QList<Group> out;
    for (Group g : groups) {
        QList<VideoFile> kept;
        for (const VideoFile &v : g.videos) {
            const auto it = present.constFind(v.id);
            if (it != present.cend() && (!sameSize || *it == v.fileSize)) kept.append(v);
        }
        if (kept.size() < 2) continue;
        g.videos = kept;
        out.append(g);
    }
    return out;
}

} // namespace

// ---- group card ----

DuplicateGroupCard::DuplicateGroupCard(const QString &title, const QString &detail, const QList<VideoFile> &videos,
                                       const QSet<QString> &copies, AppLanguage language, QWidget *parent)
    : QWidget(parent), m_title(title), m_detail(detail)
{
    setObjectName(QStringLiteral("groupCard"));
    auto *col = new QVBoxLayout(this);
    col->setContentsMargins(0, 0, 0, 0);
    col->setSpacing(0);
    auto *header = new QWidget(this);
    header->setObjectName(QStringLiteral("cardHeader"));
    auto *h = new QHBoxLayout(header);
    h->setContentsMargins(12, 8, 12, 8);
    h->addWidget(new ThemedLabel(title, sheetFont(11.5, QFont::DemiBold), Tone::label, header));
    h->addStretch(1);
    h->addWidget(new ThemedLabel(detail, sheetFont(11, QFont::Medium), Tone::secondary, header));
    col->addWidget(header);
    auto *divider = new QWidget(this);
    divider->setObjectName(QStringLiteral("cardDivider"));
    divider->setFixedHeight(1);
    col->addWidget(divider);
    for (qsizetype i = 0; i < videos.size(); ++i) {
        auto *row = new GroupRow(int(i), videos[i], copies.contains(videos[i].id), i + 1 == videos.size(), language, this);
        connect(row->check(), &QCheckBox::toggled, this, [this, id = videos[i].id](bool on) { emit markToggled(id, on); });
        col->addWidget(row);
    }
}

QList<QAbstractButton *> DuplicateGroupCard::checkBoxes() const
{
    QList<QAbstractButton *> out;
    for (QObject *o : children())
        if (auto *row = dynamic_cast<GroupRow *>(o)) out.append(row->check());
    return out;
}

QStringList DuplicateGroupCard::roleTexts() const
{
    QStringList out;
    for (QObject *o : children())
        if (auto *row = dynamic_cast<GroupRow *>(o)) out.append(row->roleText());
    return out;
}

void DuplicateGroupCard::setMarks(const QSet<QString> &marked)
{
    for (QObject *o : children())
        if (auto *row = dynamic_cast<GroupRow *>(o)) row->setMarked(marked.contains(row->id()));
}

void DuplicateGroupCard::paintEvent(QPaintEvent *)
{
    const LinearPalette pal = LinearPalette::of(this);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);
    p.setClipPath(shape);
    if (auto *header = findChild<QWidget *>(QStringLiteral("cardHeader"))) p.fillRect(header->geometry(), pal.controlBackground());
    if (auto *divider = findChild<QWidget *>(QStringLiteral("cardDivider"))) p.fillRect(divider->geometry(), pal.separator());
    p.setClipping(false);
    p.setPen(QPen(pal.separator(), 1));
    p.setBrush(Qt::NoBrush);
    p.drawPath(shape);
}

// ---- the sheet ----

DuplicatesSheetView::DuplicatesSheetView(AppState *state, QWidget *parent) : QDialog(parent), m_state(state)
{
    setFixedSize(740, 560);
    auto *root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    // Header.
    auto *header = new QHBoxLayout;
    header->setContentsMargins(16, 16, 16, 16);
    header->setSpacing(12);
    header->addWidget(new IconTile(this));
    auto *titles = new QVBoxLayout;
    titles->setSpacing(2);
    m_title = new ThemedLabel({}, sheetFont(15, QFont::DemiBold), Tone::label, this);
    m_subtitle = new ThemedLabel({}, sheetFont(11.5), Tone::secondary, this);
    // Beside a wide summary badge the subtitle takes a second line rather than losing words.
    m_subtitle->setWordWrap(true, 2);
    titles->addWidget(m_title);
    titles->addWidget(m_subtitle);
    header->addLayout(titles);
    header->addStretch(1);
    m_summary = new QLabel(this);
    m_summary->setObjectName(QStringLiteral("summaryBadge"));
    m_summary->setFont(sheetFont(11.5, QFont::Medium));
    header->addWidget(m_summary);
    PlainButton::Look closeLook;
    closeLook.symbol = QStringLiteral("xmark");
    closeLook.symbolSize = 11;
    closeLook.circle = true;
    closeLook.padding = QMarginsF(6.5, 6.5, 6.5, 6.5);
    closeLook.fill = [](const LinearPalette &p, bool) { return p.neutral(0.06, 0.06); };
    m_close = new PlainButton(closeLook, {}, this);
    m_close->setObjectName(QStringLiteral("closeButton"));
    m_close->setFixedSize(24, 24);
    connect(m_close, &QAbstractButton::clicked, this, &DuplicatesSheetView::closeSheet);
    header->addWidget(m_close);
    root->addLayout(header);

    // Tab bar and similarity control.
    auto *tabs = new QHBoxLayout;
    tabs->setContentsMargins(16, 0, 16, 12);
    tabs->setSpacing(12);
    auto *segments = new QWidget(this);
    segments->setObjectName(QStringLiteral("tabPicker"));
    segments->setFixedWidth(340);
    auto *seg = new QHBoxLayout(segments);
    seg->setContentsMargins(0, 0, 0, 0);
    seg->setSpacing(0);
    auto makeSegment = [&](const char *name) {
        auto *b = new QPushButton(segments);
        b->setObjectName(QLatin1String(name));
        b->setCheckable(true);
        b->setAutoExclusive(true);
        b->setFont(sheetFont(11.5, QFont::Medium));
        seg->addWidget(b, 1);
        return b;
    };
    m_tabExact = makeSegment("tabExact");
    m_tabSimilar = makeSegment("tabSimilar");
    m_tabExact->setChecked(true);
    connect(m_tabExact, &QAbstractButton::clicked, this, [this] { setActiveTab(DuplicateTab::exact); });
    connect(m_tabSimilar, &QAbstractButton::clicked, this, [this] { setActiveTab(DuplicateTab::similar); });
    tabs->addWidget(segments);
    tabs->addStretch(1);
    m_similarityControl = new QWidget(this);
    auto *sim = new QHBoxLayout(m_similarityControl);
    sim->setContentsMargins(0, 0, 0, 0);
    sim->setSpacing(8);
    m_similarityLabel = new QLabel(m_similarityControl);
    m_similarityLabel->setObjectName(QStringLiteral("similarityLabel"));
    m_similarityLabel->setFont(sheetFont(11, QFont::Medium));
    m_slider = new QSlider(Qt::Horizontal, m_similarityControl);
    m_slider->setObjectName(QStringLiteral("similaritySlider"));
    m_slider->setRange(kMinPercent, kMaxPercent);
    m_slider->setSingleStep(1);
    m_slider->setPageStep(1);
    m_slider->setValue(m_percent);
    m_slider->setFixedWidth(110);
    connect(m_slider, &QSlider::valueChanged, this, &DuplicatesSheetView::setSimilarityPercent);
    sim->addWidget(m_similarityLabel);
    sim->addWidget(m_slider);
    tabs->addWidget(m_similarityControl);
    root->addLayout(tabs);

    auto divider = [this] {
        auto *d = new QWidget(this);
        d->setObjectName(QStringLiteral("divider"));
        d->setFixedHeight(1);
        return d;
    };
    root->addWidget(divider());

    // Content pages.
    m_stack = new QStackedWidget(this);
    auto centred = [this](QWidget *page, int spacing) {
        auto *col = new QVBoxLayout(page);
        col->setSpacing(spacing);
        col->addStretch(1);
        return col;
    };
    {
        auto *page = new QWidget;
        page->setObjectName(QStringLiteral("exactScanning"));
        auto *col = centred(page, 14);
        m_progress = new QProgressBar(page);
        m_progress->setRange(0, 1000);
        m_progress->setTextVisible(false);
        m_progress->setFixedWidth(280);
        col->addWidget(m_progress, 0, Qt::AlignHCenter);
        m_scanningText = new ThemedLabel({}, sheetFont(13, QFont::Medium), Tone::label, page);
        col->addWidget(m_scanningText, 0, Qt::AlignHCenter);
        m_stageText = new ThemedLabel({}, sheetFont(11.5), Tone::secondary, page);
        m_stageText->setObjectName(QStringLiteral("stageText"));
        col->addWidget(m_stageText, 0, Qt::AlignHCenter);
        col->addStretch(1);
        m_stack->addWidget(page);
    }
    {
        auto *page = new QWidget;
        page->setObjectName(QStringLiteral("similarScanning"));
        auto *col = centred(page, 12);
        auto *busy = new QProgressBar(page);
        busy->setRange(0, 0);
        busy->setTextVisible(false);
        busy->setFixedWidth(120);
        col->addWidget(busy, 0, Qt::AlignHCenter);
        m_similarScanningText = new ThemedLabel({}, sheetFont(13, QFont::Medium), Tone::label, page);
        col->addWidget(m_similarScanningText, 0, Qt::AlignHCenter);
        col->addStretch(1);
        m_stack->addWidget(page);
    }
    {
        auto *page = new QWidget;
        page->setObjectName(QStringLiteral("needIndex"));
        auto *col = centred(page, 12);
        col->addWidget(new SymbolLabel(QStringLiteral("sparkle.magnifyingglass"), 32,
                                       [](const LinearPalette &p) { return p.secondaryLabel(); }, page),
                       0, Qt::AlignHCenter);
        m_needIndexText = new ThemedLabel({}, sheetFont(13), Tone::secondary, page);
        m_needIndexText->setWordWrap(true);
        m_needIndexText->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
        m_needIndexText->setFixedWidth(380);
        col->addWidget(m_needIndexText, 0, Qt::AlignHCenter);
        auto *button = new QPushButton(page);
        button->setObjectName(QStringLiteral("indexNowButton"));
        button->setDefault(true);
        m_indexNow = button;
        connect(button, &QPushButton::clicked, this, [this] {
            if (m_state) m_state->startAIIndexingIfNeeded();
            closeSheet();
        });
        col->addWidget(button, 0, Qt::AlignHCenter);
        col->addStretch(1);
        m_stack->addWidget(page);
    }
    {
        auto *page = new QWidget;
        page->setObjectName(QStringLiteral("empty"));
        auto *col = centred(page, 10);
        col->addWidget(new SymbolLabel(QStringLiteral("checkmark.seal.fill"), 36,
                                       [](const LinearPalette &p) { return p.systemGreen(); }, page),
                       0, Qt::AlignHCenter);
        m_emptyTitle = new ThemedLabel({}, sheetFont(15, QFont::DemiBold), Tone::label, page);
        m_emptySubtitle = new ThemedLabel({}, sheetFont(12.5), Tone::secondary, page);
        col->addWidget(m_emptyTitle, 0, Qt::AlignHCenter);
        col->addWidget(m_emptySubtitle, 0, Qt::AlignHCenter);
        col->addStretch(1);
        m_stack->addWidget(page);
    }
    {
        m_scroll = new QScrollArea;
        m_scroll->setObjectName(QStringLiteral("list"));
        m_scroll->setWidgetResizable(true);
        m_scroll->setFrameShape(QFrame::NoFrame);
        m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        m_scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        m_listBody = new QWidget;
        m_listBody->setObjectName(QStringLiteral("listBody"));
        m_listLayout = new QVBoxLayout(m_listBody);
        m_listLayout->setContentsMargins(16, 16, 16, 16);
        m_listLayout->setSpacing(12);
        m_listLayout->addStretch(1);
        m_scroll->setWidget(m_listBody);
        m_scroll->viewport()->setAutoFillBackground(false);
        m_listBody->setAutoFillBackground(false);
        // Cards are built as the list scrolls towards its end.
        connect(m_scroll->verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
            if (value >= m_scroll->verticalScrollBar()->maximum() - 400) appendCards(kCardBatch);
        });
        m_stack->addWidget(m_scroll);
    }
    root->addWidget(m_stack, 1);
    root->addWidget(divider());

    // Footer.
    auto *footer = new QHBoxLayout;
    footer->setContentsMargins(16, 12, 16, 12);
    footer->setSpacing(10);
    const auto footerButton = [this, footer](const char *name, void (DuplicatesSheetView::*action)()) {
        auto *button = new QPushButton(this);
        button->setObjectName(QLatin1String(name));
        button->setAutoDefault(false);
        connect(button, &QPushButton::clicked, this, action);
        footer->addWidget(button);
        return button;
    };
    m_autoSelect = footerButton("autoSelectButton", &DuplicatesSheetView::autoSelectCopies);
    m_footerNote = new ThemedLabel({}, sheetFont(11), Tone::secondary, this);
    m_footerNote->setObjectName(QStringLiteral("footerNote"));
    footer->addWidget(m_footerNote);
    footer->addStretch(1);
    // The trash button comes and goes with the marks, so it stands left of "Close": Close keeps
    // its corner, and a click aimed at it never lands on the trash button. Its room is kept
    // while it is hidden, so the footer's height (and Close) never shifts.
    m_trash = footerButton("trashButton", &DuplicatesSheetView::trashSelected);
    QSizePolicy keepRoom = m_trash->sizePolicy();
    keepRoom.setRetainSizeWhenHidden(true);
    m_trash->setSizePolicy(keepRoom);
    m_done = footerButton("doneButton", &DuplicatesSheetView::closeSheet);
    root->addLayout(footer);

    if (m_state) {
        connect(m_state, &AppState::languageChanged, this, [this] {
            retranslate();
            m_listDirty = true;
            refresh();
        });
        // Whatever leaves the library (a Trash move, a rescan) leaves the groups too.
        connect(m_state, &AppState::allVideosChanged, this, &DuplicatesSheetView::applyAgainstLibrary);
        connect(m_state, &AppState::indexedVideoCountChanged, this, &DuplicatesSheetView::refresh);
        // Pairs from another index are stale; the next search computes them again.
        connect(m_state, &AppState::aiIndexEntriesChanged, this, [this] { m_pairs = {}; });
        connect(m_state, &AppState::isMobileCLIPInstalledChanged, this, &DuplicatesSheetView::refresh);
    }
    retranslate();
    refresh();
    // The exact scan starts as soon as the sheet is there; there is no scan button.
    QMetaObject::invokeMethod(this, &DuplicatesSheetView::startExactScan, Qt::QueuedConnection);
}

DuplicatesSheetView::~DuplicatesSheetView() { cancelScan(); }

void DuplicatesSheetView::hideEvent(QHideEvent *event)
{
    cancelScan();
    QDialog::hideEvent(event);
}

void DuplicatesSheetView::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange) QMetaObject::invokeMethod(this, &DuplicatesSheetView::refresh, Qt::QueuedConnection);
    QDialog::changeEvent(event);
}

void DuplicatesSheetView::paintEvent(QPaintEvent *)
{
    const LinearPalette pal = LinearPalette::of(this);
    QPainter p(this);
    p.fillRect(rect(), pal.windowBackground());
    for (QWidget *d : findChildren<QWidget *>(QStringLiteral("divider"), Qt::FindDirectChildrenOnly))
        p.fillRect(d->geometry(), pal.separator());
}

// ---- the exact scan ----

void DuplicatesSheetView::startExactScan()
{
    cancelScan();
    m_isScanning = true;
    m_scanProgress = 0.02;
    refresh();
    const QList<VideoFile> snapshot = m_state ? m_state->allVideos() : QList<VideoFile>{};
    m_scanJob = DuplicateVideoService::startScan(snapshot, this);
    m_scanJob->onEvent(this, [this](const DuplicateScanEvent &e) { applyScanEvent(e); });
    connect(m_scanJob, &BackgroundJob::finished, m_scanJob, &QObject::deleteLater);
}

void DuplicatesSheetView::cancelScan()
{
    if (m_scanJob) m_scanJob->cancel();
}

void DuplicatesSheetView::applyScanEvent(const DuplicateScanEvent &event)
{
    if (event.kind == DuplicateScanEvent::Kind::progress) {
        // Many of these arrive while files are read: only the bar and the stage line change.
        m_scanProgress = event.fraction;
        m_scanStage = event.stage;
        m_progress->setValue(int(std::lround(m_scanProgress * 1000)));
        m_stageText->setText(m_scanStage);
        m_stageText->setVisible(!m_scanStage.isEmpty());
        return;
    }
    m_exactGroups = event.groups;
    m_unreadableCount = event.unreadableCount;
    m_isScanning = false;
    m_listDirty = true;
    // The library may have changed while the files were read.
    applyAgainstLibrary();
    if (m_activeTab == DuplicateTab::exact) autoSelectCopies();
    refresh();
}

// ---- similar search ----

void DuplicatesSheetView::startSimilarScan()
{
    m_isScanningSimilar = true;
    const quint64 generation = ++m_similarGeneration;
    const float threshold = float(similarityThreshold());
    if (!m_pairs.valid()) {
        // Pairs at the lowest threshold the slider offers, once; every later search, at
        // any slider value, only filters them.
        auto promise = std::make_shared<std::promise<std::shared_ptr<const SimilarityPairs>>>();
        m_pairs = promise->get_future().share();
        const QList<VideoFile> videos = m_state ? m_state->allVideos() : QList<VideoFile>{};
        const VisualIndexMap entries = m_state ? m_state->aiIndexEntries() : VisualIndexMap{};
        std::thread([promise, videos, entries] {
            promise->set_value(std::make_shared<const SimilarityPairs>(
                DuplicateVideoService::similarPairs(videos, entries, float(kMinPercent / 100.0))));
        }).detach();
    }
    QSet<QString> present;
    if (m_state)
        for (const VideoFile &v : m_state->allVideos()) present.insert(v.id);
    QPointer<DuplicatesSheetView> self(this);
    auto pairs = m_pairs;
    // A thread of its own: it may wait a while for the pairs, and must not hold up the
    // shared pool (thumbnails, metadata) meanwhile.
    std::thread([self, pairs, threshold, present, generation] {
        const auto computed = pairs.get();
        QList<SimilarVideoGroup> groups = DuplicateVideoService::similarGroups(
            *computed, threshold, [&](const VideoFile &v) { return present.contains(v.id); });
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, generation, groups = std::move(groups)]() mutable {
                if (self) self->applySimilarResult(generation, std::move(groups));
            },
            Qt::QueuedConnection);
    }).detach();
    refresh();
}

void DuplicatesSheetView::applySimilarResult(quint64 generation, QList<SimilarVideoGroup> groups)
{
    // An older search that answers late is dropped; the newest one ends the searching state.
    if (generation != m_similarGeneration) return;
    m_similarGroups = std::move(groups);
    m_isScanningSimilar = false;
    m_listDirty = true;
    applyAgainstLibrary();
    if (m_activeTab == DuplicateTab::similar) autoSelectCopies();
    refresh();
}

// ---- marks and totals ----

void DuplicatesSheetView::setActiveTab(DuplicateTab tab)
{
    if (tab == m_activeTab) {
        refresh();
        return;
    }
    m_activeTab = tab;
    m_selectedForTrash.clear();
    m_trashFailures = 0;
    m_listDirty = true;
    if (tab == DuplicateTab::similar)
        startSimilarScan();
    else
        autoSelectCopies();
    refresh();
}

void DuplicatesSheetView::setSimilarityPercent(int percent)
{
    percent = std::clamp(percent, int(kMinPercent), int(kMaxPercent));
    if (percent == m_percent) return;
    m_percent = percent;
    if (m_slider->value() != percent) {
        QSignalBlocker block(m_slider);
        m_slider->setValue(percent);
    }
    startSimilarScan();
}

void DuplicatesSheetView::setMarked(const QString &videoID, bool marked)
{
    if (marked)
        m_selectedForTrash.insert(videoID);
    else
        m_selectedForTrash.remove(videoID);
    refreshMarks();
}

void DuplicatesSheetView::autoSelectCopies()
{
    QSet<QString> ids;
    if (m_activeTab == DuplicateTab::similar)
        for (const SimilarVideoGroup &g : m_similarGroups) ids.unite(copiesOf(g));
    else
        for (const DuplicateVideoGroup &g : m_exactGroups) ids.unite(copiesOf(g));
    m_selectedForTrash = ids;
    refreshMarks();
}

int DuplicatesSheetView::activeGroupCount() const
{
    return int(m_activeTab == DuplicateTab::similar ? m_similarGroups.size() : m_exactGroups.size());
}

qint64 DuplicatesSheetView::reclaimableTotal() const
{
    qint64 sum = 0;
    if (m_activeTab == DuplicateTab::similar) {
        for (const SimilarVideoGroup &g : m_similarGroups) sum += DuplicateVideoService::reclaimableBytes(g.videos);
    } else {
        for (const DuplicateVideoGroup &g : m_exactGroups)
            if (g.videos.size() >= 2) sum += g.fileSize * qint64(g.videos.size() - 1);
    }
    return sum;
}

QList<VideoFile> DuplicatesSheetView::markedVideos() const
{
    QList<VideoFile> out;
    auto collect = [&](const QList<VideoFile> &videos) {
        for (const VideoFile &v : videos)
            if (m_selectedForTrash.contains(v.id)) out.append(v);
    };
    if (m_activeTab == DuplicateTab::similar)
        for (const SimilarVideoGroup &g : m_similarGroups) collect(g.videos);
    else
        for (const DuplicateVideoGroup &g : m_exactGroups) collect(g.videos);
    return out;
}

qint64 DuplicatesSheetView::selectedBytes() const
{
    qint64 sum = 0;
    for (const VideoFile &v : markedVideos()) sum += v.fileSize;
    return sum;
}

// ---- Trash ----

void DuplicatesSheetView::trashSelected()
{
    // Marks act only on the groups on screen.
    if (markedVideos().isEmpty() || !m_state || contentState() != QLatin1String("list")) return;
    if (m_activeTab == DuplicateTab::similar)
        askToTrashSimilar();
    else
        trashMarked();
}

void DuplicatesSheetView::askToTrashSimilar()
{
    if (m_confirm) return;
    const AppLanguage lang = m_state->language();
    const QList<VideoFile> videos = markedVideos();
    qint64 bytes = 0;
    for (const VideoFile &v : videos) bytes += v.fileSize;
    auto *box = new QMessageBox(this);
    m_confirm = box;
    box->setObjectName(QStringLiteral("similarTrashConfirm"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(L10n::text(QStringLiteral("dup.confirmSimilarTitle"), lang));
    box->setText(L10n::text(QStringLiteral("dup.confirmSimilarTitle"), lang));
    box->setInformativeText(QString::number(videos.size()) + ' ' + L10n::text(QStringLiteral("toolbar.videos"), lang) +
                            QStringLiteral(" \u00b7 ") + formatByteCount(bytes) + QStringLiteral("\n\n") +
                            L10n::text(QStringLiteral("dup.confirmSimilarNote"), lang));
    QPushButton *cancel = box->addButton(L10n::text(QStringLiteral("toolbar.cancel"), lang), QMessageBox::RejectRole);
    cancel->setObjectName(QStringLiteral("confirmCancel"));
    QPushButton *confirm = box->addButton(L10n::text(QStringLiteral("dup.trashSelected"), lang), QMessageBox::DestructiveRole);
    confirm->setObjectName(QStringLiteral("confirmTrash"));
    // Return and Escape both keep the files: only a click on the red button trashes.
    box->setDefaultButton(cancel);
    box->setEscapeButton(cancel);
    // What was asked about is what goes: if the marks changed meanwhile, nothing goes.
    const QSet<QString> asked = m_selectedForTrash;
    connect(box, &QMessageBox::buttonClicked, this, [this, confirm, asked](QAbstractButton *b) {
        if (b == confirm && asked == m_selectedForTrash) trashMarked();
    });
    box->open();
}

void DuplicatesSheetView::trashMarked()
{
    const QList<VideoFile> marked = markedVideos();
    if (marked.isEmpty() || !m_state) return;
    // Never every copy of an identical group, whichever tab marked them, and nothing that
    // changed on disk since the scan: asked of the disk now, not of the scan's results.
    const auto check = DuplicateVideoService::checkBeforeTrash(
        m_exactGroups, marked, [this](const VideoFile &v) { return bool(m_state->videoWithID(v.id)); });
    const QList<VideoFile> &videos = check.toTrash;
    if (!videos.isEmpty()) m_state->moveSelectedToTrash(videos);
    // Only files that really left the library leave the groups (the library change prunes
    // them); the others are counted and shown.
    int failed = int(check.changed.size());
    for (const VideoFile &v : videos)
        if (m_state->videoWithID(v.id)) ++failed;
    m_trashFailures = failed;
    applyAgainstLibrary();
    m_selectedForTrash.clear();
    m_listDirty = true;
    refresh();
}

void DuplicatesSheetView::applyAgainstLibrary()
{
    if (!m_state) return;
    QHash<QString, qint64> present;
    for (const VideoFile &v : m_state->allVideos()) present.insert(v.id, v.fileSize);
    const auto exact = keepPresent(m_exactGroups, present, true);
    auto similar = keepPresent(m_similarGroups, present, false);
    for (SimilarVideoGroup &g : similar) {
        QList<std::pair<QString, QString>> links;
        for (const auto &l : g.links)
            if (present.contains(l.first) && present.contains(l.second)) links.append(l);
        g.links = links;
    }
    // Marks live only on rows shown: a member that left its group (or the library) is unmarked.
    QSet<QString> shown;
    if (m_activeTab == DuplicateTab::similar)
        for (const SimilarVideoGroup &g : similar)
            for (const VideoFile &v : g.videos) shown.insert(v.id);
    else
        for (const DuplicateVideoGroup &g : exact)
            for (const VideoFile &v : g.videos) shown.insert(v.id);
    QSet<QString> marks;
    for (const QString &id : std::as_const(m_selectedForTrash))
        if (shown.contains(id)) marks.insert(id);
    if (exact == m_exactGroups && similar == m_similarGroups && marks == m_selectedForTrash) return;
    m_exactGroups = exact;
    m_similarGroups = similar;
    m_selectedForTrash = marks;
    m_listDirty = true;
    refresh();
}

void DuplicatesSheetView::closeSheet()
{
    cancelScan();
    reject();
}

// ---- texts ----

QString DuplicatesSheetView::summaryText() const
{
    const AppLanguage lang = m_state ? m_state->language() : AppLanguage::en;
    return QString::number(activeGroupCount()) + ' ' + L10n::text(QStringLiteral("dup.groups"), lang) +
           QStringLiteral(" \u00b7 ") + formatByteCount(reclaimableTotal()) + ' ' +
           L10n::text(QStringLiteral("dup.reclaimable"), lang);
}

QString DuplicatesSheetView::similarityLabelText() const
{
    const AppLanguage lang = m_state ? m_state->language() : AppLanguage::en;
    return L10n::text(QStringLiteral("dup.similarity"), lang) + QStringLiteral(": ") + QString::number(m_percent) + '%';
}

QString DuplicatesSheetView::trashButtonText() const
{
    const AppLanguage lang = m_state ? m_state->language() : AppLanguage::en;
    // Count and size of the same videos: the marked ones of the groups shown.
    return L10n::text(QStringLiteral("dup.trashSelected"), lang) + QStringLiteral(" (") +
           QString::number(markedVideos().size()) + QStringLiteral(" \u00b7 ") + formatByteCount(selectedBytes()) + ')';
}

QString DuplicatesSheetView::emptyTitle() const
{
    const AppLanguage lang = m_state ? m_state->language() : AppLanguage::en;
    if (m_activeTab == DuplicateTab::similar) return L10n::text(QStringLiteral("dup.similarNone"), lang);
    // Files that could not be read may well be copies: no claim that there are none.
    return L10n::text(m_unreadableCount > 0 ? QStringLiteral("dup.noneAmongReadable") : QStringLiteral("dup.none"), lang);
}

QString DuplicatesSheetView::emptySubtitle() const
{
    const AppLanguage lang = m_state ? m_state->language() : AppLanguage::en;
    if (m_activeTab == DuplicateTab::exact && m_unreadableCount > 0)
        return QString::number(m_unreadableCount) + ' ' + L10n::text(QStringLiteral("dup.unreadable"), lang);
    return L10n::text(QStringLiteral("dup.noneSub"), lang);
}

QString DuplicatesSheetView::contentState() const
{
    if (m_activeTab == DuplicateTab::similar) {
        if (!m_state || m_state->indexedVideoCount() < 2) return QStringLiteral("needIndex");
        if (m_isScanningSimilar) return QStringLiteral("similarScanning");
        return m_similarGroups.isEmpty() ? QStringLiteral("empty") : QStringLiteral("list");
    }
    if (m_isScanning) return QStringLiteral("exactScanning");
    return m_exactGroups.isEmpty() ? QStringLiteral("empty") : QStringLiteral("list");
}

QList<DuplicateGroupCard *> DuplicatesSheetView::cards() const
{
    return m_listBody->findChildren<DuplicateGroupCard *>(QString(), Qt::FindDirectChildrenOnly);
}

void DuplicatesSheetView::retranslate()
{
    const AppLanguage lang = m_state ? m_state->language() : AppLanguage::en;
    auto t = [lang](const char *key) { return L10n::text(QLatin1String(key), lang); };
    setWindowTitle(t("dup.title"));
    m_title->setText(t("dup.title"));
    m_subtitle->setText(t("dup.subtitle"));
    m_subtitle->setMinimumWidth(300);
    m_tabExact->setText(t("dup.tabExact"));
    m_tabSimilar->setText(t("dup.tabSimilar"));
    m_scanningText->setText(t("dup.scanning"));
    m_similarScanningText->setText(t("dup.scanning"));
    m_needIndexText->setText(t("dup.needIndex"));
    m_needIndexText->setFixedHeight(m_needIndexText->heightForWidth(380));
    m_indexNow->setText(t("ai.indexNow"));
    m_autoSelect->setText(t("dup.autoSelect"));
    m_done->setText(t("dup.done"));
}

void DuplicatesSheetView::refresh()
{
    const LinearPalette pal = LinearPalette::of(this);
    const AppLanguage lang = m_state ? m_state->language() : AppLanguage::en;
    const bool similar = m_activeTab == DuplicateTab::similar;
    {
        QSignalBlocker a(m_tabExact), b(m_tabSimilar);
        m_tabExact->setChecked(!similar);
        m_tabSimilar->setChecked(similar);
    }
    const QString segmentCss = QStringLiteral(
        "QPushButton { border: 1px solid %1; padding: 4px 8px; background: %2; color: %3; }"
        "QPushButton:checked { background: %4; color: %5; }"
        "QPushButton#tabExact { border-top-left-radius: 6px; border-bottom-left-radius: 6px; border-right: none; }"
        "QPushButton#tabSimilar { border-top-right-radius: 6px; border-bottom-right-radius: 6px; }");
    m_tabExact->parentWidget()->setStyleSheet(segmentCss.arg(colorCss(pal.separator()), colorCss(pal.neutral(0.04, 0.03)),
                                                             colorCss(pal.secondaryLabel()), colorCss(pal.accentFill()),
                                                             colorCss(pal.label())));

    // Summary badge.
    const int groups = activeGroupCount();
    m_summary->setVisible(groups >= 1);
    if (groups >= 1) {
        m_summary->setText(QStringLiteral("<span style='color:%1'>%2 %3</span> <span style='color:%4'>\u00b7</span> "
                                          "<span style='color:%5; font-weight:600'>%6 %7</span>")
                               .arg(colorCss(pal.secondaryLabel()))
                               .arg(groups)
                               .arg(L10n::text(QStringLiteral("dup.groups"), lang).toHtmlEscaped(),
                                    colorCss(pal.tertiaryLabel()), colorCss(pal.accent()),
                                    formatByteCount(reclaimableTotal()),
                                    L10n::text(QStringLiteral("dup.reclaimable"), lang).toHtmlEscaped()));
        m_summary->setStyleSheet(QStringLiteral("QLabel#summaryBadge { background: %1; border-radius: 11px; padding: 5px 10px; }")
                                     .arg(colorCss(withAlpha(pal.accent(), 0.1))));
    }

    m_similarityControl->setVisible(similar);
    m_similarityLabel->setText(similarityLabelText());
    m_similarityLabel->setStyleSheet(QStringLiteral("color: %1").arg(colorCss(pal.secondaryLabel())));

    // Content.
    const QString state = contentState();
    for (int i = 0; i < m_stack->count(); ++i)
        if (m_stack->widget(i)->objectName() == state) m_stack->setCurrentIndex(i);
    m_progress->setValue(int(std::lround(m_scanProgress * 1000)));
    m_stageText->setText(m_scanStage);
    m_stageText->setVisible(!m_scanStage.isEmpty());
    m_indexNow->setVisible(m_state && m_state->isMobileCLIPInstalled());
    m_emptyTitle->setText(emptyTitle());
    m_emptySubtitle->setText(emptySubtitle());
    if (state == QLatin1String("list") && m_listDirty) rebuildList();

    // Footer.
    m_autoSelect->setVisible(groups >= 1);
    QStringList notes;
    if (!similar && m_unreadableCount > 0 && groups >= 1)
        notes << QString::number(m_unreadableCount) + ' ' + L10n::text(QStringLiteral("dup.unreadable"), lang);
    if (m_trashFailures > 0)
        notes << QString::number(m_trashFailures) + ' ' + L10n::text(QStringLiteral("dup.trashFailed"), lang);
    m_footerNote->setText(notes.join(QStringLiteral(" \u00b7 ")));
    m_footerNote->setTone(m_trashFailures > 0 ? Tone::red : Tone::secondary);
    m_footerNote->setVisible(!notes.isEmpty());
    refreshMarks();
}

void DuplicatesSheetView::refreshMarks()
{
    const LinearPalette pal = LinearPalette::of(this);
    // No marks while a new search runs: the groups they were made on are no longer shown.
    m_trash->setVisible(!m_selectedForTrash.isEmpty() && contentState() == QLatin1String("list"));
    m_trash->setText(trashButtonText());
    m_trash->setIcon(QIcon(LinearTheme::symbolPixmap(QStringLiteral("trash"), 13, Qt::white, devicePixelRatioF())));
    const QColor red = pal.systemRed();
    m_trash->setStyleSheet(QStringLiteral("QPushButton#trashButton { background: %1; color: white; border: none; "
                                          "border-radius: 6px; padding: 5px 12px; }"
                                          "QPushButton#trashButton:pressed { background: %2; }")
                               .arg(colorCss(red), colorCss(red.darker(115))));
    for (DuplicateGroupCard *card : cards()) card->setMarks(m_selectedForTrash);
}

void DuplicatesSheetView::rebuildList()
{
    m_listDirty = false;
    for (DuplicateGroupCard *card : cards()) delete card;
    m_builtCards = 0;
    m_scroll->verticalScrollBar()->setValue(0);
    appendCards(kCardBatch);
}

void DuplicatesSheetView::appendCards(int count)
{
    const AppLanguage lang = m_state ? m_state->language() : AppLanguage::en;
    const bool similar = m_activeTab == DuplicateTab::similar;
    const int total = activeGroupCount();
    const int end = std::min(total, m_builtCards + count);
    for (int i = m_builtCards; i < end; ++i) {
        QString title, detail;
        QList<VideoFile> videos;
        if (similar) {
            const SimilarVideoGroup &g = m_similarGroups[i];
            videos = g.videos;
            title = QString::number(videos.size()) + ' ' + L10n::text(QStringLiteral("toolbar.videos"), lang) +
                    QStringLiteral(" \u00b7 ") + QString::number(roundPercent(g.averageSimilarity)) + QStringLiteral("% ") +
                    L10n::text(QStringLiteral("dup.similarity"), lang);
            detail = '+' + formatByteCount(DuplicateVideoService::reclaimableBytes(videos)) + ' ' +
                     L10n::text(QStringLiteral("dup.reclaimable"), lang);
        } else {
            const DuplicateVideoGroup &g = m_exactGroups[i];
            videos = g.videos;
            title = QString::number(videos.size()) + QStringLiteral("\u00d7 ") + formatByteCount(g.fileSize);
            detail = '+' + formatByteCount(videos.size() >= 2 ? g.fileSize * qint64(videos.size() - 1) : 0) + ' ' +
                     L10n::text(QStringLiteral("dup.reclaimable"), lang);
        }
        auto *card = new DuplicateGroupCard(title, detail, videos,
                                            similar ? copiesOf(m_similarGroups[i]) : copiesOf(m_exactGroups[i]), lang,
                                            m_listBody);
        card->setMarks(m_selectedForTrash);
        connect(card, &DuplicateGroupCard::markToggled, this, &DuplicatesSheetView::setMarked);
        m_listLayout->insertWidget(m_listLayout->count() - 1, card);
    }
    m_builtCards = end;
}

QDialog *makeDuplicatesSheet(AppState *state, QWidget *parent) { return new DuplicatesSheetView(state, parent); }
