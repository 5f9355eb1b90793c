#pragma once

// What the on-device search knows about the selected video, as three inspector cards:
// the matched moments of the current search, the visual and text index, the transcript.

#include "library/L10n.h"
#include "library/OnDeviceSearchTypes.h"

#include <QList>
#include <QStringList>
#include <QWidget>

#include <optional>

class PaintedButton;
class QHBoxLayout;
class QProgressBar;
class QPushButton;
class QVBoxLayout;
class SymbolView;
class InspectorLabel;
class FlowTagsView;

// At most 8 English labels of an index entry, highest confidence first (ties by name),
// underscores shown as blanks.
QStringList topLabels(const VideoVisualIndexEntry &entry);
// The first `count` grapheme clusters of `text`, no ellipsis.
QString leadingGraphemes(const QString &text, int count);

// Literal name of the speech engine, the same in every language.
inline constexpr const char *kSpeechEngineName = "pocketsphinx";

// Inspector limits.
inline constexpr int kMaxTagChips = 8;
inline constexpr int kOCRPreviewLength = 160;
inline constexpr int kMaxTranscriptSegments = 6;
// A moment chip counts as the current one within this many seconds of the playhead.
inline constexpr double kCurrentMomentWindow = 2.0;

// One matched moment: jumps the player to its time.
class MomentChip : public QWidget {
    Q_OBJECT
public:
    MomentChip(const VisualSearchMoment &moment, QWidget *parent = nullptr);
    const VisualSearchMoment &moment() const { return m_moment; }
    PaintedButton *button() const { return m_button; }
    bool isCurrent() const { return m_current; }
    void setCurrent(bool current);
    QString iconName() const;
    QString text() const;

signals:
    void jump(double timestamp);

private:
    VisualSearchMoment m_moment;
    PaintedButton *m_button;
    SymbolView *m_icon;
    InspectorLabel *m_label;
    bool m_current = false;
};

class MatchedMomentsSection : public QWidget {
    Q_OBJECT
public:
    explicit MatchedMomentsSection(QWidget *parent = nullptr);
    void setHit(const VisualSearchHit &hit, AppLanguage language);
    // Marks the chips near the playhead.
    void setCurrentTime(double seconds);
    QList<MomentChip *> chips() const { return m_chips; }
    QString headerIcon() const;
    QString countText() const;

signals:
    void jumpRequested(double timestamp);

private:
    SymbolView *m_icon;
    InspectorLabel *m_title;
    InspectorLabel *m_count;
    QHBoxLayout *m_chipRow;
    QWidget *m_scroller;
    QList<MomentChip *> m_chips;
    std::optional<VisualSearchHit> m_hit;
    double m_currentTime = 0;
};

class AIInsightsSection : public QWidget {
    Q_OBJECT
public:
    explicit AIInsightsSection(QWidget *parent = nullptr);
    void setEntry(const VideoVisualIndexEntry &entry, AppLanguage language);
    // The shown text-recognition excerpt; empty when the row is absent.
    QString ocrText() const;
    bool hasOCRRow() const;
    QStringList tags() const { return m_tags; }
    FlowTagsView *tagsView() const { return m_tagsView; }
    QString engineText() const;

private:
    InspectorLabel *m_title;
    InspectorLabel *m_engine;
    QWidget *m_ocrRow;
    InspectorLabel *m_ocr;
    QVBoxLayout *m_layout;
    FlowTagsView *m_tagsView = nullptr;
    QStringList m_tags;
};

class TranscriptSection : public QWidget {
    Q_OBJECT
public:
    enum class Trailing { transcribeButton, progress, engineName };

    explicit TranscriptSection(QWidget *parent = nullptr);
    void setData(bool isTranscribing, const std::optional<VideoTranscriptEntry> &entry, AppLanguage language);
    Trailing trailing() const { return m_trailing; }
    QPushButton *transcribeButton() const { return m_button; }
    QList<PaintedButton *> segmentButtons() const { return m_segmentButtons; }
    bool showsNoSpeech() const;

signals:
    void transcribeRequested();
    void jumpRequested(double start);

private:
    InspectorLabel *m_title;
    QWidget *m_progress;
    InspectorLabel *m_progressText;
    InspectorLabel *m_engine;
    QPushButton *m_button;
    QWidget *m_body;
    QVBoxLayout *m_bodyLayout;
    InspectorLabel *m_noSpeech;
    QList<PaintedButton *> m_segmentButtons;
    Trailing m_trailing = Trailing::transcribeButton;
    std::optional<VideoTranscriptEntry> m_entry;
    AppLanguage m_language = AppLanguage::en;
    bool m_built = false;
};
