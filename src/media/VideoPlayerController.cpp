#include "VideoPlayerController.h"

#include "LibMPVLibrary.h"
#include "MPVPlayerEngine.h"
#include "FFmpegMedia.h"
#include "NativeDecodability.h"
#include "library/FileNames.h"
#include "library/Models.h"
#include "platform/MemoryTuning.h"

#include <QAudioOutput>
#include <QFileInfo>
#include <QMediaPlayer>
#include <QVideoSink>
#include <QtConcurrent/QtConcurrentRun>
#include <QFutureWatcher>
#include <QTransform>

#include <algorithm>
#include <cmath>

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace {
constexpr int kNativeTickMs = 80;
constexpr int kDecodePollMs = 100;
constexpr int kDecodePollLimit = 15;
constexpr int kVideoStreamGracePolls = 10;
constexpr int kMPVPollMs = 100;
constexpr int kReleaseMemoryDelayMs = 1000;

// The frame as a picture, converted on the CPU. QVideoFrame::toImage() converts through
// the GPU layer on this thread; with a software renderer its first use compiles shaders for
// longer than the platform player waits for this thread, and the file then fails.
QImage frameImage(const QVideoFrame &source)
{
    QVideoFrame frame = source;
    AVPixelFormat format = AV_PIX_FMT_NONE;
    bool swapChroma = false;
    switch (frame.pixelFormat()) {
    case QVideoFrameFormat::Format_YUV420P: format = AV_PIX_FMT_YUV420P; break;
    case QVideoFrameFormat::Format_YV12: format = AV_PIX_FMT_YUV420P; swapChroma = true; break;
    case QVideoFrameFormat::Format_YUV422P: format = AV_PIX_FMT_YUV422P; break;
    case QVideoFrameFormat::Format_NV12: format = AV_PIX_FMT_NV12; break;
    case QVideoFrameFormat::Format_NV21: format = AV_PIX_FMT_NV21; break;
    case QVideoFrameFormat::Format_UYVY: format = AV_PIX_FMT_UYVY422; break;
    case QVideoFrameFormat::Format_YUYV: format = AV_PIX_FMT_YUYV422; break;
    case QVideoFrameFormat::Format_BGRA8888: format = AV_PIX_FMT_BGRA; break;
    case QVideoFrameFormat::Format_BGRX8888: format = AV_PIX_FMT_BGR0; break;
    case QVideoFrameFormat::Format_RGBA8888: format = AV_PIX_FMT_RGBA; break;
    case QVideoFrameFormat::Format_RGBX8888: format = AV_PIX_FMT_RGB0; break;
    case QVideoFrameFormat::Format_ARGB8888: format = AV_PIX_FMT_ARGB; break;
    case QVideoFrameFormat::Format_XRGB8888: format = AV_PIX_FMT_0RGB; break;
    default: break;
    }
    if (format == AV_PIX_FMT_NONE || !frame.map(QVideoFrame::ReadOnly))
        return source.toImage();
    const uint8_t *planes[4] = {};
    int strides[4] = {};
    for (int i = 0; i < std::min(frame.planeCount(), 4); ++i) {
        planes[i] = frame.bits(i);
        strides[i] = frame.bytesPerLine(i);
    }
    if (swapChroma) {
        std::swap(planes[1], planes[2]);
        std::swap(strides[1], strides[2]);
    }
    const QImage image = lkmedia::scaledToImage(format, frame.width(), frame.height(), planes, strides, frame.width(),
                                                frame.height());
    frame.unmap();
    return image.isNull() ? source.toImage() : image;
}

void selectGStreamerBackend()
{
    // Qt's FFmpeg media backend crashes on machines without a sound device.
    if (qgetenv("QT_MEDIA_BACKEND") != "gstreamer")
        qputenv("QT_MEDIA_BACKEND", "gstreamer");
}
} // namespace

bool VideoPlayerController::isNativeExtension(const QUrl &url)
{
    const QString ext = QFileInfo(url.path()).suffix().toLower();
    return VideoFile::nativeVideoExtensions().contains(ext);
}

VideoPlayerController::VideoPlayerController(QObject *parent) : QObject(parent)
{
    // The platform player is made when a file first needs it: loading the media backend
    // (on a first start it also surveys the system's plugins) held the window's first
    // appearance up by a good part of a second.
    m_nativeTick.setInterval(kNativeTickMs);
    connect(&m_nativeTick, &QTimer::timeout, this, &VideoPlayerController::onNativeTick);
    m_nativeTick.start();
    m_decodeCheck.setInterval(kDecodePollMs);
    connect(&m_decodeCheck, &QTimer::timeout, this, &VideoPlayerController::decodeCheckStep);
    m_releaseMemory.setSingleShot(true);
    m_releaseMemory.setInterval(kReleaseMemoryDelayMs);
    connect(&m_releaseMemory, &QTimer::timeout, this, [] { releaseFreeMemorySoon(); });
    m_mpvPoll.setInterval(kMPVPollMs);
    connect(&m_mpvPoll, &QTimer::timeout, this, &VideoPlayerController::pollMPV);
}

VideoPlayerController::~VideoPlayerController() { teardown(); }

QMediaPlayer *VideoPlayerController::nativePlayer()
{
    if (m_player)
        return m_player;
    selectGStreamerBackend();
    m_player = new QMediaPlayer(this);
    // Each player has outputs of its own: their elements belong to one pipeline at a time,
    // and a failed player's may not be gone yet.
    m_audio = new QAudioOutput(m_player);
    m_audio->setVolume(m_isMuted ? 0.0f : m_volume);
    m_player->setAudioOutput(m_audio);
    m_sink = new QVideoSink(m_player);
    m_player->setVideoSink(m_sink);
    connect(m_sink, &QVideoSink::videoFrameChanged, this, [this](const QVideoFrame &frame) {
        if (m_isUsingMPV || !frame.isValid())
            return;
        m_lastFrame = frame;
        m_still = QImage();
        ++m_stillGeneration; // the player's own frames win over a still being decoded
        emit videoFrameChanged();
    });
    connect(m_player, &QMediaPlayer::mediaStatusChanged, this, [this](QMediaPlayer::MediaStatus status) {
        if (status == QMediaPlayer::EndOfMedia)
            onNativeEnd();
    });
    connect(m_player, &QMediaPlayer::errorOccurred, this, [this] { onNativeError(); });
    m_player->setPlaybackRate(m_playbackRate);
    return m_player;
}

void VideoPlayerController::discardFailedNativePlayer()
{
    if (!m_player || (m_player->error() == QMediaPlayer::NoError && m_player->mediaStatus() != QMediaPlayer::InvalidMedia))
        return;
    // Stopping or clearing a player whose file failed as it started waits a whole second for
    // GStreamer, on this thread; letting it go is immediate, and the next file gets a new one.
    // (Deleted later: this may run inside the failed player's own signal.)
    m_sink->disconnect(this);
    m_player->disconnect(this);
    m_player->deleteLater();
    m_player = nullptr;
    m_audio = nullptr;
    m_sink = nullptr;
}

// --- published fields: written only on real changes ---

void VideoPlayerController::setUsingMPV(bool v)
{
    if (m_isUsingMPV != v) {
        m_isUsingMPV = v;
        emit isUsingMPVChanged(v);
    }
}
void VideoPlayerController::setCanPlay(bool v)
{
    if (m_canPlayCurrentFile != v) {
        m_canPlayCurrentFile = v;
        emit canPlayCurrentFileChanged(v);
    }
}
void VideoPlayerController::setPlaying(bool v)
{
    if (m_isPlaying != v) {
        m_isPlaying = v;
        emit isPlayingChanged(v);
    }
}
void VideoPlayerController::setCurrentTime(double v)
{
    if (m_currentTime != v) {
        m_currentTime = v;
        emit currentTimeChanged(v);
    }
}
void VideoPlayerController::setDuration(double v)
{
    if (m_duration != v) {
        m_duration = v;
        emit durationChanged(v);
    }
}
void VideoPlayerController::setMuted(bool v)
{
    if (m_isMuted != v) {
        m_isMuted = v;
        emit isMutedChanged(v);
    }
}
void VideoPlayerController::bumpSurfaceToken()
{
    ++m_surfaceRefreshToken;
    emit surfaceRefreshTokenChanged(m_surfaceRefreshToken);
}

void VideoPlayerController::setLooping(bool looping)
{
    if (m_mpvEngine)
        m_mpvEngine->setString("loop-file", looping ? QStringLiteral("inf") : QStringLiteral("no"));
    if (m_isLooping != looping) {
        m_isLooping = looping;
        emit isLoopingChanged(looping);
    }
}

// --- loading ---

void VideoPlayerController::load(const QUrl &url, bool forceMPV, bool autoplay, bool forceReload, double startAt)
{
    if (m_tornDown)
        return;
    const double start = std::isfinite(startAt) ? startAt : 0;
    if (!forceReload && url == m_currentURL && !(forceMPV && !m_isUsingMPV)) {
        if (start > 0.1)
            seek(start);
        if (autoplay && !m_isPlaying)
            play();
        return;
    }

    discardFailedNativePlayer();
    if (m_player)
        m_player->pause();
    if (m_mpvEngine)
        m_mpvEngine->setFlag("pause", true);
    m_mpvPoll.stop();
    m_decodeCheck.stop();
    ++m_loadGeneration;
    m_mpvPendingStart = 0;
    setPlaying(false);
    setCurrentTime(std::max(0.0, start));
    setDuration(0);
    m_currentURL = url;
    m_lastFrame = QVideoFrame();
    // The previous file's decoders and frames are gone a moment after the switch; their
    // pages go back to the system then instead of staying with the heap.
    m_releaseMemory.start();
    m_still = QImage();
    ++m_stillGeneration;
    m_stillTarget.reset();
    m_nativeTurns = 0;
    m_nativeStoredSize = QSize();

    if (url.isEmpty()) {
        if (m_player)
            m_player->setSource(QUrl());
        if (m_mpvEngine) {
            m_mpvEngine->setPendingLoad(std::nullopt);
            m_mpvEngine->command({QStringLiteral("stop")});
        }
        setUsingMPV(false);
        setCanPlay(true);
        bumpSurfaceToken();
        return;
    }
    if (url.isLocalFile() && !FileNames::isRegularFile(url.toLocalFile())) {
        // Gone, or no longer a regular file (a FIFO would block the player for good):
        // nothing is loaded and the card says the file cannot be played.
        if (m_player)
            m_player->setSource(QUrl());
        if (m_mpvEngine) {
            m_mpvEngine->setPendingLoad(std::nullopt);
            m_mpvEngine->command({QStringLiteral("stop")});
        }
        setUsingMPV(false);
        setCanPlay(false);
        bumpSurfaceToken();
        return;
    }
    // The platform player takes a URL, which cannot carry a name that is not UTF-8;
    // libmpv takes the name's bytes.
    const bool rawName = url.isLocalFile() && FileNames::hasRawBytes(url.toLocalFile());
    if (!forceMPV && !rawName && isNativeExtension(url))
        loadNative(url, autoplay, start);
    else
        loadMPV(url, autoplay, start);
}

void VideoPlayerController::applyNativeVolume()
{
    if (m_audio)
        m_audio->setVolume(m_isMuted ? 0.0f : m_volume);
}

void VideoPlayerController::loadNative(const QUrl &url, bool autoplay, double start)
{
    setUsingMPV(false);
    setCanPlay(true);
    if (m_mpvEngine) {
        m_mpvEngine->setPendingLoad(std::nullopt);
        m_mpvEngine->command({QStringLiteral("stop")});
    }
    nativePlayer()->setSource(url);
    applyNativeVolume();
    bumpSurfaceToken();
    startDecodeCheck(start);
    if (autoplay)
        play();
    else
        requestStill(std::max(0.0, start));
}

QImage VideoPlayerController::nativePicture() const
{
    if (!m_lastFrame.isValid())
        return m_still;
    QImage image = frameImage(m_lastFrame);
    int turns = m_lastFrame.rotationAngle() / 90;
    if (turns == 0) {
        turns = m_nativeTurns;
        // A player that turned the picture itself hands over the display shape already.
        if (turns % 2 == 1 && m_lastFrame.size() == m_nativeStoredSize.transposed())
            turns = 0;
    }
    if (turns && !image.isNull())
        image = image.transformed(QTransform().rotate(90.0 * turns));
    return image;
}

void VideoPlayerController::requestStill(double seconds)
{
    // The native player shows no picture until it first plays, and prerolling it paused
    // can fail the file where no sound device exists: the picture at the position is
    // decoded here instead. One decode at a time; only the newest position counts.
    if (m_isUsingMPV || m_currentURL.isEmpty() || !m_currentURL.isLocalFile() || m_tornDown)
        return;
    m_stillTarget = seconds;
    if (m_stillBusy)
        return;
    m_stillBusy = true;
    const double target = *m_stillTarget;
    m_stillTarget.reset();
    const quint64 generation = m_stillGeneration;
    const QString path = m_currentURL.toLocalFile();
    auto *watcher = new QFutureWatcher<QImage>(this);
    connect(watcher, &QFutureWatcher<QImage>::finished, this, [this, watcher, generation] {
        watcher->deleteLater();
        m_stillBusy = false;
        const QImage image = watcher->result();
        const bool wanted = generation == m_stillGeneration && !m_isUsingMPV && !m_tornDown
                            && (!m_player || m_player->playbackState() == QMediaPlayer::StoppedState);
        if (wanted && !image.isNull()) {
            m_lastFrame = QVideoFrame();
            m_still = image;
            emit videoFrameChanged();
        }
        if (m_stillTarget && !m_tornDown)
            requestStill(*m_stillTarget);
    });
    watcher->setFuture(QtConcurrent::run([path, target] { return lkmedia::decodeFrame(path, target, 1920, 1080, {}, true); }));
}

void VideoPlayerController::startDecodeCheck(double start)
{
    // Whether the file's video can be decoded here is read from its header off the GUI
    // thread; the status polls then wait for the player to be ready.
    m_decodePolls = 0;
    m_decodeStart = start;
    const quint64 generation = m_loadGeneration;
    const QString path = m_currentURL.toLocalFile();
    auto *watcher = new QFutureWatcher<NativeVideoHeader>(this);
    connect(watcher, &QFutureWatcher<NativeVideoHeader>::finished, this, [this, watcher, generation] {
        watcher->deleteLater();
        if (generation != m_loadGeneration || m_isUsingMPV || m_tornDown)
            return;
        const NativeVideoHeader header = watcher->result();
        if (header.decodability == NativeDecodability::undecodableVideo) {
            fallBackToMPV();
            return;
        }
        m_decodeHasVideoTrack = header.decodability == NativeDecodability::decodableVideo;
        m_nativeTurns = header.quarterTurns;
        m_nativeStoredSize = header.storedSize;
        if (m_nativeTurns && m_lastFrame.isValid())
            emit videoFrameChanged(); // a frame shown before the header was read turns now
        m_decodeCheck.start();
    });
    watcher->setFuture(QtConcurrent::run([path] { return probeNativeVideoHeader(path); }));
}

void VideoPlayerController::decodeCheckStep()
{
    if (m_isUsingMPV || m_tornDown || !m_player) {
        m_decodeCheck.stop();
        return;
    }
    ++m_decodePolls;
    const QMediaPlayer::MediaStatus status = m_player->mediaStatus();
    if (status == QMediaPlayer::InvalidMedia || m_player->error() != QMediaPlayer::NoError) {
        m_decodeCheck.stop();
        fallBackToMPV();
        return;
    }
    const bool ready = status == QMediaPlayer::LoadedMedia || status == QMediaPlayer::BufferingMedia
                       || status == QMediaPlayer::BufferedMedia || status == QMediaPlayer::EndOfMedia;
    if (ready) {
        // The player can report the media loaded a moment before it reports the video stream
        // (seen on a busy machine): a file whose header holds a decodable video track gets a
        // few more polls to show it before libmpv takes over.
        if (m_decodeHasVideoTrack && !m_player->hasVideo()) {
            if (m_decodePolls < kDecodePollLimit + kVideoStreamGracePolls)
                return;
            m_decodeCheck.stop();
            fallBackToMPV();
            return;
        }
        m_decodeCheck.stop();
        if (m_decodeStart > 0.1)
            seek(m_decodeStart);
        bumpSurfaceToken();
        return;
    }
    if (m_decodePolls >= kDecodePollLimit)
        m_decodeCheck.stop();
}

void VideoPlayerController::onNativeError()
{
    if (m_isUsingMPV || m_currentURL.isEmpty() || m_tornDown)
        return;
    m_decodeCheck.stop();
    fallBackToMPV();
}

void VideoPlayerController::onNativeTick()
{
    if (m_isUsingMPV || m_currentURL.isEmpty() || !m_player)
        return;
    const QMediaPlayer::MediaStatus status = m_player->mediaStatus();
    // Before the item is ready its position reads 0; keep the requested start shown.
    if (status != QMediaPlayer::LoadingMedia && status != QMediaPlayer::NoMedia && !m_decodeCheck.isActive())
        setCurrentTime(m_player->position() / 1000.0);
    if (m_player->duration() > 0)
        setDuration(m_player->duration() / 1000.0);
    setPlaying(m_player->playbackState() == QMediaPlayer::PlayingState);
}

void VideoPlayerController::onNativeEnd()
{
    if (m_isUsingMPV || m_tornDown)
        return;
    if (m_isLooping) {
        seek(0);
        play();
    } else {
        setPlaying(false);
    }
}

void VideoPlayerController::pushStateToEngine()
{
    m_mpvEngine->setDouble("volume", m_isMuted ? 0.0 : std::clamp(double(m_volume) * 100.0, 0.0, 100.0));
    m_mpvEngine->setFlag("mute", m_isMuted);
    m_mpvEngine->setDouble("speed", m_playbackRate);
    m_mpvEngine->setString("loop-file", m_isLooping ? QStringLiteral("inf") : QStringLiteral("no"));
}

void VideoPlayerController::loadMPV(const QUrl &url, bool autoplay, double start)
{
    if (m_player)
        m_player->setSource(QUrl());
    if (!m_mpvEngine) {
        m_mpvEngine = MPVPlayerEngine::create();
        if (m_mpvEngine) {
            connect(m_mpvEngine.get(), &MPVPlayerEngine::fileLoaded, this, &VideoPlayerController::onMPVFileLoaded);
            connect(m_mpvEngine.get(), &MPVPlayerEngine::fileFailed, this, &VideoPlayerController::onMPVFileFailed);
            emit mpvEngineChanged();
        }
    }
    if (!m_mpvEngine) {
        setUsingMPV(false);
        setCanPlay(false);
        return;
    }
    setUsingMPV(true);
    setCanPlay(true);
    pushStateToEngine();
    // Until libmpv says the new file is open, its time and duration are the old file's.
    m_mpvFileOpen = !m_mpvEngine->lib()->hasEvents();
    m_mpvEngine->load(url, autoplay);
    if (start > 0.25) {
        m_mpvPendingStart = start;
        if (!m_mpvEngine->lib()->hasEvents()) {
            // Without libmpv's events the best guess is that the file is open shortly.
            const quint64 generation = m_loadGeneration;
            QTimer::singleShot(160, this, [this, generation] {
                if (generation == m_loadGeneration && m_isUsingMPV && m_mpvPendingStart > 0) {
                    const double t = m_mpvPendingStart;
                    m_mpvPendingStart = 0;
                    seek(t);
                }
            });
        }
    }
    setPlaying(autoplay);
    startMPVPolling();
}

bool VideoPlayerController::mpvPathIsCurrent(const QString &path) const
{
    if (path.isEmpty())
        return true;
    const QString current = m_currentURL.isLocalFile() ? m_currentURL.toLocalFile() : m_currentURL.toString();
    return QFileInfo(path).absoluteFilePath() == QFileInfo(current).absoluteFilePath() || path == current;
}

void VideoPlayerController::onMPVFileLoaded(const QString &path)
{
    if (!m_isUsingMPV || !mpvPathIsCurrent(path))
        return;
    m_mpvFileOpen = true;
    setCanPlay(true);
    if (m_mpvPendingStart > 0) {
        const double t = m_mpvPendingStart;
        m_mpvPendingStart = 0;
        seek(t);
    }
}

void VideoPlayerController::onMPVFileFailed(const QString &path)
{
    if (!m_isUsingMPV || !mpvPathIsCurrent(path))
        return;
    m_mpvPoll.stop();
    m_mpvPendingStart = 0;
    if (m_mpvEngine)
        m_mpvEngine->setFlag("pause", true);
    setPlaying(false);
    setCanPlay(false);
}

void VideoPlayerController::startMPVPolling()
{
    m_mpvPoll.start();
    pollMPV();
}

void VideoPlayerController::pollMPV()
{
    if (!m_isUsingMPV || !m_mpvEngine) {
        m_mpvPoll.stop();
        return;
    }
    if (m_mpvEngine->isResuming() || !m_mpvFileOpen)
        return;
    // The requested start stays on show until the file has loaded and gone there.
    if (m_mpvPendingStart <= 0) {
        const double t = m_mpvEngine->getDouble("time-pos").value_or(0);
        if (std::isfinite(t))
            setCurrentTime(t);
    }
    if (const auto d = m_mpvEngine->getDouble("duration"); d && std::isfinite(*d) && *d > 0)
        setDuration(*d);
    const std::optional<bool> paused = m_mpvEngine->getFlag("pause");
    setPlaying(paused.has_value() && !*paused);
}

// --- transport ---

void VideoPlayerController::play()
{
    if (m_tornDown)
        return;
    if (m_isUsingMPV && m_mpvEngine) {
        if (m_duration > 0 && m_currentTime >= m_duration - 0.2)
            seek(0);
        // A load still waiting for its surface starts playing when it runs.
        if (auto pending = m_mpvEngine->pendingLoad()) {
            pending->autoPlay = true;
            m_mpvEngine->setPendingLoad(pending);
        }
        m_mpvEngine->setFlag("pause", false);
        setPlaying(true);
        return;
    }
    if (m_isUsingMPV || !m_canPlayCurrentFile)
        return;
    if (m_duration > 0 && m_currentTime >= m_duration - 0.15)
        seek(0);
    nativePlayer()->setPlaybackRate(m_playbackRate);
    m_player->play();
    setPlaying(true);
}

void VideoPlayerController::pause()
{
    if (m_isUsingMPV && m_mpvEngine) {
        if (auto pending = m_mpvEngine->pendingLoad()) {
            pending->autoPlay = false;
            m_mpvEngine->setPendingLoad(pending);
        }
        m_mpvEngine->setFlag("pause", true);
    } else {
        if (m_player)
            m_player->pause();
    }
    setPlaying(false);
}

void VideoPlayerController::seek(double seconds)
{
    double t = std::isfinite(seconds) ? seconds : 0;
    if (m_duration > 0)
        t = std::min(t, m_duration);
    t = std::max(t, 0.0);
    if (m_isUsingMPV && m_mpvEngine) {
        if (m_mpvPendingStart > 0)
            m_mpvPendingStart = t > 0 ? t : 0; // the file is not open yet: go there once it is
        if (m_mpvPendingStart <= 0)
            m_mpvEngine->seek(t);
    } else {
        nativePlayer()->setPosition(qint64(std::llround(t * 1000.0)));
        if (m_player->playbackState() == QMediaPlayer::StoppedState)
            requestStill(t);
    }
    setCurrentTime(t);
}

void VideoPlayerController::setPlaybackRate(float rate)
{
    if (m_playbackRate != rate) {
        m_playbackRate = rate;
        emit playbackRateChanged(rate);
    }
    if (m_isUsingMPV && m_mpvEngine)
        m_mpvEngine->setDouble("speed", rate);
    else if (m_isPlaying && m_player)
        m_player->setPlaybackRate(rate);
}

void VideoPlayerController::toggleMute()
{
    setMuted(!m_isMuted);
    if (m_isUsingMPV && m_mpvEngine)
        m_mpvEngine->setFlag("mute", m_isMuted);
    else
        applyNativeVolume();
}

void VideoPlayerController::setVolume(float volume)
{
    const float v = std::isfinite(volume) ? std::clamp(volume, 0.0f, 1.0f) : 0.0f;
    if (m_volume != v) {
        m_volume = v;
        emit volumeChanged(v);
    }
    setMuted(m_volume == 0);
    if (m_isUsingMPV && m_mpvEngine) {
        m_mpvEngine->setDouble("volume", std::clamp(double(m_volume) * 100.0, 0.0, 100.0));
        m_mpvEngine->setFlag("mute", m_isMuted);
    } else {
        applyNativeVolume();
    }
}

void VideoPlayerController::fallBackToMPV()
{
    if (m_currentURL.isEmpty() || m_isUsingMPV || !LibMPVLibrary::shared() || m_tornDown)
        return;
    const bool wasPlaying = m_isPlaying || (m_player && m_player->playbackState() == QMediaPlayer::PlayingState);
    const double position = m_currentTime;
    load(m_currentURL, true, wasPlaying, false, position);
}

void VideoPlayerController::redrawMPVLayer()
{
    if (!m_mpvEngine)
        return;
    if (MPVRenderHost *layer = m_mpvEngine->activeLayer(); layer && !layer->isTornDown())
        layer->redrawIfActive();
}

void VideoPlayerController::refreshSurface()
{
    bumpSurfaceToken();
    if (!m_isUsingMPV)
        return;
    redrawMPVLayer();
    QPointer<VideoPlayerController> self(this);
    QTimer::singleShot(70, this, [self] {
        if (self)
            self->redrawMPVLayer();
    });
}

void VideoPlayerController::teardown()
{
    if (m_tornDown)
        return;
    m_tornDown = true;
    if (m_player)
        m_player->pause();
    m_mpvPoll.stop();
    m_decodeCheck.stop();
    m_nativeTick.stop();
    ++m_loadGeneration;
    if (m_mpvEngine) {
        m_mpvEngine->shutdown();
        m_mpvEngine.reset();
        emit mpvEngineChanged();
    }
}
