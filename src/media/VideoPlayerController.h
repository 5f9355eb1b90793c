#pragma once

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <QVideoFrame>

#include <memory>
#include <optional>

class MPVPlayerEngine;
class QAudioOutput;
class QMediaPlayer;
class QVideoSink;

// The observable player state and operations shared by every player surface. The eight
// native extensions play through QMediaPlayer (frames arrive in `videoSink()`), the rest
// through libmpv; a native file that does not decode moves to libmpv at the same
// position and play state. GUI thread only.
class VideoPlayerController : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isUsingMPV READ isUsingMPV NOTIFY isUsingMPVChanged)
    Q_PROPERTY(bool canPlayCurrentFile READ canPlayCurrentFile NOTIFY canPlayCurrentFileChanged)
    Q_PROPERTY(bool isPlaying READ isPlaying NOTIFY isPlayingChanged)
    Q_PROPERTY(double currentTime READ currentTime NOTIFY currentTimeChanged)
    Q_PROPERTY(double duration READ duration NOTIFY durationChanged)
    Q_PROPERTY(float volume READ volume WRITE setVolume NOTIFY volumeChanged)
    Q_PROPERTY(bool isMuted READ isMuted NOTIFY isMutedChanged)
    Q_PROPERTY(float playbackRate READ playbackRate WRITE setPlaybackRate NOTIFY playbackRateChanged)
    Q_PROPERTY(int surfaceRefreshToken READ surfaceRefreshToken NOTIFY surfaceRefreshTokenChanged)
    Q_PROPERTY(bool isLooping READ isLooping WRITE setLooping NOTIFY isLoopingChanged)

public:
    explicit VideoPlayerController(QObject *parent = nullptr);
    ~VideoPlayerController() override; // tears down

    bool isUsingMPV() const { return m_isUsingMPV; }
    // False when the file needs libmpv and none could be created, or libmpv failed to
    // open it: the views then offer the default application.
    bool canPlayCurrentFile() const { return m_canPlayCurrentFile; }
    bool isPlaying() const { return m_isPlaying; }
    double currentTime() const { return m_currentTime; }
    double duration() const { return m_duration; } // 0 until known
    float volume() const { return m_volume; }      // 0...1
    bool isMuted() const { return m_isMuted; }
    float playbackRate() const { return m_playbackRate; }
    int surfaceRefreshToken() const { return m_surfaceRefreshToken; }
    bool isLooping() const { return m_isLooping; }
    void setLooping(bool looping);

    // An empty url unloads. The same file again (unless forceReload) only seeks to
    // startAt (when over 0.1 s) and starts playing when autoplay asks.
    void load(const QUrl &url, bool forceMPV = false, bool autoplay = false, bool forceReload = false,
              double startAt = 0);
    void play();
    void pause();
    void seek(double seconds); // clamped to 0...duration (when known)
    void setPlaybackRate(float rate);
    void toggleMute();
    void setVolume(float volume);
    // Reloads the current file in libmpv at the same position and play state.
    void fallBackToMPV();
    void refreshSurface();
    // Stops everything the controller started; the controller is not used afterwards.
    void teardown();

    QUrl currentURL() const { return m_currentURL; }
    MPVPlayerEngine *mpvEngine() const { return m_mpvEngine.get(); }
    // Null until a file first needs the platform player.
    QMediaPlayer *mediaPlayer() const { return m_player; }
    // Frames of the native player; surfaces paint `lastVideoFrame()`.
    QVideoSink *videoSink() const { return m_sink; } // null until the platform player is made
    QVideoFrame lastVideoFrame() const { return m_lastFrame; }
    // The picture at the position of a native file that has not played yet (the player
    // shows none until then); null once the player delivers frames itself.
    QImage stillImage() const { return m_still; }
    // What a surface shows of the native player: its latest frame turned upright as the
    // file's display matrix says (the platform player hands over the stored picture), else
    // the still.
    QImage nativePicture() const;

    static bool isNativeExtension(const QUrl &url);

signals:
    void isUsingMPVChanged(bool);
    void canPlayCurrentFileChanged(bool);
    void isPlayingChanged(bool);
    void currentTimeChanged(double);
    void durationChanged(double);
    void volumeChanged(float);
    void isMutedChanged(bool);
    void playbackRateChanged(float);
    void surfaceRefreshTokenChanged(int);
    void isLoopingChanged(bool);
    // A new native frame is in `lastVideoFrame()` or `stillImage()`.
    void videoFrameChanged();
    // The libmpv engine was created (it is kept across files until teardown).
    void mpvEngineChanged();

private:
    void setUsingMPV(bool v);
    void setCanPlay(bool v);
    void setPlaying(bool v);
    void setCurrentTime(double v);
    void setDuration(double v);
    void setMuted(bool v);
    void bumpSurfaceToken();

    void loadNative(const QUrl &url, bool autoplay, double start);
    void loadMPV(const QUrl &url, bool autoplay, double start);
    void pushStateToEngine();
    void applyNativeVolume();
    // The platform player, made on first use.
    QMediaPlayer *nativePlayer();
    // Lets go of a platform player whose file failed, with its outputs.
    void discardFailedNativePlayer();
    void startDecodeCheck(double start);
    void decodeCheckStep();
    void onNativeTick();
    void onNativeEnd();
    void onNativeError();
    void startMPVPolling();
    void pollMPV();
    void onMPVFileLoaded(const QString &path);
    void onMPVFileFailed(const QString &path);
    void redrawMPVLayer();
    void requestStill(double seconds);
    bool mpvPathIsCurrent(const QString &path) const;

    QMediaPlayer *m_player = nullptr;
    QAudioOutput *m_audio = nullptr;
    QVideoSink *m_sink = nullptr;
    QVideoFrame m_lastFrame;
    QImage m_still;
    quint64 m_stillGeneration = 0;
    std::optional<double> m_stillTarget;
    bool m_stillBusy = false;
    std::unique_ptr<MPVPlayerEngine> m_mpvEngine;

    QUrl m_currentURL;
    bool m_isUsingMPV = false;
    bool m_canPlayCurrentFile = true;
    bool m_isPlaying = false;
    double m_currentTime = 0;
    double m_duration = 0;
    float m_volume = 0.85f;
    bool m_isMuted = false;
    float m_playbackRate = 1.0f;
    int m_surfaceRefreshToken = 0;
    bool m_isLooping = false;
    bool m_tornDown = false;

    // Native: the periodic tick and the decode check of the current item.
    QTimer m_nativeTick;
    QTimer m_decodeCheck;
    int m_decodePolls = 0;
    double m_decodeStart = 0;
    bool m_decodeHasVideoTrack = false;
    // The current native file's display turn, read with its header.
    int m_nativeTurns = 0;
    QSize m_nativeStoredSize;
    // libmpv: polling, and the start time still to apply once the file has loaded.
    QTimer m_mpvPoll;
    QTimer m_releaseMemory;
    double m_mpvPendingStart = 0;
    bool m_mpvFileOpen = false; // libmpv reported the current file open
    quint64 m_loadGeneration = 0;
};
