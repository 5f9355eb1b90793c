#include "ui/inspector/InspectorSections.h"

#include "library/Models.h"
#include "ui/inspector/InspectorWidgets.h"
#include "ui/LinearTheme.h"
#include "ui/player/ScrubberBar.h"

#include <QHBoxLayout>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTextBoundaryFinder>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {
QColor accentOf(const LinearPalette &p) { return p.accent(); }
QColor labelOf(const LinearPalette &p) { return p.label(); }
QColor secondaryOf(const LinearPalette &p) { return p.secondaryLabel(); }
QColor tertiaryOf(const LinearPalette &p) { return p.tertiaryLabel(); }

// The interface fonts here draw digits of equal width already.
QFont monoDigits(qreal size, QFont::Weight weight) { return LinearTheme::font(size, weight); }

void clearLayout(QLayout *layout)
{
    while (QLayoutItem *item = layout->takeAt(0)) {
        if (QWidget *w = item->widget()) w->deleteLater();
        if (QLayout *l = item->layout()) clearLayout(l);
        delete item;
    }
}

// A horizontal strip that scrolls sideways without showing a bar; the mouse wheel moves
// it sideways too, since it has nothing to scroll vertically.
class SidewaysScroller : public QScrollArea {
public:
    explicit SidewaysScroller(QWidget *content, QWidget *parent) : QScrollArea(parent)
    {
        setFrameShape(QFrame::NoFrame);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setWidgetResizable(true);
        setWidget(content);
        viewport()->setAutoFillBackground(false);
        content->setAutoFillBackground(false);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }
    QSize sizeHint() const override { return {0, widget() ? widget()->sizeHint().height() : 0}; }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void wheelEvent(QWheelEvent *event) override
    {
        const QPoint d = event->angleDelta();
        horizontalScrollBar()->setValue(horizontalScrollBar()->value() - (d.x() != 0 ? d.x() : d.y()) / 2);
        event->accept();
    }
};

QHBoxLayout *headerRow(int spacing)
{
    auto *h = new QHBoxLayout;
    h->setContentsMargins(0, 0, 0, 0);
    h->setSpacing(spacing);
    return h;
}

} // namespace

QStringList topLabels(const VideoVisualIndexEntry &entry) { return entry.topLabels().mid(0, kMaxTagChips); }

QString leadingGraphemes(const QString &text, int count)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int taken = 0;
    qsizetype end = 0;
    while (taken < count) {
        const qsizetype next = finder.toNextBoundary();
        if (next < 0) return text;
        end = next;
        ++taken;
    }
    return text.left(end);
}

// ---- MomentChip ----

MomentChip::MomentChip(const VisualSearchMoment &moment, QWidget *parent) : QWidget(parent), m_moment(moment)
{
    initInspectorIcons();
    auto *l = new QHBoxLayout(this);
    l->setContentsMargins(0, 0, 0, 0);
    m_button = new PaintedButton(this);
    PaintedButton::Look look;
    look.capsule = true;
    look.fill = [this](const LinearPalette &p) { return m_current ? p.accent() : p.accentFill(); };
    m_button->setLook(look);
    const PaletteColor fg = [this](const LinearPalette &p) { return m_current ? QColor(Qt::white) : p.accent(); };
    QHBoxLayout *row = m_button->row();
    row->setContentsMargins(9, 4, 9, 4); // 4.5 in the design, whole pixels here
    row->setSpacing(4);
    m_icon = new SymbolView(iconName(), 8.5, fg, m_button);
    m_label = new InspectorLabel(formatDuration(moment.timestamp), monoDigits(11, QFont::DemiBold), fg, m_button);
    row->addWidget(m_icon);
    row->addWidget(m_label);
    l->addWidget(m_button);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(m_button, &QAbstractButton::clicked, this, [this] { emit jump(m_moment.timestamp); });
}

QString MomentChip::iconName() const { return m_moment.isOCRMatch ? "text.viewfinder" : "play.fill"; }
QString MomentChip::text() const { return m_label->text(); }

void MomentChip::setCurrent(bool current)
{
    if (m_current == current) return;
    m_current = current;
    // The label keeps its colour in its palette; ask it to pick again.
    m_label->setColor([this](const LinearPalette &p) { return m_current ? QColor(Qt::white) : p.accent(); });
    m_icon->update();
    m_button->update();
}

// ---- MatchedMomentsSection ----

MatchedMomentsSection::MatchedMomentsSection(QWidget *parent) : QWidget(parent)
{
    initInspectorIcons();
    auto *v = new QVBoxLayout(this);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(7);
    auto *header = headerRow(5);
    m_icon = new SymbolView("sparkle.magnifyingglass", 10.5, accentOf, this);
    m_title = new InspectorLabel({}, LinearTheme::font(11, QFont::DemiBold), labelOf, this);
    m_count = new InspectorLabel({}, monoDigits(10, QFont::DemiBold), tertiaryOf, this);
    header->addWidget(m_icon);
    header->addWidget(m_title);
    header->addStretch(1);
    header->addWidget(m_count);
    v->addLayout(header);

    auto *content = new QWidget;
    m_chipRow = new QHBoxLayout(content);
    m_chipRow->setContentsMargins(0, 0, 0, 0);
    m_chipRow->setSpacing(6);
    m_chipRow->addStretch(1);
    m_scroller = new SidewaysScroller(content, this);
    v->addWidget(m_scroller);
}

void MatchedMomentsSection::setHit(const VisualSearchHit &hit, AppLanguage language)
{
    m_title->setText(L10n::text("ai.matchedMoments", language));
    for (MomentChip *chip : m_chips) chip->setToolTip(L10n::text("ai.jumpToMoment", language));
    if (m_hit && *m_hit == hit) return;
    m_hit = hit;
    m_icon->setSymbol(headerIcon());
    m_count->setText(QString::number(hit.moments.size()));
    clearLayout(m_chipRow);
    m_chips.clear();
    auto *content = m_chipRow->parentWidget();
    for (const VisualSearchMoment &moment : hit.moments) {
        auto *chip = new MomentChip(moment, content);
        chip->setToolTip(L10n::text("ai.jumpToMoment", language));
        connect(chip, &MomentChip::jump, this, &MatchedMomentsSection::jumpRequested);
        m_chipRow->addWidget(chip);
        m_chips.append(chip);
    }
    m_chipRow->addStretch(1);
    m_scroller->updateGeometry();
    setCurrentTime(m_currentTime);
}

QString MatchedMomentsSection::headerIcon() const
{
    return m_hit && m_hit->isOCRMatch ? "text.viewfinder" : "sparkle.magnifyingglass";
}

QString MatchedMomentsSection::countText() const { return m_count->text(); }

void MatchedMomentsSection::setCurrentTime(double seconds)
{
    m_currentTime = seconds;
    for (MomentChip *chip : m_chips)
        chip->setCurrent(std::abs(seconds - chip->moment().timestamp) < kCurrentMomentWindow);
}

// ---- AIInsightsSection ----

AIInsightsSection::AIInsightsSection(QWidget *parent) : QWidget(parent)
{
    initInspectorIcons();
    m_layout = new QVBoxLayout(this);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(6);
    auto *header = headerRow(5);
    header->addWidget(new SymbolView("sparkle.magnifyingglass", 10.5, accentOf, this));
    m_title = new InspectorLabel({}, LinearTheme::font(11, QFont::DemiBold), labelOf, this);
    m_engine = new InspectorLabel({}, LinearTheme::font(9.5, QFont::Medium), tertiaryOf, this);
    header->addWidget(m_title);
    header->addStretch(1);
    header->addWidget(m_engine);
    m_layout->addLayout(header);

    m_ocrRow = new QWidget(this);
    auto *ocr = new QHBoxLayout(m_ocrRow);
    ocr->setContentsMargins(0, 0, 0, 0);
    ocr->setSpacing(5);
    auto *ocrIcon = new SymbolView("text.viewfinder", 10, accentOf, m_ocrRow);
    ocrIcon->setContentsMargins(0, 2, 0, 0);
    auto *iconBox = new QVBoxLayout;
    iconBox->setContentsMargins(0, 2, 0, 0);
    iconBox->addWidget(ocrIcon);
    iconBox->addStretch(1);
    ocr->addLayout(iconBox);
    m_ocr = new InspectorLabel({}, LinearTheme::font(10.5, QFont::Normal, LinearTheme::Design::monospaced), secondaryOf,
                            m_ocrRow);
    m_ocr->setMaxLines(3);
    m_ocr->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_ocr->setTextFormat(Qt::PlainText);
    ocr->addWidget(m_ocr, 1);
    m_layout->addWidget(m_ocrRow);
    m_tagsView = new FlowTagsView(this);
    m_tagsView->hide();
    m_layout->addWidget(m_tagsView);
}

void AIInsightsSection::setEntry(const VideoVisualIndexEntry &entry, AppLanguage language)
{
    m_title->setText(L10n::text("inspector.aiInsights", language));
    m_engine->setText(entry.engineUsed);
    m_ocr->setText(leadingGraphemes(entry.ocrText, kOCRPreviewLength));
    m_ocrRow->setVisible(!entry.ocrText.isEmpty());
    m_tags = topLabels(entry);
    if (m_tagsView->tags() != m_tags) m_tagsView->setTags(m_tags);
    m_tagsView->setVisible(!m_tags.isEmpty());
}

QString AIInsightsSection::ocrText() const { return m_ocrRow->isVisibleTo(this) ? m_ocr->text() : QString(); }
bool AIInsightsSection::hasOCRRow() const { return m_ocrRow->isVisibleTo(this); }
QString AIInsightsSection::engineText() const { return m_engine->text(); }

// ---- TranscriptSection ----

TranscriptSection::TranscriptSection(QWidget *parent) : QWidget(parent)
{
    initInspectorIcons();
    auto *v = new QVBoxLayout(this);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(7);
    auto *header = headerRow(6);
    header->addWidget(new SymbolView("waveform", 10.5, accentOf, this));
    m_title = new InspectorLabel({}, LinearTheme::font(11, QFont::DemiBold), labelOf, this);
    header->addWidget(m_title);
    header->addStretch(1);

    m_progress = new QWidget(this);
    auto *ph = new QHBoxLayout(m_progress);
    ph->setContentsMargins(0, 0, 0, 0);
    ph->setSpacing(4);
    auto *bar = new QProgressBar(m_progress);
    bar->setRange(0, 0); // indeterminate
    bar->setTextVisible(false);
    bar->setFixedSize(28, 6);
    ph->addWidget(bar);
    m_progressText = new InspectorLabel({}, LinearTheme::font(10), secondaryOf, m_progress);
    ph->addWidget(m_progressText);
    header->addWidget(m_progress);

    m_engine = new InspectorLabel(QString::fromLatin1(kSpeechEngineName), LinearTheme::font(9.5, QFont::Medium), tertiaryOf,
                               this);
    header->addWidget(m_engine);

    m_button = new QPushButton(this);
    m_button->setObjectName("speech.transcribe");
    m_button->setFont(LinearTheme::font(10.5));
    m_button->setAttribute(Qt::WA_MacMiniSize);
    m_button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    header->addWidget(m_button);
    connect(m_button, &QPushButton::clicked, this, &TranscriptSection::transcribeRequested);
    v->addLayout(header);

    m_body = new QWidget(this);
    m_bodyLayout = new QVBoxLayout(m_body);
    m_bodyLayout->setContentsMargins(0, 0, 0, 0);
    m_bodyLayout->setSpacing(5);
    v->addWidget(m_body);
    m_noSpeech = new InspectorLabel({}, LinearTheme::font(11), tertiaryOf, this);
    m_noSpeech->setObjectName("speech.noSpeech");
    m_noSpeech->setWordWrap(true);
    v->addWidget(m_noSpeech);
}

void TranscriptSection::setData(bool isTranscribing, const std::optional<VideoTranscriptEntry> &entry,
                                AppLanguage language)
{
    m_title->setText(L10n::text("speech.transcript", language));
    m_progressText->setText(L10n::text("speech.transcribing", language));
    m_button->setText(L10n::text("speech.transcribe", language));
    m_noSpeech->setText(L10n::text("speech.noSpeech", language));

    // Transcribing wins over an older transcript.
    m_trailing = isTranscribing ? Trailing::progress : entry ? Trailing::engineName : Trailing::transcribeButton;
    m_progress->setVisible(m_trailing == Trailing::progress);
    m_engine->setVisible(m_trailing == Trailing::engineName);
    m_button->setVisible(m_trailing == Trailing::transcribeButton);

    m_noSpeech->setVisible(entry && entry->segments.isEmpty());
    m_body->setVisible(entry && !entry->segments.isEmpty());
    if (m_built && entry == m_entry && language == m_language) return;
    m_built = true;
    m_entry = entry;
    m_language = language;
    clearLayout(m_bodyLayout);
    m_segmentButtons.clear();
    if (!entry) return;
    const int shown = std::min<int>(entry->segments.size(), kMaxTranscriptSegments);
    for (int i = 0; i < shown; ++i) {
        const TranscriptSegment &segment = entry->segments[i];
        auto *b = new PaintedButton(m_body);
        b->setObjectName("transcript-segment");
        QHBoxLayout *row = b->row();
        row->setSpacing(6);
        row->setAlignment(Qt::AlignTop);
        auto *time = new InspectorLabel(formatDuration(segment.start),
                                     LinearTheme::font(10, QFont::DemiBold, LinearTheme::Design::monospaced), accentOf, b);
        time->setContentsMargins(0, 1, 0, 0);
        time->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        auto *text = new InspectorLabel(segment.text, LinearTheme::font(11), secondaryOf, b);
        text->setTextFormat(Qt::PlainText);
        text->setMaxLines(2);
        row->addWidget(time, 0, Qt::AlignTop);
        row->addWidget(text, 1);
        QSizePolicy sp(QSizePolicy::Expanding, QSizePolicy::Preferred);
        sp.setHeightForWidth(true);
        b->setSizePolicy(sp);
        const double start = segment.start;
        connect(b, &QAbstractButton::clicked, this, [this, start] { emit jumpRequested(start); });
        m_bodyLayout->addWidget(b);
        m_segmentButtons.append(b);
    }
}

bool TranscriptSection::showsNoSpeech() const { return m_noSpeech->isVisibleTo(this); }
