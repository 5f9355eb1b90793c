#pragma once

// The inspector's first card: the picture with its click gestures and play overlay, the
// transport controls under it, the placeholder for a file that cannot be played, and the
// placeholder shown while the full-screen window plays the same controller.

#include "library/L10n.h"

#include <QImage>
#include <QPointer>
#include <QWidget>

class QAbstractButton;
class QPushButton;
class QStackedLayout;
class QVBoxLayout;
class InspectorLabel;
class UnifiedVideoSurface;
class VideoPlayerController;

// The round play button laid over a paused picture.
class PlayOverlayButton : public QWidget {
    Q_OBJECT
public:
    explicit PlayOverlayButton(QWidget *parent = nullptr);
    QSize sizeHint() const override { return {48, 48}; }

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
};

// Stands in for the picture when the file cannot be played here: the preview dimmed
// behind a crossed-out play symbol, the format, and an "open in default app" button.
class CannotPlayPlaceholder : public QWidget {
    Q_OBJECT
public:
    explicit CannotPlayPlaceholder(QWidget *parent = nullptr);
    void setThumbnail(const QImage &image);
    const QImage &thumbnail() const { return m_thumb; }
    void setExtension(const QString &ext);
    void setLanguage(AppLanguage language);
    QPushButton *openButton() const { return m_open; }
    QString extensionText() const;
    // Why the file cannot be played, when a missing library is the cause; empty otherwise.
    QString reasonText() const;

signals:
    void openRequested();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void updateReason();
    QImage m_thumb;
    InspectorLabel *m_ext;
    InspectorLabel *m_reason;
    QPushButton *m_open;
    AppLanguage m_language = AppLanguage::en;
};

// The picture area and, while the file can be played, the controls below it.
class InspectorPlayerCard : public QWidget {
    Q_OBJECT
public:
    explicit InspectorPlayerCard(VideoPlayerController *controller, QWidget *parent = nullptr);

    void setPlayerHeight(int height);
    int playerHeight() const { return m_playerHeight; }
    void setThumbnail(const QImage &image);
    void setExtension(const QString &ext);
    void setLanguage(AppLanguage language);
    // The controls block; the card owns it from here on.
    void setTransportControls(QWidget *controls);
    QWidget *transportControls() const { return m_transport; }

    UnifiedVideoSurface *surface() const { return m_surface; }
    PlayOverlayButton *playOverlay() const { return m_playOverlay; }
    CannotPlayPlaceholder *cannotPlay() const { return m_cannotPlay; }
    bool showsCannotPlay() const;
    QWidget *transportArea() const { return m_transportArea; }

signals:
    void togglePlayPauseRequested();
    void fullscreenRequested();
    void openExternallyRequested();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void updateFromController();
    QPointer<VideoPlayerController> m_controller;
    QWidget *m_area;
    QStackedLayout *m_areaStack;
    QWidget *m_picture;
    UnifiedVideoSurface *m_surface;
    PlayOverlayButton *m_playOverlay;
    CannotPlayPlaceholder *m_cannotPlay;
    QWidget *m_transportArea;
    QVBoxLayout *m_transportLayout;
    QWidget *m_transport = nullptr;
    QWidget *m_frame;
    int m_playerHeight = 220;
};

// Shown in place of the player card while the full-screen window plays.
class FullscreenPlaceholder : public QWidget {
    Q_OBJECT
public:
    explicit FullscreenPlaceholder(QWidget *parent = nullptr);
    void setLanguage(AppLanguage language);
    QPushButton *exitButton() const { return m_exit; }

signals:
    void exitRequested();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    InspectorLabel *m_title;
    QPushButton *m_exit;
};
