#pragma once

#include <QImage>
#include <QPointer>
#include <QWidget>

class MPVPlayerLayerView;
class QStackedLayout;
class VideoPlayerController;

// The native player's picture: the controller's latest frame, fitted into the widget
// with its aspect ratio kept, on black. Painted by us, so overlays can cover it.
class NativeVideoSurface : public QWidget {
    Q_OBJECT
public:
    explicit NativeVideoSurface(VideoPlayerController *controller, QWidget *parent = nullptr);
    QImage currentImage() const { return m_image; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void takeFrame();
    QPointer<VideoPlayerController> m_controller;
    QImage m_image;
};

// Shows whichever back-end plays the controller's file: the libmpv layer while
// `isUsingMPV` and an engine exists, else the native surface (black when nothing plays).
class UnifiedVideoSurface : public QWidget {
    Q_OBJECT
public:
    explicit UnifiedVideoSurface(VideoPlayerController *controller, QWidget *parent = nullptr);

    bool showsMPV() const;
    MPVPlayerLayerView *mpvView() const { return m_mpvView; }
    NativeVideoSurface *nativeView() const { return m_nativeView; }
    // The picture as shown now, read back from the active surface.
    QImage grabPicture();

signals:
    void clicked();
    void doubleClicked();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void update_();
    QPointer<VideoPlayerController> m_controller;
    QStackedLayout *m_stack = nullptr;
    NativeVideoSurface *m_nativeView = nullptr;
    MPVPlayerLayerView *m_mpvView = nullptr;
    QTimer *m_clickTimer = nullptr;
};
