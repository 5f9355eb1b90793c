#pragma once

#include "library/L10n.h"
#include "library/Models.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>

class QKeyEvent;
class QTimer;
class UnifiedVideoSurface;
class VideoPlayerController;

// The borderless window covering the screen that plays the inspector's controller, with
// a heads-up display that hides itself 3 s after the last reveal while playing.
class FullscreenPlayerWindowManager : public QObject {
    Q_OBJECT
public:
    static FullscreenPlayerWindowManager &shared();

    // Closes a window already shown (without notification) and opens a new one.
    void present(const VideoFile &video, VideoPlayerController *controller, AppLanguage language,
                 const QList<double> &markers, std::function<void()> onDismiss);
    // Runs `onDismiss` once when notify is true.
    void dismiss(bool notify);
    QWidget *window() const { return m_window; }
    bool isActive() const { return m_window != nullptr; }

    // The key table; true when the key was consumed.
    bool handleKeyPress(QKeyEvent *event);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    FullscreenPlayerWindowManager() = default;
    QPointer<QWidget> m_window;
    QPointer<VideoPlayerController> m_controller;
    std::function<void()> m_onDismiss;
    bool m_filterInstalled = false;
};

// The overlay inside the window: picture, top bar and control panel.
class FullscreenPlayerOverlay : public QWidget {
    Q_OBJECT
public:
    FullscreenPlayerOverlay(const VideoFile &video, VideoPlayerController *controller, AppLanguage language,
                            const QList<double> &markers, std::function<void()> onExit, QWidget *parent = nullptr);
    bool isHUDShown() const { return m_showHUD; }
    void revealHUD();
    UnifiedVideoSurface *surface() const { return m_surface; }

protected:
    void mouseMoveEvent(QMouseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void setHUDShown(bool shown);
    void togglePlayPause();
    QPointer<VideoPlayerController> m_controller;
    UnifiedVideoSurface *m_surface = nullptr;
    QWidget *m_topBar = nullptr;
    QWidget *m_panel = nullptr;
    QTimer *m_hideTimer = nullptr;
    bool m_showHUD = true;
};
