#include "VideoEditorSheet.h"

#include "editing/TrimSegments.h"
#include "library/L10n.h"
#include "media/MediaMetadataService.h"
#include "media/VideoPlayerController.h"
#include "ui/Controls.h"
#include "ui/LinearTheme.h"
#include "ui/player/PlayerSurfaces.h"
#include "ui/sheets/editor/FilmstripTimelineView.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QThreadPool>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

static void initEditorIcons() { Q_INIT_RESOURCE(editor_icons); }

namespace {

// The editor's tool-button look: symbol and title on a rounded fill; prominent (accent),
// destructive (red) or plain.
class ToolButton : public QAbstractButton {
public:
    ToolButton(const QString &symbol, const QString &title, bool prominent, bool destructive, QWidget *parent)
        : QAbstractButton(parent), m_symbol(symbol), m_prominent(prominent), m_destructive(destructive)
    {
        setText(title);
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::TabFocus);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    }
    QSize minimumSizeHint() const override { return sizeHint(); }
    void setSymbol(const QString &s) { m_symbol = s; update(); }
    QSize sizeHint() const override
    {
        const QFontMetricsF fm(LinearTheme::font(11.5, QFont::Medium));
        const qreal pad = text().isEmpty() ? 8 : 10;
        const qreal w = 11 + (text().isEmpty() ? 0 : 5 + fm.horizontalAdvance(text())) + 2 * pad;
        return {int(std::ceil(w)), 28};
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const LinearPalette pal = LinearPalette::of(this);
        const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        const QPainterPath shape = LinearTheme::roundedRect(r, 6);
        QColor fill, fg, border;
        if (m_prominent) {
            fill = pal.accent();
            fg = Qt::white;
        } else if (m_destructive) {
            fill = pal.systemRed();
            fill.setAlphaF(pal.isDark() ? 0.16 : 0.10);
            fg = pal.systemRed();
            border = pal.systemRed();
            border.setAlphaF(0.25);
        } else {
            fill = pal.controlBackground();
            fg = pal.label();
            border = pal.separator();
        }
        if (!isEnabled()) p.setOpacity(0.4);
        else if (isDown()) p.setOpacity(0.75);
        p.fillPath(shape, fill);
        if (border.isValid()) {
            p.setPen(QPen(border, 0.75));
            p.drawPath(shape);
        }
        const qreal pad = text().isEmpty() ? 8 : 10;
        LinearTheme::drawSymbol(p, QRectF(pad, (height() - 11) / 2.0, 11, 11), m_symbol, fg);
        if (!text().isEmpty()) {
            p.setFont(LinearTheme::font(11.5, QFont::Medium));
            p.setPen(fg);
            p.drawText(QRectF(pad + 16, 0, width() - pad - 16, height()), Qt::AlignLeft | Qt::AlignVCenter, text());
        }
    }

private:
    QString m_symbol;
    bool m_prominent, m_destructive;
};

// A switch whose label gives way when the row is too narrow (longer languages): it is cut
// with an ellipsis and the whole text stays in the tooltip.
class ElidingCheckBox : public QCheckBox {
public:
    ElidingCheckBox(const QString &text, QWidget *parent) : QCheckBox(parent), m_full(text)
    {
        setToolTip(text);
        setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
        QCheckBox::setText(m_full);
    }
    QString fullText() const { return m_full; }
    QSize sizeHint() const override
    {
        QSize s = QCheckBox::sizeHint();
        s.setWidth(fontMetrics().horizontalAdvance(m_full) + 28);
        return s;
    }
    QSize minimumSizeHint() const override { return {60, QCheckBox::minimumSizeHint().height()}; }

protected:
    void resizeEvent(QResizeEvent *event) override
    {
        QCheckBox::resizeEvent(event);
        const QString shown = fontMetrics().elidedText(m_full, Qt::ElideRight, std::max(0, width() - 28));
        QCheckBox::setText(QString(shown).replace("&", "&&"));
    }

private:
    QString m_full;
};

// A round button drawn over the picture while it is paused.
class BigPlayButton : public QAbstractButton {
public:
    explicit BigPlayButton(QWidget *parent) : QAbstractButton(parent) { setFixedSize(52, 52); setCursor(Qt::PointingHandCursor); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        p.setBrush(QColor(40, 40, 40, 150));
        p.setPen(QPen(QColor(255, 255, 255, 64), 0.75));
        p.drawEllipse(r);
        LinearTheme::drawSymbol(p, QRectF(17.5, 16, 20, 20), "play.fill", Qt::white);
    }
};

// The header's accent tile with the scissors.
class IconTile : public QWidget {
public:
    explicit IconTile(QWidget *parent) : QWidget(parent) { setFixedSize(28, 28); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const LinearPalette pal = LinearPalette::of(this);
        p.fillPath(LinearTheme::roundedRect(QRectF(rect()), 7), pal.accentFill());
        LinearTheme::drawSymbol(p, QRectF(7.5, 7.5, 13, 13), "scissors", pal.accent());
    }
};

// "<total> → <kept>  · ~<size>  [-N% smaller]" on a capsule.
class SummaryChip : public QWidget {
public:
    explicit SummaryChip(QWidget *parent) : QWidget(parent) {}
    void set(const QString &times, const QString &size, const QString &badge)
    {
        m_times = times;
        m_size = size;
        m_badge = badge;
        updateGeometry();
        update();
    }
    QString text() const { return m_times + " " + m_size + (m_badge.isEmpty() ? QString() : " " + m_badge); }
    QSize sizeHint() const override
    {
        const QFontMetricsF a(timesFont()), b(sizeFont()), c(badgeFont());
        qreal w = 20 + a.horizontalAdvance(m_times) + 8 + b.horizontalAdvance(m_size);
        if (!m_badge.isEmpty()) w += 8 + c.horizontalAdvance(m_badge) + 12;
        return {int(std::ceil(w)), 26};
    }

protected:
    static QFont timesFont()
    {
        QFont f = LinearTheme::font(11.5, QFont::DemiBold);
        return f;
    }
    static QFont sizeFont() { return LinearTheme::font(11.5, QFont::Medium); }
    static QFont badgeFont() { return LinearTheme::font(10.5, QFont::DemiBold); }
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const LinearPalette pal = LinearPalette::of(this);
        const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        const QPainterPath capsule = LinearTheme::roundedRect(r, r.height() / 2);
        p.fillPath(capsule, pal.controlBackground());
        QColor border = pal.separator();
        border.setAlphaF(border.alphaF() * 0.65);
        p.setPen(QPen(border, 0.75));
        p.drawPath(capsule);
        qreal x = 10;
        p.setFont(timesFont());
        p.setPen(pal.label());
        const qreal w1 = QFontMetricsF(timesFont()).horizontalAdvance(m_times);
        p.drawText(QRectF(x, 0, w1 + 1, height()), Qt::AlignVCenter, m_times);
        x += w1 + 8;
        p.setFont(sizeFont());
        p.setPen(pal.secondaryLabel());
        const qreal w2 = QFontMetricsF(sizeFont()).horizontalAdvance(m_size);
        p.drawText(QRectF(x, 0, w2 + 1, height()), Qt::AlignVCenter, m_size);
        x += w2 + 8;
        if (!m_badge.isEmpty()) {
            const qreal w3 = QFontMetricsF(badgeFont()).horizontalAdvance(m_badge) + 12;
            const QRectF b(x, (height() - 17) / 2.0, w3, 17);
            QColor green = pal.systemGreen();
            green.setAlphaF(0.15);
            p.fillPath(LinearTheme::roundedRect(b, 8.5), green);
            p.setFont(badgeFont());
            p.setPen(pal.systemGreen());
            p.drawText(b, Qt::AlignCenter, m_badge);
        }
    }

private:
    QString m_times, m_size, m_badge;
};

// One kept range in the list: "#n  start – end  (length)" and, with two or more ranges,
// a delete mark.
class SegmentChip : public QAbstractButton {
public:
    SegmentChip(int number, const VideoClipSegment &segment, bool selected, bool deletable, QWidget *parent)
        : QAbstractButton(parent), m_number(number), m_segment(segment), m_selected(selected)
    {
        setCursor(Qt::PointingHandCursor);
        setText("#" + QString::number(number) + " " + formatDuration(segment.start) + " \u2013 " +
                formatDuration(segment.end) + " (" + formatDuration(std::max(0.0, segment.end - segment.start)) + ")");
        if (deletable) {
            m_delete = new PlainButton(PlainButton::Look{}, {}, this);
            m_delete->setObjectName("chipDelete");
            m_delete->setFixedSize(14, 14);
            m_delete->setCursor(Qt::PointingHandCursor);
        }
        setFixedSize(sizeHint());
        if (m_delete) m_delete->move(width() - 10 - 12, (height() - 14) / 2);
    }
    QAbstractButton *deleteButton() const { return m_delete; }
    QSize sizeHint() const override
    {
        qreal w = 20 + badgeWidth() + 6 + QFontMetricsF(timeFont()).horizontalAdvance(times()) + 6 +
                  QFontMetricsF(lengthFont()).horizontalAdvance(length());
        if (m_delete) w += 6 + 12;
        return {int(std::ceil(w)), 28};
    }

protected:
    static QFont badgeFont() { return LinearTheme::font(10.5, QFont::Bold, LinearTheme::Design::monospaced); }
    static QFont timeFont()
    {
        QFont f = LinearTheme::font(11.5, QFont::DemiBold);
        return f;
    }
    static QFont lengthFont() { return LinearTheme::font(10.5); }
    QString times() const { return formatDuration(m_segment.start) + " \u2013 " + formatDuration(m_segment.end); }
    QString length() const { return "(" + formatDuration(std::max(0.0, m_segment.end - m_segment.start)) + ")"; }
    qreal badgeWidth() const { return QFontMetricsF(badgeFont()).horizontalAdvance("#" + QString::number(m_number)) + 10; }
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const LinearPalette pal = LinearPalette::of(this);
        const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        const QPainterPath shape = LinearTheme::roundedRect(r, 7);
        p.fillPath(shape, m_selected ? pal.accent() : pal.controlBackground());
        if (!m_selected) {
            p.setPen(QPen(pal.separator(), 0.75));
            p.drawPath(shape);
        }
        qreal x = 10;
        const QRectF badge(x, (height() - 16) / 2.0, badgeWidth(), 16);
        p.fillPath(LinearTheme::roundedRect(badge, 8), m_selected ? QColor(255, 255, 255, 56) : pal.accentFill());
        p.setFont(badgeFont());
        p.setPen(m_selected ? QColor(Qt::white) : pal.accent());
        p.drawText(badge, Qt::AlignCenter, "#" + QString::number(m_number));
        x += badge.width() + 6;
        p.setFont(timeFont());
        p.setPen(m_selected ? QColor(Qt::white) : pal.label());
        const qreal tw = QFontMetricsF(timeFont()).horizontalAdvance(times());
        p.drawText(QRectF(x, 0, tw + 1, height()), Qt::AlignVCenter, times());
        x += tw + 6;
        p.setFont(lengthFont());
        p.setPen(m_selected ? QColor(255, 255, 255, 204) : pal.tertiaryLabel());
        p.drawText(QRectF(x, 0, width() - x, height()), Qt::AlignVCenter, length());
        if (m_delete) {
            const QColor mark = m_selected ? QColor(255, 255, 255, 217) : pal.tertiaryLabel();
            LinearTheme::drawSymbol(p, QRectF(m_delete->geometry()).adjusted(3, 3, -3, -3), "xmark", mark);
        }
    }

private:
    int m_number;
    VideoClipSegment m_segment;
    bool m_selected;
    PlainButton *m_delete = nullptr;
};

QFrame *divider(QWidget *parent, bool vertical = false)
{
    auto *line = new QFrame(parent);
    line->setFrameShape(vertical ? QFrame::VLine : QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setStyleSheet("color: palette(mid);");
    if (vertical) line->setFixedSize(1, 18);
    else line->setFixedHeight(1);
    return line;
}

} // namespace

bool VideoEditorSheet::hasFFmpeg() const
{
    // Unset: the located program; an empty path: none.
    const std::optional<QString> &path = m_exportOptions.ffmpegPath ? m_exportOptions.ffmpegPath
                                                                    : MediaMetadataService::ffmpegPath();
    return path && !path->isEmpty();
}

QDialog *VideoEditorSheet::create(AppState *state, const VideoFile &video, QWidget *parent)
{
    return new VideoEditorSheet(state, video, parent);
}

VideoEditorSheet::VideoEditorSheet(AppState *state, const VideoFile &video, QWidget *parent,
                                   const TrimExportOptions &exportOptions)
    : QDialog(parent), m_state(state), m_video(video), m_exportOptions(exportOptions),
      m_stopFrames(std::make_shared<std::atomic<bool>>(false))
{
    initEditorIcons();
    LinearTheme::initialize();
    setWindowTitle(tr_("editor.title"));
    setFixedSize(900, 675);
    m_controller = new VideoPlayerController(this);
    build();
    connect(m_controller, &VideoPlayerController::currentTimeChanged, this, [this](double t) {
        previewKeptTick(t);
        // Only what follows the playhead: this runs on every tick of playback.
        m_timeBadge->setText(formatDuration(m_controller->currentTime()) + " / " + formatDuration(m_totalDuration));
        m_timeline->setCurrentTime(m_controller->currentTime());
    });
    connect(m_controller, &VideoPlayerController::durationChanged, this, &VideoEditorSheet::durationChanged);
    connect(m_controller, &VideoPlayerController::isPlayingChanged, this, &VideoEditorSheet::refresh);
    if (m_state) connect(m_state, &AppState::languageChanged, this, [this] { refresh(); rebuildChips(); });
    fitControlsRow();
    refresh();
    rebuildChips();
    loadVideo();
}

VideoEditorSheet::~VideoEditorSheet() { teardown(); }

QString VideoEditorSheet::tr_(const char *key) const
{
    return L10n::text(QString::fromLatin1(key), m_state ? std::optional<AppLanguage>(m_state->language()) : std::nullopt);
}

void VideoEditorSheet::build()
{
    auto *root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    // Header.
    auto *header = new QHBoxLayout;
    header->setContentsMargins(18, 12, 18, 12);
    header->setSpacing(12);
    auto *titleRow = new QHBoxLayout;
    titleRow->setSpacing(8);
    titleRow->addWidget(new IconTile(this));
    auto *titles = new QVBoxLayout;
    titles->setSpacing(1);
    auto *title = new ThemedLabel(tr_("editor.title"), LinearTheme::font(14, QFont::DemiBold), Tone::label, this);
    title->setObjectName("editorTitle");
    m_name = new ThemedLabel(m_video.name, LinearTheme::font(11.5), Tone::secondary, this);
    m_name->setElideMode(Qt::ElideMiddle);
    titles->addWidget(title);
    titles->addWidget(m_name);
    titleRow->addLayout(titles);
    header->addLayout(titleRow, 1);
    auto *summary = new SummaryChip(this);
    summary->setObjectName("summaryChip");
    m_summary = summary;
    header->addWidget(m_summary);
    auto *close = new LinearIconButton("xmark", QString(), this);
    close->setObjectName("editorClose");
    m_close = close;
    connect(m_close, &QAbstractButton::clicked, this, &VideoEditorSheet::closeEditor);
    header->addWidget(m_close);
    root->addLayout(header);
    root->addWidget(divider(this));

    // Player.
    auto *playerBox = new QWidget(this);
    playerBox->setFixedHeight(310);
    playerBox->setObjectName("editorPlayer");
    playerBox->setStyleSheet("#editorPlayer { background: black; border-radius: 10px; }");
    auto *playerLayout = new QGridLayout(playerBox);
    playerLayout->setContentsMargins(1, 1, 1, 1);
    m_surface = new UnifiedVideoSurface(m_controller, playerBox);
    connect(m_surface, &UnifiedVideoSurface::clicked, this, &VideoEditorSheet::togglePlayPause);
    playerLayout->addWidget(m_surface, 0, 0);
    m_bigPlay = new BigPlayButton(playerBox);
    m_bigPlay->setObjectName("bigPlay");
    connect(m_bigPlay, &QAbstractButton::clicked, this, &VideoEditorSheet::togglePlayPause);
    playerLayout->addWidget(m_bigPlay, 0, 0, Qt::AlignCenter);
    m_timeBadge = new QLabel(playerBox);
    m_timeBadge->setObjectName("timeBadge");
    m_timeBadge->setFont(LinearTheme::font(11.5, QFont::DemiBold, LinearTheme::Design::monospaced));
    m_timeBadge->setStyleSheet("color: white; background: rgba(0,0,0,174); border-radius: 10px; padding: 4px 9px;");
    auto *badgeBox = new QVBoxLayout;
    badgeBox->setContentsMargins(12, 12, 12, 12);
    badgeBox->addStretch();
    badgeBox->addWidget(m_timeBadge, 0, Qt::AlignLeft | Qt::AlignBottom);
    playerLayout->addLayout(badgeBox, 0, 0, Qt::AlignLeft | Qt::AlignBottom);
    auto *playerPad = new QHBoxLayout;
    playerPad->setContentsMargins(18, 14, 18, 0);
    playerPad->addWidget(playerBox);
    root->addLayout(playerPad);

    // Controls row.
    auto *controls = new QHBoxLayout;
    controls->setContentsMargins(18, 12, 18, 10);
    controls->setSpacing(8);
    auto *transport = new QHBoxLayout;
    transport->setSpacing(4);
    auto tool = [this](const QString &symbol, const QString &title, const QString &tip, bool prominent = false,
                       bool destructive = false) {
        auto *b = new ToolButton(symbol, title, prominent, destructive, this);
        b->setToolTip(tip);
        return b;
    };
    m_back5 = tool("gobackward.5", {}, "-5s");
    m_back1 = tool("chevron.left", "-1s", "-1s");
    m_play = tool("play.fill", tr_("editor.play"), tr_("editor.play"), true);
    m_fwd1 = tool("chevron.right", "+1s", "+1s");
    m_fwd5 = tool("goforward.5", {}, "+5s");
    m_play->setObjectName("editorPlay");
    connect(m_back5, &QAbstractButton::clicked, this, [this] { seek(m_controller->currentTime() - 5); });
    connect(m_back1, &QAbstractButton::clicked, this, [this] { seek(m_controller->currentTime() - 1); });
    connect(m_play, &QAbstractButton::clicked, this, &VideoEditorSheet::togglePlayPause);
    connect(m_fwd1, &QAbstractButton::clicked, this, [this] { seek(m_controller->currentTime() + 1); });
    connect(m_fwd5, &QAbstractButton::clicked, this, [this] { seek(m_controller->currentTime() + 5); });
    for (QAbstractButton *b : {m_back5, m_back1, m_play, m_fwd1, m_fwd5}) transport->addWidget(b);
    controls->addLayout(transport);
    controls->addWidget(divider(this, true));
    m_split = tool("scissors", tr_("editor.split"), tr_("editor.split"));
    m_add = tool("plus.rectangle.on.rectangle", tr_("editor.addRange"), tr_("editor.addRange"));
    m_remove = tool("trash", tr_("editor.removeRange"), tr_("editor.removeRange"), false, true);
    m_reset = tool("arrow.uturn.backward", tr_("editor.reset"), tr_("editor.reset"));
    m_split->setObjectName("editorSplit");
    m_add->setObjectName("editorAddRange");
    m_remove->setObjectName("editorRemoveRange");
    m_reset->setObjectName("editorReset");
    connect(m_split, &QAbstractButton::clicked, this, &VideoEditorSheet::splitAtPlayhead);
    connect(m_add, &QAbstractButton::clicked, this, &VideoEditorSheet::addRange);
    connect(m_remove, &QAbstractButton::clicked, this, &VideoEditorSheet::removeSelectedRange);
    connect(m_reset, &QAbstractButton::clicked, this, &VideoEditorSheet::resetSegments);
    for (QAbstractButton *b : {m_split, m_add, m_remove, m_reset}) controls->addWidget(b);
    controls->addStretch(1);
    m_previewToggle = new ElidingCheckBox(tr_("editor.previewKept"), this);
    m_previewToggle->setObjectName("previewKept");
    m_previewToggle->setFont(LinearTheme::font(11.5, QFont::Medium));
    m_previewToggle->setChecked(m_previewKeptOnly);
    connect(m_previewToggle, &QCheckBox::toggled, this, &VideoEditorSheet::setPreviewKeptOnly);
    controls->addWidget(m_previewToggle);
    root->addLayout(controls);

    // Timeline.
    m_timeline = new FilmstripTimelineView(this);
    m_timeline->setHandleWidth(12);
    m_timeline->setMinSegmentDuration(0.25);
    connect(m_timeline, &FilmstripTimelineView::seekRequested, this, &VideoEditorSheet::seek);
    connect(m_timeline, &FilmstripTimelineView::segmentsEdited, this, [this](const QList<VideoClipSegment> &s) {
        m_segments = s;
        segmentsChanged();
    });
    connect(m_timeline, &FilmstripTimelineView::selectionEdited, this, [this](const std::optional<QUuid> &id) {
        m_selected = id;
        segmentsChanged();
    });
    auto *timelinePad = new QHBoxLayout;
    timelinePad->setContentsMargins(18, 0, 18, 0);
    timelinePad->addWidget(m_timeline);
    root->addLayout(timelinePad);

    // Segment list.
    auto *list = new QVBoxLayout;
    list->setContentsMargins(18, 12, 18, 14);
    list->setSpacing(6);
    auto *listHeader = new QHBoxLayout;
    listHeader->setSpacing(8);
    QFont headerFont = LinearTheme::font(10, QFont::DemiBold);
    headerFont.setLetterSpacing(QFont::AbsoluteSpacing, 0.6);
    m_segmentsHeader = new ThemedLabel({}, headerFont, Tone::tertiary, this);
    listHeader->addWidget(m_segmentsHeader);
    auto *hint = new ThemedLabel(tr_("editor.hint"), LinearTheme::font(10.5), Tone::tertiary, this);
    listHeader->addWidget(hint, 1);
    list->addLayout(listHeader);
    auto *scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidgetResizable(true);
    scroll->setFixedHeight(32);
    scroll->setStyleSheet("QScrollArea, QScrollArea > QWidget > QWidget { background: transparent; }");
    auto *chips = new QWidget(scroll);
    m_chipRow = new QHBoxLayout(chips);
    m_chipRow->setContentsMargins(0, 0, 0, 0);
    m_chipRow->setSpacing(8);
    m_chipRow->addStretch(1);
    scroll->setWidget(chips);
    list->addWidget(scroll);
    root->addLayout(list);
    root->addStretch(1);
    // Every export runs ffmpeg: without it the editor says so before the user tries.
    auto *noteRow = new QWidget(this);
    auto *noteLayout = new QHBoxLayout(noteRow);
    noteLayout->setContentsMargins(18, 0, 18, 10);
    m_ffmpegNote = new ThemedLabel(tr_("trim.noFFmpeg"), LinearTheme::font(12, QFont::Medium), Tone::red, noteRow);
    m_ffmpegNote->setObjectName("ffmpegMissingNote");
    m_ffmpegNote->setWordWrap(true);
    noteLayout->addWidget(m_ffmpegNote);
    noteRow->setVisible(!hasFFmpeg());
    root->addWidget(noteRow);
    root->addWidget(divider(this));

    // Footer: settings, or progress while exporting.
    m_footer = new QStackedWidget(this);
    auto *settings = new QWidget(m_footer);
    auto *s = new QHBoxLayout(settings);
    s->setContentsMargins(18, 12, 18, 12);
    s->setSpacing(12);
    auto column = [this](const char *key, QComboBox *picker, int width) {
        auto *c = new QVBoxLayout;
        c->setSpacing(3);
        c->addWidget(new ThemedLabel(tr_(key), LinearTheme::font(10, QFont::DemiBold), Tone::tertiary, this));
        picker->setFixedWidth(width);
        c->addWidget(picker);
        return c;
    };
    m_presetPicker = new QComboBox(settings);
    m_presetPicker->setObjectName("presetPicker");
    for (const char *key : {"editor.preset.passthrough", "editor.preset.hevc", "editor.preset.h264"})
        m_presetPicker->addItem(tr_(key));
    connect(m_presetPicker, &QComboBox::currentIndexChanged, this,
            [this](int i) { if (i >= 0) setExportPreset(TrimExportPresetInfo::allCases().value(i)); });
    m_saveModePicker = new QComboBox(settings);
    m_saveModePicker->setObjectName("saveModePicker");
    m_saveModePicker->addItem(tr_("editor.save.new"));
    m_saveModePicker->addItem(tr_("editor.save.replace"));
    connect(m_saveModePicker, &QComboBox::currentIndexChanged, this,
            [this](int i) { if (i >= 0) setSaveMode(TrimSaveModeInfo::allCases().value(i)); });
    s->addLayout(column("editor.quality", m_presetPicker, 245));
    s->addLayout(column("editor.saveMode", m_saveModePicker, 280));
    s->addStretch(1);
    m_footerCancel = new QPushButton(tr_("toolbar.cancel"), settings);
    m_footerCancel->setObjectName("footerCancel");
    m_footerCancel->setAutoDefault(false);
    connect(m_footerCancel, &QPushButton::clicked, this, &VideoEditorSheet::closeEditor);
    m_export = new QPushButton(settings);
    m_export->setObjectName("exportButton");
    m_export->setIcon(LinearTheme::symbol("square.and.arrow.down"));
    m_export->setDefault(true);
    connect(m_export, &QPushButton::clicked, this, &VideoEditorSheet::startExport);
    s->addWidget(m_footerCancel);
    s->addWidget(m_export);
    m_footer->addWidget(settings);

    auto *progress = new QWidget(m_footer);
    auto *p = new QHBoxLayout(progress);
    p->setContentsMargins(18, 14, 18, 14);
    p->setSpacing(12);
    m_progress = new QProgressBar(progress);
    m_progress->setRange(0, 1000);
    m_progress->setTextVisible(false);
    m_progress->setMaximumWidth(320);
    m_progress->setMinimumWidth(220);
    m_stageLabel = new ThemedLabel({}, LinearTheme::font(12, QFont::Medium), Tone::label, progress);
    m_stageLabel->setObjectName("exportStage");
    m_progressCancel = new QPushButton(tr_("toolbar.cancel"), progress);
    m_progressCancel->setObjectName("progressCancel");
    m_progressCancel->setAutoDefault(false);
    connect(m_progressCancel, &QPushButton::clicked, this, &VideoEditorSheet::cancelExport);
    p->addWidget(m_progress);
    p->addWidget(m_stageLabel);
    p->addStretch(1);
    p->addWidget(m_progressCancel);
    m_footer->addWidget(progress);
    root->addWidget(m_footer);
}

// ---- state that the layout reads ----

QList<VideoClipSegment> VideoEditorSheet::sortedSegments() const { return TrimSegments::sorted(m_segments); }
double VideoEditorSheet::keptDuration() const { return TrimSegments::keptDuration(m_segments); }

qint64 VideoEditorSheet::estimatedOutputBytes() const
{
    return TrimSegments::estimatedOutputBytes(m_video.fileSize, keptDuration(), m_totalDuration, m_preset);
}

int VideoEditorSheet::estimatedSavingsPercent() const
{
    return TrimSegments::estimatedSavingsPercent(m_video.fileSize, estimatedOutputBytes());
}

QString VideoEditorSheet::summaryText() const { return static_cast<SummaryChip *>(m_summary)->text(); }
QString VideoEditorSheet::timeBadgeText() const { return m_timeBadge->text(); }
QString VideoEditorSheet::segmentsHeaderText() const { return m_segmentsHeader->text(); }

void VideoEditorSheet::refresh()
{
    const bool known = m_totalDuration > 0;
    auto *chip = static_cast<SummaryChip *>(m_summary);
    const int savings = estimatedSavingsPercent();
    chip->set(formatDuration(m_totalDuration) + " \u2192 " + formatDuration(keptDuration()),
              "\u00B7 ~" + formatByteCount(estimatedOutputBytes()),
              savings >= 5 ? "-" + QString::number(savings) + "% " + tr_("editor.saved") : QString());
    chip->setVisible(known);
    m_close->setEnabled(!m_isExporting);

    const bool playing = m_controller && m_controller->isPlaying();
    m_bigPlay->setVisible(!playing);
    m_timeBadge->setText(formatDuration(m_controller ? m_controller->currentTime() : 0) + " / " +
                         formatDuration(m_totalDuration));
    auto *play = static_cast<ToolButton *>(m_play);
    play->setSymbol(playing ? "pause.fill" : "play.fill");
    play->setText(playing ? tr_("editor.pause") : tr_("editor.play"));
    play->setFixedSize(play->sizeHint());

    m_split->setEnabled(m_totalDuration > 0.6);
    m_add->setEnabled(m_totalDuration > 0.6);
    m_remove->setEnabled(m_selected.has_value() && m_segments.size() >= 2);
    m_previewToggle->setChecked(m_previewKeptOnly);

    m_timeline->setTotalDuration(m_totalDuration);
    m_timeline->setCurrentTime(m_controller ? m_controller->currentTime() : 0);
    m_timeline->setSegments(m_segments);
    m_timeline->setSelectedSegmentID(m_selected);

    m_segmentsHeader->setText(tr_("editor.segmentsHeader") + " (" + QString::number(m_segments.size()) + ")");
    // A button reads '&' as a shortcut marker; the texts are shown as they stand.
    m_export->setText(QString(m_segments.size() < 2 ? tr_("editor.trimExport") : tr_("editor.mergeExport"))
                          .replace("&", "&&"));
    m_export->setEnabled(!m_segments.isEmpty() && m_totalDuration > 0 && hasFFmpeg());
    m_ffmpegNote->setText(tr_("trim.noFFmpeg"));
    m_footer->setCurrentIndex(m_isExporting ? 1 : 0);
    m_progress->setValue(int(std::lround(std::clamp(m_exportProgress, 0.0, 1.0) * 1000)));
    m_stageLabel->setText(m_exportStage);
}

void VideoEditorSheet::fitControlsRow()
{
    // Longer languages do not fit the row: the editing buttons give up their titles, longest
    // first, until it does (each keeps its title as its tooltip).
    const QList<QAbstractButton *> editing{m_split, m_add, m_remove, m_reset};
    for (QAbstractButton *b : editing) {
        b->setText(b->toolTip());
        b->setFixedSize(b->sizeHint());
    }
    auto needed = [&] {
        int w = 2 * 18 + 18 + 9 * 8 + 4 * 4 + 140; // margins, divider, spacings, a readable switch
        for (QAbstractButton *b : {m_back5, m_back1, m_play, m_fwd1, m_fwd5, m_split, m_add, m_remove, m_reset})
            w += b->sizeHint().width();
        return w;
    };
    QList<QAbstractButton *> byLength = editing;
    std::sort(byLength.begin(), byLength.end(),
              [](QAbstractButton *a, QAbstractButton *b) { return a->sizeHint().width() > b->sizeHint().width(); });
    for (QAbstractButton *b : byLength) {
        if (needed() <= width()) break;
        b->setText(QString());
        b->setFixedSize(b->sizeHint());
    }
}

void VideoEditorSheet::rebuildChips()
{
    for (QWidget *w : m_chips) w->deleteLater();
    m_chips.clear();
    const QList<VideoClipSegment> list = sortedSegments();
    for (int i = 0; i < list.size(); ++i) {
        const VideoClipSegment seg = list[i];
        auto *chip = new SegmentChip(i + 1, seg, m_selected == seg.id, list.size() >= 2, m_chipRow->parentWidget());
        chip->setObjectName("segmentChip");
        connect(chip, &QAbstractButton::clicked, this, [this, seg] { selectSegment(seg); });
        if (QAbstractButton *del = chip->deleteButton())
            connect(del, &QAbstractButton::clicked, this, [this, id = seg.id] { removeSegment(id); });
        m_chipRow->insertWidget(i, chip);
        m_chips << chip;
    }
}

void VideoEditorSheet::segmentsChanged()
{
    refresh();
    rebuildChips();
}

// ---- loading and playback ----

void VideoEditorSheet::loadVideo()
{
    m_controller->load(m_video.url(), false, false, false, 0);
    QPointer<VideoEditorSheet> self(this);
    MediaMetadataService::shared().metadata(m_video.url(), this, [self](const VideoMediaInfo &info) {
        if (!self || self->m_tornDown) return;
        if (!info.isPlayableNatively && !self->m_controller->isUsingMPV()) self->m_controller->fallBackToMPV();
        if (info.duration && *info.duration > 0) self->applyDuration(*info.duration);
    });
}

void VideoEditorSheet::applyDuration(double seconds)
{
    if (!(seconds > 0)) return;
    // A later, shorter duration (the probe after the player, say) must not leave ranges
    // reaching past the end.
    if (!m_segments.isEmpty()) TrimSegments::clampToDuration(m_segments, seconds, m_selected);
    m_totalDuration = seconds;
    if (m_segments.isEmpty()) {
        const VideoClipSegment full = VideoClipSegment::make(0, seconds);
        m_segments = {full};
        m_selected = full.id;
    }
    segmentsChanged();
    generateFilmstrip(seconds);
}

void VideoEditorSheet::durationChanged(double seconds)
{
    if (seconds > 0 && m_totalDuration == 0) applyDuration(seconds);
}

void VideoEditorSheet::generateFilmstrip(double duration)
{
    if (!(duration > 0)) {
        m_filmstrip.clear();
        m_timeline->setFilmstrip({});
        return;
    }
    const quint64 generation = ++m_filmstripGeneration;
    const QString path = m_video.url().toLocalFile();
    const std::optional<QString> ffmpeg = m_exportOptions.ffmpegPath;
    std::shared_ptr<std::atomic<bool>> stop = m_stopFrames;
    QPointer<VideoEditorSheet> self(this);
    QThreadPool::globalInstance()->start([self, path, duration, ffmpeg, stop, generation] {
        auto stopped = [stop] { return stop->load(); };
        QList<QImage> frames = VideoTrimExportService::filmstripFrames(path, duration, 14, stopped);
        if (frames.isEmpty() && !stopped())
            frames = VideoTrimExportService::ffmpegFilmstrip(path, duration, 14, ffmpeg, stopped);
        if (stopped()) return;
        QMetaObject::invokeMethod(QCoreApplication::instance(), [self, frames, generation] {
            // A later request replaces what an earlier one brings.
            if (!self || self->m_tornDown || generation != self->m_filmstripGeneration) return;
            self->m_filmstrip = frames;
            self->m_timeline->setFilmstrip(frames);
        }, Qt::QueuedConnection);
    });
}

void VideoEditorSheet::togglePlayPause()
{
    if (m_controller->isPlaying()) m_controller->pause();
    else m_controller->play();
}

void VideoEditorSheet::seek(double seconds) { m_controller->seek(seconds); refresh(); }

void VideoEditorSheet::previewKeptTick(double seconds)
{
    if (m_previewKeptOnly && m_controller->isPlaying() && !m_segments.isEmpty()) keepPlaybackInKeptRanges(seconds);
}

void VideoEditorSheet::keepPlaybackInKeptRanges(double seconds)
{
    const TrimSegments::PreviewStep step = TrimSegments::previewStep(m_segments, seconds);
    if (step.kind == TrimSegments::PreviewStep::Kind::pauseAndSeek) m_controller->pause();
    if (step.kind != TrimSegments::PreviewStep::Kind::none) m_controller->seek(step.target);
}

// ---- editing ----

void VideoEditorSheet::splitAtPlayhead()
{
    if (const auto id = TrimSegments::splitAt(m_segments, m_controller->currentTime())) {
        m_selected = *id;
        segmentsChanged();
    }
}

void VideoEditorSheet::addRange()
{
    if (const auto added = TrimSegments::addRange(m_segments, m_totalDuration, m_controller->currentTime())) {
        m_selected = added->id;
        segmentsChanged();
        m_controller->seek(added->start);
    }
}

void VideoEditorSheet::removeSegment(const QUuid &id)
{
    if (TrimSegments::remove(m_segments, id, m_selected)) segmentsChanged();
}

void VideoEditorSheet::removeSelectedRange()
{
    if (m_selected) removeSegment(*m_selected);
}

void VideoEditorSheet::resetSegments()
{
    if (!(m_totalDuration > 0)) return;
    const VideoClipSegment full = VideoClipSegment::make(0, m_totalDuration);
    m_segments = {full};
    m_selected = full.id;
    segmentsChanged();
}

void VideoEditorSheet::selectSegment(const VideoClipSegment &segment)
{
    m_selected = segment.id;
    segmentsChanged();
    m_controller->seek(segment.start);
}

void VideoEditorSheet::setPreviewKeptOnly(bool on)
{
    m_previewKeptOnly = on;
}

void VideoEditorSheet::setExportPreset(TrimExportPreset preset)
{
    m_preset = preset;
    if (m_presetPicker->currentIndex() != int(preset)) m_presetPicker->setCurrentIndex(int(preset));
    refresh();
}

void VideoEditorSheet::setSaveMode(TrimSaveMode mode)
{
    m_saveMode = mode;
    if (m_saveModePicker->currentIndex() != int(mode)) m_saveModePicker->setCurrentIndex(int(mode));
}

// ---- export ----

void VideoEditorSheet::startExport()
{
    if (m_isExporting || m_segments.isEmpty() || !(m_totalDuration > 0) || !hasFFmpeg()) return;
    m_controller->pause();
    m_isExporting = true;
    m_exportProgress = 0.02;
    m_exportStage = tr_("trim.stageExporting");
    refresh();

    // The job reports to the application state, which outlives this sheet: a result that is
    // put in place after the user cancelled or closed still reaches the library.
    QObject *owner = m_state ? static_cast<QObject *>(m_state.data()) : static_cast<QObject *>(this);
    TrimExportJob *job = VideoTrimExportService::start(m_video, sortedSegments(), m_preset, m_saveMode, owner,
                                                       m_exportOptions);
    m_job = job;
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    m_jobCancelled = cancelled;
    QPointer<VideoEditorSheet> self(this);
    QPointer<AppState> state = m_state;
    const VideoFile source = m_video;
    job->onEvent(owner, [self, state, source, cancelled](const TrimExportEvent &e) {
        const bool live = self && !*cancelled;
        switch (e.kind) {
        case TrimExportEvent::Kind::progress:
            if (live) {
                self->m_exportProgress = e.fraction;
                self->m_exportStage = e.stage;
                self->refresh();
            }
            break;
        case TrimExportEvent::Kind::completed:
            if (self) self->m_isExporting = false;
            if (state) {
                state->applyTrimExport(source, e.outputURL, e.outputSize, e.replacedOriginal);
                if (!e.message.isEmpty()) state->showToast(e.message, true, false);
                // The file the sheet edits has been dealt with: the sheet closes.
                if (state->videoPendingEdit() && state->videoPendingEdit()->id == source.id)
                    state->setVideoPendingEdit(std::nullopt);
            }
            break;
        case TrimExportEvent::Kind::failed:
            // The job stays silent about failures once cancelled, except those that leave
            // files somewhere the user must be told about.
            if (self && !*cancelled) {
                self->m_isExporting = false;
                self->refresh();
            }
            if (state) state->showToast(e.message, true, false);
            break;
        }
    });
    connect(job, &TrimExportJob::finished, job, &QObject::deleteLater);
}

void VideoEditorSheet::cancelExport()
{
    if (m_jobCancelled) *m_jobCancelled = true;
    if (m_job) m_job->cancel();
    m_isExporting = false;
    refresh();
}

void VideoEditorSheet::closeEditor()
{
    if (m_isExporting) cancelExport();
    m_controller->pause();
    if (m_state && m_state->videoPendingEdit()) m_state->setVideoPendingEdit(std::nullopt);
    else reject();
}

void VideoEditorSheet::teardown()
{
    if (m_tornDown) return;
    m_tornDown = true;
    *m_stopFrames = true;
    if (m_isExporting) cancelExport();
    if (m_controller) m_controller->teardown();
}

void VideoEditorSheet::done(int result)
{
    teardown();
    QDialog::done(result);
}

void VideoEditorSheet::closeEvent(QCloseEvent *event)
{
    teardown();
    QDialog::closeEvent(event);
}
