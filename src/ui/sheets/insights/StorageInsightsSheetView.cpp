#include "ui/sheets/insights/StorageInsightsSheetView.h"

#include "library/L10n.h"
#include "platform/DesktopServices.h"
#include "ui/Controls.h"
#include "ui/sheets/SheetControls.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QScrollBar>
#include <QCoreApplication>
#include <QThreadPool>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

QColor withAlpha(QColor c, qreal alpha)
{
    c.setAlphaF(float(c.alphaF() * alpha));
    return c;
}

QString count(qsizetype n) { return QString::number(qlonglong(n)); }

// The icon of the header on its faint accent tile.
class HeaderIcon : public QWidget {
public:
    explicit HeaderIcon(QWidget *parent) : QWidget(parent) { setFixedSize(32, 32); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QColor accent = LinearPalette::of(this).accent();
        p.fillPath(LinearTheme::roundedRect(QRectF(rect()), 8), withAlpha(accent, 0.12));
        LinearTheme::drawSymbol(p, QRectF(7, 7, 18, 18), QStringLiteral("chart.bar.doc.horizontal"), accent);
    }
};

// The proportional strip of the first six formats.
class FormatStrip : public QWidget {
public:
    FormatStrip(QList<FormatStat> formats, qint64 total, QWidget *parent)
        : QWidget(parent), m_formats(std::move(formats)), m_total(total)
    {
        setObjectName(QStringLiteral("formatStrip"));
        setFixedHeight(16);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const LinearPalette lp = LinearPalette::of(this);
        p.setClipPath(LinearTheme::roundedRect(QRectF(rect()), 5));
        qreal x = 0;
        for (qsizetype i = 0; i < std::min<qsizetype>(6, m_formats.size()); ++i) {
            const qreal w = StorageInsightsSheetView::formatSegmentWidth(m_formats[i].bytes, m_total, width());
            p.fillPath(LinearTheme::roundedRect(QRectF(x, 0, w, height()), 4), formatBadgeTint(m_formats[i].ext, lp));
            x += w + 2;
        }
    }

private:
    QList<FormatStat> m_formats;
    qint64 m_total;
};

// One line naming the first five formats: a dot of the format's colour, ".ext" and the size.
class FormatLegend : public QWidget {
public:
    FormatLegend(QList<FormatStat> formats, QWidget *parent) : QWidget(parent), m_formats(std::move(formats))
    {
        setObjectName(QStringLiteral("formatLegend"));
        if (m_formats.size() > 5) m_formats.resize(5);
        setFixedHeight(m_formats.isEmpty() ? 0 : 16);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }
    QStringList entries() const
    {
        QStringList out;
        for (const FormatStat &f : m_formats) out << "." + f.ext.toLower() + " " + formatByteCount(f.bytes);
        return out;
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const LinearPalette lp = LinearPalette::of(this);
        const QFont extFont = LinearTheme::font(11, QFont::Medium, LinearTheme::Design::monospaced);
        const QFont sizeFont = LinearTheme::font(11);
        qreal x = 0;
        const qreal mid = height() / 2.0;
        for (const FormatStat &f : m_formats) {
            p.setPen(Qt::NoPen);
            p.setBrush(formatBadgeTint(f.ext, lp));
            p.drawEllipse(QRectF(x, mid - 3.5, 7, 7));
            x += 12;
            const QString ext = "." + f.ext.toLower();
            p.setFont(extFont);
            p.setPen(lp.label());
            const qreal ew = QFontMetricsF(extFont).horizontalAdvance(ext);
            p.drawText(QRectF(x, 0, ew + 1, height()), Qt::AlignVCenter, ext);
            x += ew + 5;
            const QString size = formatByteCount(f.bytes);
            p.setFont(sizeFont);
            p.setPen(lp.secondaryLabel());
            const qreal sw = QFontMetricsF(sizeFont).horizontalAdvance(size);
            p.drawText(QRectF(x, 0, sw + 1, height()), Qt::AlignVCenter, size);
            x += sw + 14;
        }
    }

private:
    QList<FormatStat> m_formats;
};

// The name, count and size of a folder over its bar.
class FolderBody : public QWidget {
public:
    FolderBody(FolderStat folder, qint64 scale, QWidget *parent)
        : QWidget(parent), m_folder(std::move(folder)), m_scale(scale)
    {
        setFixedHeight(23);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        setMinimumWidth(60);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const LinearPalette lp = LinearPalette::of(this);
        const QFont nameFont = LinearTheme::font(12, QFont::Medium);
        const QFont countFont = LinearTheme::font(10.5);
        const QFont sizeFont = LinearTheme::font(11.5, QFont::DemiBold);
        const QString size = formatByteCount(m_folder.bytes);
        const QString n = "(" + count(m_folder.count) + ")";
        const qreal sizeW = QFontMetricsF(sizeFont).horizontalAdvance(size);
        const qreal countW = QFontMetricsF(countFont).horizontalAdvance(n);
        const qreal nameRoom = std::max<qreal>(0, width() - sizeW - countW - 16);
        const QString name = QFontMetricsF(nameFont).elidedText(m_folder.name, Qt::ElideRight, nameRoom);
        const qreal nameW = QFontMetricsF(nameFont).horizontalAdvance(name);
        const QRectF line(0, 0, width(), 16);
        p.setFont(nameFont);
        p.setPen(lp.label());
        p.drawText(line, Qt::AlignLeft | Qt::AlignVCenter, name);
        p.setFont(countFont);
        p.setPen(lp.secondaryLabel());
        p.drawText(line.adjusted(nameW + 5, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, n);
        p.setFont(sizeFont);
        p.setPen(lp.label());
        p.drawText(line, Qt::AlignRight | Qt::AlignVCenter, size);
        const QRectF track(0, 18, width(), 5);
        p.setPen(Qt::NoPen);
        p.setBrush(lp.neutral(0.06, 0.045));
        p.drawRoundedRect(track, 2.5, 2.5);
        const qreal fill = std::min<qreal>(width(), StorageInsightsSheetView::folderBarWidth(m_folder.bytes, m_scale, width()));
        p.setBrush(withAlpha(lp.accent(), 0.75));
        p.drawRoundedRect(QRectF(0, 18, fill, 5), 2.5, 2.5);
    }

private:
    FolderStat m_folder;
    qint64 m_scale;
};

ThemedLabel *caption(const QString &text, QWidget *parent)
{
    auto *l = new ThemedLabel(text, LinearTheme::font(10.5, QFont::DemiBold), Tone::secondary, parent);
    l->setObjectName(QStringLiteral("caption"));
    return l;
}

QWidget *cardWithCaption(const QString &text, QVBoxLayout **column, QWidget *parent)
{
    auto *card = new SheetCard(parent);
    auto *v = new QVBoxLayout(card);
    v->setContentsMargins(14, 14, 14, 14);
    v->setSpacing(8);
    v->addWidget(caption(text, card));
    *column = v;
    return card;
}

} // namespace

double StorageInsightsSheetView::formatSegmentWidth(qint64 bytes, qint64 libraryTotal, double stripWidth)
{
    const double share = double(bytes) / double(std::max<qint64>(libraryTotal, 1));
    return std::max(std::max(share, 0.015) * stripWidth - 2.0, 6.0);
}

double StorageInsightsSheetView::folderBarWidth(qint64 bytes, qint64 folderScale, double trackWidth)
{
    return std::max(trackWidth * double(bytes) / double(std::max<qint64>(folderScale, 1)), 8.0);
}

StorageInsightsSheetView::StorageInsightsSheetView(AppState *state, QWidget *parent)
    : QDialog(parent), m_state(state)
{
    setFixedSize(740, 580);
    revealFolderHandler = [](const QUrl &folder) { DesktopServices::revealInFileManager({folder}); };

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto *body = new SheetBackground(this);
    outer->addWidget(body);
    auto *column = new QVBoxLayout(body);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    // Header.
    auto *header = new QHBoxLayout;
    header->setContentsMargins(16, 16, 16, 16);
    header->setSpacing(12);
    header->addWidget(new HeaderIcon(body));
    auto *titles = new QVBoxLayout;
    titles->setSpacing(2);
    m_title = new ThemedLabel({}, LinearTheme::font(15, QFont::DemiBold), Tone::label, body);
    m_title->setObjectName(QStringLiteral("title"));
    m_subtitle = new ThemedLabel({}, LinearTheme::font(11.5), Tone::secondary, body);
    m_subtitle->setObjectName(QStringLiteral("subtitle"));
    titles->addWidget(m_title);
    titles->addWidget(m_subtitle);
    header->addLayout(titles, 1);
    auto *totals = new QVBoxLayout;
    totals->setSpacing(2);
    m_total = new ThemedLabel({}, LinearTheme::font(16, QFont::Bold), Tone::label, body);
    m_total->setObjectName(QStringLiteral("libraryTotal"));
    m_total->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_count = new ThemedLabel({}, LinearTheme::font(11), Tone::secondary, body);
    m_count->setObjectName(QStringLiteral("videoCount"));
    m_count->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    totals->addWidget(m_total, 0, Qt::AlignRight);
    totals->addWidget(m_count, 0, Qt::AlignRight);
    header->addLayout(totals);
    auto *close = new SheetButton(SheetButton::Style::closeCircle, QStringLiteral("xmark"), {}, body);
    close->setObjectName(QStringLiteral("closeButton"));
    connect(close, &QAbstractButton::clicked, this, &StorageInsightsSheetView::dismissAction);
    header->addWidget(close);
    column->addLayout(header);
    column->addWidget(new SheetDivider(body));

    // The cards.
    m_scroll = new QScrollArea(body);
    m_scroll->setObjectName(QStringLiteral("cards"));
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_scroll->viewport()->setAutoFillBackground(false);
    column->addWidget(m_scroll, 1);
    column->addWidget(new SheetDivider(body));

    // Bottom bar.
    auto *bottom = new QHBoxLayout;
    bottom->setContentsMargins(16, 12, 16, 12);
    bottom->setSpacing(10);
    m_duplicates = new SheetButton(SheetButton::Style::bordered, QStringLiteral("square.on.square.dashed"), {}, body);
    m_duplicates->setObjectName(QStringLiteral("duplicatesButton"));
    m_duplicates->setSymbolTone(Tone::label);
    connect(m_duplicates, &QAbstractButton::clicked, this, &StorageInsightsSheetView::openDuplicatesAction);
    m_compressLargest =
        new SheetButton(SheetButton::Style::prominent, QStringLiteral("arrow.down.right.and.arrow.up.left"), {}, body);
    m_compressLargest->setObjectName(QStringLiteral("compressLargestButton"));
    connect(m_compressLargest, &QAbstractButton::clicked, this, &StorageInsightsSheetView::compressLargestAction);
    m_done = new SheetButton(SheetButton::Style::bordered, {}, {}, body);
    m_done->setObjectName(QStringLiteral("doneButton"));
    connect(m_done, &QAbstractButton::clicked, this, &StorageInsightsSheetView::dismissAction);
    bottom->addWidget(m_duplicates);
    bottom->addWidget(m_compressLargest);
    bottom->addStretch(1);
    bottom->addWidget(m_done);
    column->addLayout(bottom);

    if (m_state) {
        connect(m_state, &AppState::allVideosChanged, this, [this] {
            recompute();
            retitle();
        });
        connect(m_state, &AppState::languageChanged, this, [this] {
            retitle();
            rebuildCards();
        });
    }
    retitle();
    rebuildCards();
    recompute();
}

StorageInsightsSheetView::~StorageInsightsSheetView()
{
    if (m_stop) m_stop->request_stop();
}

void StorageInsightsSheetView::recompute()
{
    if (!m_state) return;
    if (m_stop) m_stop->request_stop();
    m_stop = std::make_shared<std::stop_source>();
    const quint64 generation = ++m_generation;
    m_computing = true;
    // The list is shared, not copied; the walk over it runs on a worker thread so that a
    // library of a million videos never holds up the window.
    const QList<VideoFile> videos = m_state->allVideos();
    QPointer<StorageInsightsSheetView> self(this);
    const std::stop_token token = m_stop->get_token();
    QThreadPool::globalInstance()->start([self, videos, token, generation] {
        StorageStatistics stats = StorageStatistics::compute(videos, token);
        if (token.stop_requested()) return;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, generation, stats = std::move(stats)]() mutable {
                if (self) self->applyStatistics(generation, std::move(stats));
            },
            Qt::QueuedConnection);
    });
}

void StorageInsightsSheetView::applyStatistics(quint64 generation, StorageStatistics stats)
{
    // A result overtaken by a newer change of the library is dropped.
    if (generation != m_generation) return;
    m_stats = std::move(stats);
    m_computing = false;
    retitle();
    rebuildCards();
    emit statisticsChanged();
}

void StorageInsightsSheetView::retitle()
{
    const AppLanguage lang = m_state ? m_state->language() : AppLanguage::en;
    m_title->setText(L10n::text("insights.title", lang));
    m_subtitle->setText(L10n::text("insights.subtitle", lang));
    // The header reads the state's own totals: right at once, also before the worker's
    // figures arrive.
    const qint64 total = m_state ? m_state->totalVideoBytes() : m_stats.totalBytes;
    const qsizetype videos = m_state ? m_state->allVideos().size() : m_stats.videoCount;
    m_total->setText(formatByteCount(total));
    m_count->setText(count(videos) + " " + L10n::text("toolbar.videos", lang));
    m_duplicates->setText(L10n::text("sidebar.duplicates", lang));
    m_compressLargest->setText(L10n::text("sidebar.compress", lang));
    m_done->setText(L10n::text("dup.done", lang));
    for (SheetButton *b : {m_duplicates, m_compressLargest, m_done}) b->updateGeometry();
}

void StorageInsightsSheetView::rebuildCards()
{
    const AppLanguage lang = m_state ? m_state->language() : AppLanguage::en;
    const int scrollY = m_scroll->verticalScrollBar()->value();
    auto *content = new QWidget;
    content->setObjectName(QStringLiteral("cardsContent"));
    content->setAutoFillBackground(false);
    auto *cards = new QVBoxLayout(content);
    cards->setContentsMargins(16, 16, 16, 16);
    cards->setSpacing(18);

    // Formats.
    QVBoxLayout *v = nullptr;
    QWidget *card = cardWithCaption(L10n::text("insights.byFormat", lang), &v, content);
    card->setObjectName(QStringLiteral("formatCard"));
    v->addWidget(new FormatStrip(m_stats.formatStats, m_stats.totalBytes, card));
    v->addWidget(new FormatLegend(m_stats.formatStats, card));
    cards->addWidget(card);

    // Folders.
    card = cardWithCaption(L10n::text("insights.topFolders", lang), &v, content);
    card->setObjectName(QStringLiteral("folderCard"));
    const qint64 scale = std::max<qint64>(m_stats.folderStats.isEmpty() ? 1 : m_stats.folderStats.first().bytes, 1);
    for (const FolderStat &f : std::as_const(m_stats.folderStats)) {
        auto *row = new QWidget(card);
        row->setObjectName(QStringLiteral("folderRow"));
        row->setProperty("path", f.path);
        auto *h = new QHBoxLayout(row);
        h->setContentsMargins(0, 0, 0, 0);
        h->setSpacing(10);
        h->addWidget(new SheetSymbol(QStringLiteral("folder.fill"), 12, Tone::accent, row));
        h->addWidget(new FolderBody(f, scale, row), 1);
        auto *reveal = new SheetButton(SheetButton::Style::plain, QStringLiteral("arrow.up.forward.square"), {}, row);
        reveal->setObjectName(QStringLiteral("revealFolderButton"));
        reveal->setSymbolSize(11.5);
        reveal->setToolTip(f.path);
        const QString path = f.path;
        connect(reveal, &QAbstractButton::clicked, this, [this, path] { revealFolder(path); });
        h->addWidget(reveal);
        v->addWidget(row);
    }
    cards->addWidget(card);

    // Largest videos.
    card = cardWithCaption(L10n::text("insights.largestVideos", lang), &v, content);
    card->setObjectName(QStringLiteral("videoCard"));
    v->setSpacing(0);
    v->insertSpacing(1, 8);
    for (qsizetype i = 0; i < m_stats.largestVideos.size(); ++i) {
        const VideoFile video = m_stats.largestVideos[i];
        auto *row = new QWidget(card);
        row->setObjectName(QStringLiteral("videoRow"));
        row->setProperty("videoID", video.id);
        auto *h = new QHBoxLayout(row);
        h->setContentsMargins(0, 6, 0, 6);
        h->setSpacing(10);
        auto *pos = new ThemedLabel(count(i + 1), LinearTheme::font(10.5, QFont::DemiBold), Tone::secondary, row);
        pos->setAlignment(Qt::AlignCenter);
        pos->setFixedWidth(18);
        h->addWidget(pos);
        auto *names = new QVBoxLayout;
        names->setSpacing(1);
        auto *name = new ThemedLabel(video.name, LinearTheme::font(12, QFont::Medium), Tone::label, row);
        name->setElideMode(Qt::ElideRight);
        auto *folder = new ThemedLabel(video.directoryPath, LinearTheme::font(10, QFont::Normal, LinearTheme::Design::monospaced),
                                       Tone::secondary, row);
        folder->setObjectName(QStringLiteral("videoFolder"));
        folder->setElideMode(Qt::ElideLeft);
        names->addWidget(name);
        names->addWidget(folder);
        h->addLayout(names, 1);
        auto *size = new ThemedLabel(formatByteCount(video.fileSize), LinearTheme::font(11.5, QFont::DemiBold), Tone::label, row);
        h->addWidget(size);
        auto *compress = new SheetButton(SheetButton::Style::bordered, {}, L10n::text("comp.action", lang), row);
        compress->setObjectName(QStringLiteral("compressVideoButton"));
        compress->setMini(true);
        connect(compress, &QAbstractButton::clicked, this, [this, video] { compressAction(video); });
        h->addWidget(compress);
        auto *show = new SheetButton(SheetButton::Style::bordered, QStringLiteral("play.fill"), {}, row);
        show->setObjectName(QStringLiteral("revealVideoButton"));
        show->setMini(true);
        show->setSymbolSize(10);
        show->setSymbolTone(Tone::label);
        connect(show, &QAbstractButton::clicked, this, [this, video] { revealVideoAction(video); });
        h->addWidget(show);
        v->addWidget(row);
        if (i + 1 < m_stats.largestVideos.size()) v->addWidget(new SheetDivider(card));
    }
    cards->addWidget(card);
    cards->addStretch(1);

    delete m_scroll->takeWidget();
    m_scroll->setWidget(content);
    content->setAutoFillBackground(false);
    m_scroll->verticalScrollBar()->setValue(scrollY);
}

// ---- actions ----

void StorageInsightsSheetView::dismissAction() { reject(); }

void StorageInsightsSheetView::openDuplicatesAction()
{
    QPointer<AppState> state = m_state;
    dismissAction();
    if (state) state->setShowDuplicatesSheet(true);
}

void StorageInsightsSheetView::compressLargestAction()
{
    QPointer<AppState> state = m_state;
    dismissAction();
    // The figures of the library as it stands: a result still being computed is not waited for.
    const QList<VideoFile> largest =
        m_computing && state ? StorageStatistics::compute(state->allVideos()).largestVideos : m_stats.largestVideos;
    if (!state) return;
    state->setVideosPendingCompression(largest);
    state->setShowBatchCompressSheet(true);
}

void StorageInsightsSheetView::compressAction(const VideoFile &video)
{
    QPointer<AppState> state = m_state;
    dismissAction();
    if (!state) return;
    state->setVideosPendingCompression({video});
    state->setShowBatchCompressSheet(true);
}

void StorageInsightsSheetView::revealVideoAction(const VideoFile &video)
{
    QPointer<AppState> state = m_state;
    dismissAction();
    if (state) state->revealVideo(video);
}

void StorageInsightsSheetView::revealFolder(const QString &path)
{
    if (revealFolderHandler) revealFolderHandler(QUrl::fromLocalFile(path));
}
