#pragma once

#include "library/L10n.h"
#include "library/Models.h"

#include <QList>
#include <QWidget>

#include <optional>

class QLabel;
class QPushButton;
class QStackedLayout;
class TransportControls;
class UnifiedVideoSurface;
class VideoPlayerController;

// A video's player for the inspector column: picture, play overlay and transport row,
// the "cannot play" placeholder and the placeholder while full screen plays. It owns
// one controller for its whole life; hiding the widget keeps it (and what it plays).
class PlayerPreviewWidget : public QWidget {
    Q_OBJECT
public:
    explicit PlayerPreviewWidget(QWidget *parent = nullptr);
    ~PlayerPreviewWidget() override;

    // Loads the video paused at `startAt`; none unloads.
    void setVideo(const std::optional<VideoFile> &video, double startAt = 0, bool forceReload = false);
    std::optional<VideoFile> video() const { return m_video; }
    void setLanguage(AppLanguage language) { m_language = language; }
    void setMarkers(const QList<double> &markers);
    void setFallbackDuration(double seconds);

    VideoPlayerController *controller() const { return m_controller; }
    UnifiedVideoSurface *surface() const { return m_surface; }
    bool isFullscreenActive() const { return m_fullscreenActive; }

    // Space: play/pause, or the default application for a file that cannot play here.
    void togglePlayback();
    void presentFullscreen();
    void toggleFullscreen();

private:
    void refresh();
    void openExternally();

    VideoPlayerController *m_controller = nullptr;
    std::optional<VideoFile> m_video;
    AppLanguage m_language = AppLanguage::en;
    QList<double> m_markers;
    bool m_fullscreenActive = false;
    QStackedLayout *m_pages = nullptr;
    QWidget *m_playerPage = nullptr;
    UnifiedVideoSurface *m_surface = nullptr;
    QPushButton *m_playOverlay = nullptr;
    TransportControls *m_transport = nullptr;
    QWidget *m_cannotPlayPage = nullptr;
    QLabel *m_cannotPlayExt = nullptr;
    QWidget *m_fullscreenPage = nullptr;
};
