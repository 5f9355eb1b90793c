#include "BatchCompressSheetView.h"

#include "library/L10n.h"
#include "ui/Controls.h"
#include "ui/LinearTheme.h"

#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr qint64 kLargeVideoBytes = 20 * 1024 * 1024;
constexpr int kMaxCandidates = 60;
constexpr int kDefaultTicked = 10;

QFrame *divider(QWidget *parent)
{
    auto *line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFixedHeight(1);
    line->setStyleSheet("background: palette(mid); border: none;");
    return line;
}

// One video of the list: tick, name over folder, format badge, size. A click anywhere toggles.
class CandidateRow : public QAbstractButton {
public:
    CandidateRow(const VideoFile &video, QWidget *parent) : QAbstractButton(parent), m_video(video)
    {
        setObjectName("candidateRow");
        setCursor(Qt::PointingHandCursor);
        setFixedHeight(44);
        m_badge = new FormatBadge(video.fileExtension, this);
        setToolTip(video.url().toLocalFile());
    }
    const VideoFile &video() const { return m_video; }
    void setTicked(bool ticked)
    {
        if (m_ticked == ticked) return;
        m_ticked = ticked;
        update();
    }
    bool ticked() const { return m_ticked; }

protected:
    static constexpr int kSizeWidth = 68;
    void resizeEvent(QResizeEvent *) override
    {
        const QSize b = m_badge->sizeHint();
        m_badge->setGeometry(width() - 14 - kSizeWidth - 10 - b.width(), (height() - b.height()) / 2, b.width(),
                             b.height());
    }
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const LinearPalette pal = LinearPalette::of(this);
        if (m_ticked) {
            QColor fill = pal.accent();
            fill.setAlphaF((pal.isDark() ? 0.18 : 0.11) * 0.45);
            p.fillRect(rect(), fill);
        }
        const QRectF tick(14, (height() - 14) / 2.0, 14, 14);
        if (m_ticked) {
            LinearTheme::drawSymbol(p, tick, "checkmark.circle.fill", pal.accent());
        } else {
            p.setPen(QPen(pal.tertiaryLabel(), 1.2));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(tick.adjusted(0.8, 0.8, -0.8, -0.8));
        }
        const qreal left = 14 + 14 + 10;
        const qreal right = m_badge->geometry().left() - 10;
        const QFont nameFont = LinearTheme::font(12.5, QFont::Medium);
        const QFont folderFont = LinearTheme::font(10.5, QFont::Normal, LinearTheme::Design::monospaced);
        p.setFont(nameFont);
        p.setPen(pal.label());
        p.drawText(QRectF(left, 5, right - left, 19), Qt::AlignLeft | Qt::AlignVCenter,
                   QFontMetrics(nameFont).elidedText(m_video.name, Qt::ElideRight, int(right - left)));
        p.setFont(folderFont);
        p.setPen(pal.tertiaryLabel());
        p.drawText(QRectF(left, 24, right - left, 15), Qt::AlignLeft | Qt::AlignVCenter,
                   QFontMetrics(folderFont).elidedText(m_video.directoryPath, Qt::ElideLeft, int(right - left)));
        p.setFont(LinearTheme::font(11.5, QFont::DemiBold, LinearTheme::Design::monospaced));
        p.setPen(pal.label());
        p.drawText(QRectF(width() - 14 - kSizeWidth, 0, kSizeWidth, height()), Qt::AlignRight | Qt::AlignVCenter,
                   formatByteCount(m_video.fileSize));
    }

private:
    VideoFile m_video;
    FormatBadge *m_badge;
    bool m_ticked = false;
};

} // namespace

QDialog *BatchCompressSheetView::create(AppState *state, QWidget *parent)
{
    return new BatchCompressSheetView(state, parent);
}

BatchCompressSheetView::BatchCompressSheetView(AppState *state, QWidget *parent, const BatchCompressionOptions &options)
    : QDialog(parent), m_state(state), m_options(options)
{
    LinearTheme::initialize();
    setWindowTitle(tr_("comp.title"));
    setFixedSize(680, 500);
    setAutoFillBackground(true);
    build();
    // Default selection: everything handed over, else the ten largest.
    const QList<VideoFile> list = candidates();
    const bool handedOver = m_state && !m_state->videosPendingCompression().isEmpty();
    for (qsizetype i = 0; i < list.size() && (handedOver || i < kDefaultTicked); ++i) m_selectedIDs.insert(list[i].id);
    if (m_state) {
        connect(m_state, &AppState::allVideosChanged, this, [this] { refresh(); });
        connect(m_state, &AppState::videosPendingCompressionChanged, this, [this] { refresh(); });
        connect(m_state, &AppState::languageChanged, this, [this] { refresh(); });
    }
    refresh();
}

BatchCompressSheetView::~BatchCompressSheetView() { cancelJob(); }

QString BatchCompressSheetView::tr_(const char *key) const
{
    return L10n::text(QString::fromLatin1(key), m_state ? std::optional<AppLanguage>(m_state->language()) : std::nullopt);
}

QList<VideoFile> BatchCompressSheetView::candidates() const
{
    if (!m_state) return {};
    if (!m_state->videosPendingCompression().isEmpty()) return m_state->videosPendingCompression();
    QList<VideoFile> sorted = m_state->allVideos();
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const VideoFile &a, const VideoFile &b) { return a.fileSize > b.fileSize; });
    QList<VideoFile> large;
    for (const VideoFile &v : sorted)
        if (v.fileSize >= kLargeVideoBytes) large.append(v);
    QList<VideoFile> list = large.isEmpty() ? sorted : large;
    if (list.size() > kMaxCandidates) list.resize(kMaxCandidates);
    return list;
}

QList<VideoFile> BatchCompressSheetView::selectedCandidates() const
{
    QList<VideoFile> out;
    for (const VideoFile &v : candidates())
        if (m_selectedIDs.contains(v.id)) out.append(v);
    return out;
}

qint64 BatchCompressSheetView::selectedBytes() const
{
    qint64 sum = 0;
    for (const VideoFile &v : selectedCandidates()) sum += v.fileSize;
    return sum;
}

qint64 BatchCompressSheetView::estimatedSavings() const
{
    return qint64((1.0 - CompressionPresetInfo::expectedSizeFactor(m_preset)) * double(selectedBytes()));
}

bool BatchCompressSheetView::allCandidatesSelected() const
{
    // The id sets, not their sizes: ticked videos that left the list must not make a
    // partial selection look complete.
    const QList<VideoFile> list = candidates();
    return std::all_of(list.cbegin(), list.cend(), [this](const VideoFile &v) { return m_selectedIDs.contains(v.id); });
}

void BatchCompressSheetView::toggle(const QString &id)
{
    if (m_isRunning) return;
    if (!m_selectedIDs.remove(id)) m_selectedIDs.insert(id);
    refresh();
}

void BatchCompressSheetView::toggleSelectAll()
{
    if (m_isRunning) return;
    if (allCandidatesSelected()) {
        m_selectedIDs.clear();
    } else {
        for (const VideoFile &v : candidates()) m_selectedIDs.insert(v.id);
    }
    refresh();
}

void BatchCompressSheetView::setPreset(CompressionPreset preset)
{
    if (m_isRunning) return;
    m_preset = preset;
    refresh();
}

void BatchCompressSheetView::setSaveMode(CompressionSaveMode mode)
{
    if (m_isRunning) return;
    m_saveMode = mode;
    refresh();
}

void BatchCompressSheetView::startRun()
{
    const QList<VideoFile> chosen = selectedCandidates();
    if (chosen.isEmpty() || m_isRunning) return;
    m_isRunning = true;
    m_finishedSummary = false;
    m_completedResults.clear();
    m_failedNames.clear();
    m_stoppedNote.clear();
    m_totalSavedBytes = 0;
    m_currentItemIndex = 0;
    m_currentItemTotal = int(chosen.size());
    m_currentItemName.clear();
    m_currentItemProgress = 0;
    // The job belongs to the app state, not to the sheet: a result put in place after the
    // user stopped or closed must still reach the library.
    QObject *owner = m_state ? static_cast<QObject *>(m_state) : static_cast<QObject *>(this);
    BatchCompressionJob *job = BatchCompressionService::compress(chosen, m_preset, true, m_saveMode, owner, m_options);
    m_job = job;
    QPointer<BatchCompressSheetView> self(this);
    QPointer<AppState> state(m_state);
    job->onEvent(owner, [self, state, job](const BatchCompressionEvent &e) {
        if (self && self->m_job == job && !job->isCancelled()) {
            self->handle(e);
            return;
        }
        // Stopped: only what changed the user's files still matters.
        if (e.kind == BatchCompressionEvent::Kind::itemCompleted && !e.result.skippedBecauseNotSmaller && state) {
            state->applyCompressionResults(e.result);
            if (!e.result.remark.isEmpty()) state->showToast(e.result.remark, true, false);
        } else if (e.kind == BatchCompressionEvent::Kind::itemFailed && state)
            state->showToast(e.videoName + QStringLiteral(": ") + e.message, true, false);
    });
    connect(job, &BatchCompressionJob::finished, job, &QObject::deleteLater);
    refresh();
}

void BatchCompressSheetView::handle(const BatchCompressionEvent &e)
{
    switch (e.kind) {
    case BatchCompressionEvent::Kind::itemStarted:
        m_currentItemIndex = e.index;
        m_currentItemTotal = e.total;
        m_currentItemName = e.videoName;
        m_currentItemProgress = 0.05;
        break;
    case BatchCompressionEvent::Kind::itemProgress:
        m_currentItemProgress = e.fraction;
        break;
    case BatchCompressionEvent::Kind::itemCompleted:
        m_completedResults.append(e.result);
        m_totalSavedBytes += e.result.reclaimedBytes();
        if (!e.result.skippedBecauseNotSmaller && m_state) m_state->applyCompressionResults(e.result);
        if (!e.result.remark.isEmpty() && m_state) m_state->showToast(e.result.remark, true, false);
        break;
    case BatchCompressionEvent::Kind::itemFailed:
        m_failedNames << e.videoName;
        if (m_state) m_state->showToast(e.videoName + QStringLiteral(": ") + e.message, true, false);
        break;
    case BatchCompressionEvent::Kind::finished:
        m_totalSavedBytes = e.totalSavedBytes;
        m_isRunning = false;
        m_finishedSummary = true;
        m_job = nullptr;
        break;
    }
    refresh();
}

void BatchCompressSheetView::cancelJob()
{
    if (m_job) m_job->cancel();
    m_job = nullptr;
}

void BatchCompressSheetView::stopRun()
{
    // Items finished before the stop stay done; the user is told which.
    QStringList done;
    for (const BatchCompressionResult &r : m_completedResults)
        if (!r.skippedBecauseNotSmaller) done << r.original.name;
    if (m_isRunning)
        m_stoppedNote = done.isEmpty() ? tr_("comp.stoppedNone")
                                       : tr_("comp.stoppedDone") + QLatin1Char(' ') + done.join(QStringLiteral(", "));
    cancelJob();
    m_isRunning = false;
    refresh();
}

void BatchCompressSheetView::closeSheet()
{
    cancelJob();
    reject();
}

void BatchCompressSheetView::hideEvent(QHideEvent *event)
{
    // However the sheet goes away: the batch stops and the hand-over is used up, so the next
    // opening without one shows the library's largest videos.
    if (!event->spontaneous()) {
        cancelJob();
        m_isRunning = false;
        if (m_state) m_state->setVideosPendingCompression({});
    }
    QDialog::hideEvent(event);
}

QAbstractButton *BatchCompressSheetView::startButton() const { return m_start; }
QAbstractButton *BatchCompressSheetView::stopButton() const { return m_stop; }
QAbstractButton *BatchCompressSheetView::selectAllButton() const { return m_selectAll; }
QAbstractButton *BatchCompressSheetView::closeButton() const { return m_close; }
QString BatchCompressSheetView::statusText() const { return m_status->text(); }
QString BatchCompressSheetView::summaryText() const { return m_doneSaved->text() + " · " + m_doneCounts->text(); }
QString BatchCompressSheetView::summaryDetails() const { return m_doneDetails->text(); }
QString BatchCompressSheetView::stoppedNote() const { return m_stoppedNote; }

CompressionSummary BatchCompressSheetView::summarize(const QList<BatchCompressionResult> &results,
                                                     const QStringList &failedNames, int chosen,
                                                     CompressionSaveMode saveMode)
{
    CompressionSummary summary;
    qint64 reclaimed = 0, added = 0;
    int compressed = 0;
    QStringList notSmaller, kept;
    for (const BatchCompressionResult &r : results) {
        if (r.skippedBecauseNotSmaller) {
            notSmaller << r.original.name;
            continue;
        }
        ++compressed;
        reclaimed += r.reclaimedBytes();
        // A new file beside an original that stays adds its whole size to the disk.
        if (!r.replacedOriginal || r.originalKept) added += r.compressedBytes;
        if (r.replacedOriginal && r.originalKept) kept << r.original.name;
    }
    summary.outcome = failedNames.isEmpty() ? CompressionSummary::Outcome::complete
                      : results.isEmpty()   ? CompressionSummary::Outcome::failed
                                            : CompressionSummary::Outcome::partly;
    summary.title = L10n::text(summary.outcome == CompressionSummary::Outcome::failed ? QStringLiteral("comp.failedTitle")
                                                                                       : QStringLiteral("comp.doneTitle"));
    if (reclaimed > 0) {
        summary.headline = formatByteCount(reclaimed) + QLatin1Char(' ') + L10n::text(QStringLiteral("comp.reclaimed"));
        summary.headlineGood = true;
    } else if (added > 0 && saveMode == CompressionSaveMode::saveAsNew) {
        summary.headline = formatByteCount(added) + QLatin1Char(' ') + L10n::text(QStringLiteral("comp.added"));
    } else {
        summary.headline = L10n::text(QStringLiteral("comp.nothingReclaimed"));
    }
    summary.counts = QString::number(compressed) + QStringLiteral(" / ") + QString::number(std::max(chosen, 0)) +
                     QLatin1Char(' ') + L10n::text(QStringLiteral("toolbar.videos"));
    auto detail = [&](const char *key, const QStringList &names) {
        if (!names.isEmpty())
            summary.details << L10n::text(QString::fromLatin1(key)) + QLatin1Char(' ') + names.join(QStringLiteral(", "));
    };
    detail("comp.notSmaller", notSmaller);
    detail("comp.originalsKept", kept);
    detail("comp.failedItems", failedNames);
    return summary;
}

void BatchCompressSheetView::build()
{
    auto *root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    // Header.
    auto *header = new QHBoxLayout;
    header->setContentsMargins(16, 16, 16, 16);
    auto *titles = new QVBoxLayout;
    titles->setSpacing(2);
    auto *title = new ThemedLabel(QString(), LinearTheme::font(15, QFont::DemiBold), Tone::label, this);
    title->setObjectName("compTitle");
    auto *subtitle = new ThemedLabel(QString(), LinearTheme::font(11.5), Tone::secondary, this);
    subtitle->setObjectName("compSubtitle");
    titles->addWidget(title);
    titles->addWidget(subtitle);
    header->addLayout(titles, 1);
    auto *close = new LinearIconButton("xmark", QString(), this);
    close->setObjectName("compClose");
    m_close = close;
    connect(m_close, &QAbstractButton::clicked, this, &BatchCompressSheetView::closeSheet);
    header->addWidget(m_close, 0, Qt::AlignTop);
    root->addLayout(header);
    root->addWidget(divider(this));

    // Middle: the list page or the summary.
    m_middle = new QStackedWidget(this);
    auto *listPage = new QWidget(m_middle);
    auto *listLayout = new QVBoxLayout(listPage);
    listLayout->setContentsMargins(0, 0, 0, 0);
    listLayout->setSpacing(0);
    auto *options = new QWidget(listPage);
    options->setObjectName("compOptions");
    auto *optionsRow = new QHBoxLayout(options);
    optionsRow->setContentsMargins(16, 12, 16, 12);
    optionsRow->setSpacing(12);
    auto caption = [&](QComboBox *&picker, int width, const char *name) {
        auto *column = new QVBoxLayout;
        column->setSpacing(3);
        auto *label = new ThemedLabel(QString(), LinearTheme::font(10, QFont::DemiBold), Tone::tertiary, options);
        label->setObjectName(name);
        picker = new QComboBox(options);
        // Longer languages: the pickers give way before the estimate does.
        picker->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        picker->setMinimumContentsLength(12);
        picker->setMaximumWidth(width);
        picker->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        column->addWidget(label);
        column->addWidget(picker);
        optionsRow->addLayout(column);
    };
    caption(m_presetPicker, 255, "presetCaption");
    m_presetPicker->setObjectName("presetPicker");
    caption(m_savePicker, 275, "saveCaption");
    m_savePicker->setObjectName("savePicker");
    for (int i = 0; i < 3; ++i) m_presetPicker->addItem(QString());
    for (int i = 0; i < 2; ++i) m_savePicker->addItem(QString());
    connect(m_presetPicker, &QComboBox::activated, this,
            [this](int i) { setPreset(CompressionPresetInfo::allCases().value(i)); });
    connect(m_savePicker, &QComboBox::activated, this,
            [this](int i) { setSaveMode(CompressionSaveModeInfo::allCases().value(i)); });
    auto *estimateColumn = new QVBoxLayout;
    estimateColumn->setSpacing(1);
    m_estimate = new ThemedLabel(QString(), LinearTheme::font(13.5, QFont::Bold, LinearTheme::Design::monospaced),
                                 Tone::green, options);
    m_estimate->setObjectName("estimate");
    m_estimate->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_estimateCaption = new ThemedLabel(QString(), LinearTheme::font(10), Tone::tertiary, options);
    m_estimateCaption->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    estimateColumn->addWidget(m_estimate);
    estimateColumn->addWidget(m_estimateCaption);
    optionsRow->addLayout(estimateColumn);
    listLayout->addWidget(options);
    listLayout->addWidget(divider(listPage));

    m_listOrEmpty = new QStackedWidget(listPage);
    m_scroll = new QScrollArea(m_listOrEmpty);
    m_scroll->setObjectName("compList");
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_rows = new QWidget(m_scroll);
    m_rowsLayout = new QVBoxLayout(m_rows);
    m_rowsLayout->setContentsMargins(0, 6, 0, 6);
    m_rowsLayout->setSpacing(1);
    m_rowsLayout->addStretch(1);
    m_scroll->setWidget(m_rows);
    m_listOrEmpty->addWidget(m_scroll);
    auto *empty = new QWidget(m_listOrEmpty);
    auto *emptyLayout = new QVBoxLayout(empty);
    emptyLayout->setSpacing(8);
    emptyLayout->addStretch(1);
    auto *emptyIcon = new QLabel(empty);
    emptyIcon->setFixedSize(28, 28);
    emptyIcon->setObjectName("emptyIcon");
    emptyLayout->addWidget(emptyIcon, 0, Qt::AlignHCenter);
    auto *emptyText = new ThemedLabel(QString(), LinearTheme::font(13, QFont::DemiBold), Tone::label, empty);
    emptyText->setObjectName("emptyText");
    emptyLayout->addWidget(emptyText, 0, Qt::AlignHCenter);
    emptyLayout->addStretch(1);
    m_listOrEmpty->addWidget(empty);
    listLayout->addWidget(m_listOrEmpty, 1);
    m_stoppedLine = new ThemedLabel(QString(), LinearTheme::font(11.5, QFont::Medium), Tone::secondary, listPage);
    m_stoppedLine->setObjectName("stoppedNote");
    m_stoppedLine->setWordWrap(true, 2);
    auto *stoppedRow = new QHBoxLayout;
    stoppedRow->setContentsMargins(16, 6, 16, 6);
    stoppedRow->addWidget(m_stoppedLine);
    listLayout->addLayout(stoppedRow);
    m_middle->addWidget(listPage);

    auto *summary = new QWidget(m_middle);
    auto *summaryLayout = new QVBoxLayout(summary);
    summaryLayout->setSpacing(14);
    summaryLayout->addStretch(1);
    auto *seal = new QLabel(summary);
    seal->setObjectName("doneSeal");
    seal->setFixedSize(40, 40);
    summaryLayout->addWidget(seal, 0, Qt::AlignHCenter);
    auto *doneTitle = new ThemedLabel(QString(), LinearTheme::font(17, QFont::Bold), Tone::label, summary);
    doneTitle->setObjectName("doneTitle");
    summaryLayout->addWidget(doneTitle, 0, Qt::AlignHCenter);
    m_doneSaved = new ThemedLabel(QString(), LinearTheme::font(22, QFont::Bold, LinearTheme::Design::monospaced),
                                  Tone::green, summary);
    summaryLayout->addWidget(m_doneSaved, 0, Qt::AlignHCenter);
    m_doneCounts = new ThemedLabel(QString(), LinearTheme::font(12), Tone::secondary, summary);
    summaryLayout->addWidget(m_doneCounts, 0, Qt::AlignHCenter);
    m_doneDetails = new ThemedLabel(QString(), LinearTheme::font(11.5), Tone::secondary, summary);
    m_doneDetails->setObjectName("doneDetails");
    m_doneDetails->setWordWrap(true);
    m_doneDetails->setAlignment(Qt::AlignHCenter);
    summaryLayout->addWidget(m_doneDetails);
    summaryLayout->addStretch(1);
    m_middle->addWidget(summary);
    root->addWidget(m_middle, 1);
    root->addWidget(divider(this));

    // Footer: running, summary, idle.
    m_footer = new QStackedWidget(this);
    auto page = [&](QHBoxLayout *&row) {
        auto *w = new QWidget(m_footer);
        row = new QHBoxLayout(w);
        row->setContentsMargins(16, 12, 16, 12);
        m_footer->addWidget(w);
    };
    QHBoxLayout *running, *done, *idle;
    page(running);
    running->setSpacing(12);
    m_progress = new QProgressBar(m_footer);
    m_progress->setObjectName("itemProgress");
    m_progress->setRange(0, 1000);
    m_progress->setTextVisible(false);
    m_progress->setFixedWidth(180);
    running->addWidget(m_progress);
    auto *statusColumn = new QVBoxLayout;
    statusColumn->setSpacing(1);
    m_status = new ThemedLabel(QString(), LinearTheme::font(11.5, QFont::Medium), Tone::label, m_footer);
    m_status->setObjectName("runStatus");
    m_reclaimed = new ThemedLabel(QString(), LinearTheme::font(10.5, QFont::DemiBold, LinearTheme::Design::monospaced),
                                  Tone::green, m_footer);
    statusColumn->addWidget(m_status);
    statusColumn->addWidget(m_reclaimed);
    running->addLayout(statusColumn, 1);
    m_stop = new QPushButton(m_footer);
    m_stop->setObjectName("stopButton");
    connect(m_stop, &QPushButton::clicked, this, &BatchCompressSheetView::stopRun);
    running->addWidget(m_stop);

    page(done);
    done->addStretch(1);
    m_done = new QPushButton(m_footer);
    m_done->setObjectName("doneButton");
    m_done->setDefault(true);
    connect(m_done, &QPushButton::clicked, this, &QDialog::accept);
    done->addWidget(m_done);

    page(idle);
    idle->setSpacing(10);
    m_selectAll = new QPushButton(m_footer);
    m_selectAll->setObjectName("selectAllButton");
    m_selectAll->setFont(LinearTheme::font(11));
    connect(m_selectAll, &QPushButton::clicked, this, &BatchCompressSheetView::toggleSelectAll);
    idle->addWidget(m_selectAll);
    m_selectionLine = new ThemedLabel(QString(), LinearTheme::font(11.5, QFont::Normal, LinearTheme::Design::monospaced),
                                      Tone::secondary, m_footer);
    m_selectionLine->setObjectName("selectionLine");
    idle->addWidget(m_selectionLine, 1);
    m_cancel = new QPushButton(m_footer);
    m_cancel->setObjectName("cancelButton");
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    idle->addWidget(m_cancel);
    m_start = new QPushButton(m_footer);
    m_start->setObjectName("startButton");
    m_start->setDefault(true);
    m_start->setIcon(QIcon(LinearTheme::symbolPixmap("arrow.down.right.and.arrow.up.left", 12, Qt::white, devicePixelRatioF())));
    connect(m_start, &QPushButton::clicked, this, &BatchCompressSheetView::startRun);
    idle->addWidget(m_start);
    root->addWidget(m_footer);
}

void BatchCompressSheetView::rebuildRows()
{
    const QList<VideoFile> list = candidates();
    QStringList ids;
    for (const VideoFile &v : list) ids << v.id;
    if (ids != m_rowIDs) {
        m_rowIDs = ids;
        while (m_rowsLayout->count() > 1) {
            QLayoutItem *item = m_rowsLayout->takeAt(0);
            delete item->widget();
            delete item;
        }
        for (qsizetype i = 0; i < list.size(); ++i) {
            auto *row = new CandidateRow(list[i], m_rows);
            const QString id = list[i].id;
            connect(row, &QAbstractButton::clicked, this, [this, id] { toggle(id); });
            m_rowsLayout->insertWidget(int(i), row);
        }
    }
    for (int i = 0; i < m_rowsLayout->count() - 1; ++i)
        if (auto *row = static_cast<CandidateRow *>(m_rowsLayout->itemAt(i)->widget()))
            row->setTicked(m_selectedIDs.contains(row->video().id));
    m_listOrEmpty->setCurrentIndex(list.isEmpty() ? 1 : 0);
}

void BatchCompressSheetView::refresh()
{
    if (auto *t = findChild<ThemedLabel *>("compTitle")) t->setText(tr_("comp.title"));
    if (auto *t = findChild<ThemedLabel *>("compSubtitle")) t->setText(tr_("comp.subtitle"));
    if (auto *t = findChild<ThemedLabel *>("presetCaption")) t->setText(tr_("editor.quality"));
    if (auto *t = findChild<ThemedLabel *>("saveCaption")) t->setText(tr_("editor.saveMode"));
    if (auto *t = findChild<ThemedLabel *>("emptyText")) t->setText(tr_("toolbar.noVideos"));
    const char *presetKeys[] = {"comp.preset.hevcBalanced", "comp.preset.hevc1080p", "comp.preset.h2641080p"};
    for (int i = 0; i < 3; ++i) m_presetPicker->setItemText(i, tr_(presetKeys[i]));
    m_savePicker->setItemText(0, tr_("editor.save.replace"));
    m_savePicker->setItemText(1, tr_("editor.save.new"));
    m_presetPicker->setCurrentIndex(int(CompressionPresetInfo::allCases().indexOf(m_preset)));
    m_savePicker->setCurrentIndex(int(CompressionSaveModeInfo::allCases().indexOf(m_saveMode)));
    m_presetPicker->setEnabled(!m_isRunning);
    m_savePicker->setEnabled(!m_isRunning);

    const QList<VideoFile> chosen = selectedCandidates();
    const bool anySelected = !chosen.isEmpty();
    m_estimate->setVisible(anySelected);
    m_estimateCaption->setVisible(anySelected);
    m_estimate->setText(QStringLiteral("~") + formatByteCount(estimatedSavings()));
    m_estimateCaption->setText(tr_("comp.estSavings"));
    rebuildRows();
    for (CandidateRow *row : m_rows->findChildren<CandidateRow *>()) row->setEnabled(!m_isRunning);

    m_middle->setCurrentIndex(m_finishedSummary && !m_isRunning ? 1 : 0);
    const CompressionSummary summary = summarize(m_completedResults, m_failedNames, m_currentItemTotal, m_saveMode);
    if (auto *t = findChild<ThemedLabel *>("doneTitle")) t->setText(summary.title);
    m_doneSaved->setText(summary.headline);
    m_doneSaved->setTone(summary.headlineGood ? Tone::green : Tone::secondary);
    m_doneCounts->setText(summary.counts);
    m_doneDetails->setText(summary.details.join(QChar(QChar::LineSeparator)));
    m_doneDetails->setVisible(!summary.details.isEmpty());
    m_stoppedLine->setText(m_stoppedNote);
    m_stoppedLine->setVisible(!m_stoppedNote.isEmpty() && !m_isRunning);
    if (auto *seal = findChild<QLabel *>("doneSeal")) {
        const LinearPalette palette = LinearPalette::of(this);
        const bool clean = summary.outcome == CompressionSummary::Outcome::complete;
        seal->setPixmap(LinearTheme::symbolPixmap(
            clean ? "checkmark.circle.fill" : "exclamationmark.triangle.fill", 40,
            summary.outcome == CompressionSummary::Outcome::failed ? palette.systemRed()
            : clean                                                ? palette.systemGreen()
                                                                   : palette.systemOrange(),
            devicePixelRatioF()));
    }
    if (auto *icon = findChild<QLabel *>("emptyIcon"))
        icon->setPixmap(LinearTheme::symbolPixmap("film.stack", 28, LinearPalette::of(this).tertiaryLabel(),
                                                  devicePixelRatioF()));

    m_footer->setCurrentIndex(m_isRunning ? 0 : m_finishedSummary ? 1 : 2);
    m_progress->setValue(int(std::clamp(m_currentItemProgress, 0.0, 1.0) * 1000));
    m_status->setText(QString::number(m_currentItemIndex + 1) + " / " + QString::number(std::max(m_currentItemTotal, 1)) +
                      QStringLiteral(" \u00B7 ") + m_currentItemName);
    m_reclaimed->setVisible(m_totalSavedBytes >= 1);
    m_reclaimed->setText(formatByteCount(m_totalSavedBytes) + " " + tr_("comp.reclaimed"));
    m_stop->setText(tr_("toolbar.stop"));
    m_done->setText(tr_("dup.done"));
    m_selectAll->setText(allCandidatesSelected() ? tr_("comp.deselectAll") : tr_("comp.selectAll"));
    m_selectionLine->setText(QString::number(chosen.size()) + " " + tr_("sel.selected") + QStringLiteral(" \u00B7 ") +
                             formatByteCount(selectedBytes()));
    m_cancel->setText(tr_("toolbar.cancel"));
    m_start->setText(tr_("comp.start"));
    m_start->setEnabled(anySelected);
}
