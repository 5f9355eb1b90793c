#pragma once

// The inspector at the right of the main window: a header, then either the empty state or
// a scroller of cards for the primary selected video (player, matched moments, actions,
// visual index, transcript, file information, media facts). It owns the one player
// controller of the main window, which the full-screen window borrows while it shows.

#include "library/AppState.h"
#include "library/Models.h"

#include <QImage>
#include <QList>
#include <QPointer>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class AIInsightsSection;
class FormatBadge;
class FullscreenPlaceholder;
class InspectorActionsSection;
class InspectorCard;
class InspectorEmptyState;
class InspectorPlayerCard;
class LinearIconButton;
class MatchedMomentsSection;
class MediaInfoGrid;
class MediaMetadataService;
class PaintedButton;
class PillLabel;
class QScrollArea;
class QStackedLayout;
class InspectorLabel;
class TranscriptSection;
class TransportControls;
class VideoPlayerController;

class InspectorPlayerView : public QWidget {
    Q_OBJECT
public:
    using FullscreenPresent = std::function<void(const VideoFile &video, VideoPlayerController *controller,
                                                 AppLanguage language, const QList<double> &markers,
                                                 std::function<void()> onDismiss)>;
    // What the inspector asks of the desktop and of the full-screen window; tests put
    // recorders in their place. Empty members take the real ones.
    struct Hooks {
        MediaMetadataService *media = nullptr;
        std::function<bool(const QUrl &)> openURL;
        std::function<bool(const QList<QUrl> &)> revealInFileManager;
        FullscreenPresent presentFullscreen;
        std::function<void(bool notify)> dismissFullscreen;
    };

    static constexpr int kPlayerHeight = 220;
    static constexpr int kTheaterPlayerHeight = 500;
    static constexpr int kPlaceholderHeight = 215;
    static constexpr int kTheaterPlaceholderHeight = 480;
    static inline const QSizeF kPreviewSize{480, 270};

    explicit InspectorPlayerView(AppState *state, QWidget *parent = nullptr);
    InspectorPlayerView(AppState *state, Hooks hooks, QWidget *parent = nullptr);
    ~InspectorPlayerView() override;

    AppState *state() const { return m_state; }
    VideoPlayerController *controller() const { return m_controller; }
    const std::optional<VideoMediaInfo> &mediaInfo() const { return m_mediaInfo; }
    // Null when there is no preview.
    const QImage &fallbackThumb() const { return m_fallbackThumb; }
    bool isFullscreenActive() const { return m_isFullscreenActive; }
    const QList<float> &playbackRates() const { return m_playbackRates; }

    // Loads the primary selection into the controller, paused at the pending seek time,
    // else the best matching moment of the search, else the start.
    void loadSelection(bool autoplay, bool forceReload);
    void toggleTheaterMode();
    void closePanel();
    void openExternally();
    void revealInFinder();
    void presentFullscreen(const VideoFile &video);
    void toggleFullscreen();
    void togglePlayPause();
    // Seek, then play only when not playing already.
    void jumpToMoment(double timestamp);
    void jumpToSegment(double start);
    // Facts and preview of the file; a result for a selection that moved on is dropped.
    void loadMediaInfo(const QUrl &url, bool invalidateFirst);

    // Actions of the actions card.
    void trimAndMerge();
    void moveToFolder();
    void moveToTrash();

    // Pieces, for the window and for tests.
    QWidget *headerBar() const { return m_header; }
    QString headerTitle() const;
    // "MPV" or "AV"; empty when no engine badge shows.
    QString engineBadgeText() const;
    LinearIconButton *theaterButton() const { return m_theaterButton; }
    LinearIconButton *fullscreenButton() const { return m_fullscreenButton; }
    LinearIconButton *openExternalButton() const { return m_openButton; }
    LinearIconButton *closeButton() const { return m_closeButton; }
    InspectorEmptyState *emptyState() const { return m_emptyState; }
    InspectorPlayerCard *playerCard() const { return m_playerCard; }
    TransportControls *transportControls() const { return m_transport; }
    FullscreenPlaceholder *fullscreenPlaceholder() const { return m_fullscreenPlaceholder; }
    MatchedMomentsSection *matchedMomentsSection() const { return m_moments; }
    InspectorActionsSection *actionsSection() const { return m_actions; }
    AIInsightsSection *aiInsightsSection() const { return m_insights; }
    TranscriptSection *transcriptSection() const { return m_transcript; }
    MediaInfoGrid *mediaInfoGrid() const { return m_grid; }
    QWidget *fileInfoCard() const { return m_fileCard; }
    PaintedButton *locationRow() const { return m_locationButton; }
    // The cards in their order that the view shows now.
    QList<QWidget *> visibleCards() const;
    bool showsEmptyState() const;

signals:
    // The facts and preview of the current selection were applied.
    void mediaInfoLoaded();
    void fullscreenActiveChanged(bool active);

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void buildHeader();
    void buildContent();
    void wireState();
    void wireController();
    QWidget *wrapCard(QWidget *section, int padding, int spacing);

    void onPendingSeekSignal();
    void onPlaybackToggleSignal();
    void setFullscreenActive(bool active);
    QList<double> markersFor(const VideoFile &video) const;
    void applyMediaInfo(const QUrl &url, quint64 generation, const VideoMediaInfo &info, const QImage &image);

    // Refreshes of what the view shows.
    void refreshAll();
    void refreshHeader();
    void refreshFrame();
    void refreshFileInfo();
    void refreshGrid();
    void refreshSearchSections();
    void refreshTranscript();

    AppState *m_state;
    Hooks m_hooks;
    VideoPlayerController *m_controller;
    std::optional<VideoMediaInfo> m_mediaInfo;
    QString m_mediaInfoKey; // the file version the facts were read from
    QImage m_fallbackThumb;
    bool m_isFullscreenActive = false;
    QList<float> m_playbackRates{0.5f, 1.0f, 1.25f, 1.5f, 2.0f};
    quint64 m_mediaGeneration = 0;

    QWidget *m_header = nullptr;
    InspectorLabel *m_title = nullptr;
    PillLabel *m_engineBadge = nullptr;
    LinearIconButton *m_theaterButton = nullptr;
    LinearIconButton *m_fullscreenButton = nullptr;
    LinearIconButton *m_openButton = nullptr;
    LinearIconButton *m_closeButton = nullptr;

    QStackedLayout *m_pages = nullptr;
    InspectorEmptyState *m_emptyState = nullptr;
    QScrollArea *m_scroll = nullptr;
    FullscreenPlaceholder *m_fullscreenPlaceholder = nullptr;
    InspectorPlayerCard *m_playerCard = nullptr;
    TransportControls *m_transport = nullptr;
    QWidget *m_momentsCard = nullptr;
    MatchedMomentsSection *m_moments = nullptr;
    InspectorActionsSection *m_actions = nullptr;
    QWidget *m_insightsCard = nullptr;
    AIInsightsSection *m_insights = nullptr;
    QWidget *m_transcriptCard = nullptr;
    TranscriptSection *m_transcript = nullptr;
    QWidget *m_fileCard = nullptr;
    InspectorLabel *m_fileName = nullptr;
    FormatBadge *m_formatBadge = nullptr;
    PillLabel *m_resolution = nullptr;
    InspectorLabel *m_codec = nullptr;
    PaintedButton *m_locationButton = nullptr;
    InspectorLabel *m_location = nullptr;
    QWidget *m_gridCard = nullptr;
    MediaInfoGrid *m_grid = nullptr;
};
