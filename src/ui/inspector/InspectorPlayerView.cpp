#include "ui/inspector/InspectorPlayerView.h"
#include "ui/Availability.h"
#include "ui/DesktopActions.h"

#include "library/FileNames.h"

#include "media/MediaMetadataService.h"
#include "media/VideoPlayerController.h"
#include "platform/DesktopServices.h"
#include "ui/inspector/InspectorMediaInfo.h"
#include "ui/player/FullscreenPlayerWindow.h"
#include "ui/inspector/InspectorPlayerCard.h"
#include "ui/inspector/InspectorSections.h"
#include "ui/inspector/InspectorWidgets.h"
#include "ui/LinearTheme.h"
#include "ui/player/TransportControls.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QPainter>
#include <QScrollArea>
#include <QShowEvent>
#include <QStackedLayout>
#include <QVBoxLayout>

namespace {
QColor labelOf(const LinearPalette &p) { return p.label(); }
QColor secondaryOf(const LinearPalette &p) { return p.secondaryLabel(); }
QColor tertiaryOf(const LinearPalette &p) { return p.tertiaryLabel(); }

// The window background behind everything.
class WindowBackground : public QWidget {
public:
    explicit WindowBackground(QWidget *parent) : QWidget(parent) {}

protected:
    void paintEvent(QPaintEvent *) override { QPainter(this).fillRect(rect(), palette().color(QPalette::Window)); }
};

// The facts and the preview arrive separately; both are applied together.
struct PendingMedia {
    std::optional<VideoMediaInfo> info;
    std::optional<QImage> image;
};

void defaultHooks(InspectorPlayerView::Hooks &hooks);
} // namespace

InspectorPlayerView::InspectorPlayerView(AppState *state, QWidget *parent) : InspectorPlayerView(state, Hooks{}, parent)
{
}

InspectorPlayerView::InspectorPlayerView(AppState *state, Hooks hooks, QWidget *parent)
    : QWidget(parent), m_state(state), m_hooks(std::move(hooks))
{
    initInspectorIcons();
    defaultHooks(m_hooks);
    m_controller = new VideoPlayerController(this);
    setObjectName("InspectorPlayerView");
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);

    auto *v = new QVBoxLayout(this);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(0);
    buildHeader();
    v->addWidget(m_header);
    v->addWidget(new DividerLine(this));
    auto *pagesHost = new QWidget(this);
    m_pages = new QStackedLayout(pagesHost);
    m_emptyState = new InspectorEmptyState(pagesHost);
    m_pages->addWidget(m_emptyState);
    buildContent();
    m_pages->addWidget(m_scroll);
    v->addWidget(pagesHost, 1);

    wireState();
    wireController();
    refreshAll();
}

InspectorPlayerView::~InspectorPlayerView()
{
    // The full-screen window must not outlive the controller it borrows.
    if (m_isFullscreenActive && m_hooks.dismissFullscreen) m_hooks.dismissFullscreen(false);
}

// ---- building ----

void InspectorPlayerView::buildHeader()
{
    m_header = new QWidget(this);
    m_header->setObjectName("inspector-header");
    auto *h = new QHBoxLayout(m_header);
    h->setContentsMargins(14, 9, 14, 9);
    h->setSpacing(6);
    m_title = new InspectorLabel({}, LinearTheme::font(12.5, QFont::DemiBold), labelOf, m_header);
    h->addWidget(m_title);
    m_engineBadge = new PillLabel(LinearTheme::font(9.5, QFont::DemiBold, LinearTheme::Design::monospaced), 5, 1.5, 4,
                                  m_header);
    m_engineBadge->setColors(
        [this](const LinearPalette &p) { return m_controller->isUsingMPV() ? p.accent() : p.tertiaryLabel(); },
        [this](const LinearPalette &p) { return m_controller->isUsingMPV() ? p.accentFill() : p.neutral(0.06, 0.045); });
    h->addWidget(m_engineBadge);
    h->addStretch(1);
    m_theaterButton = new LinearIconButton("rectangle.expand.vertical", {}, m_header);
    m_fullscreenButton = new LinearIconButton("arrow.up.left.and.arrow.down.right", {}, m_header);
    m_openButton = new LinearIconButton("arrow.up.forward.app", {}, m_header);
    m_closeButton = new LinearIconButton("xmark", {}, m_header);
    for (LinearIconButton *b : {m_theaterButton, m_fullscreenButton, m_openButton, m_closeButton}) h->addWidget(b);
    connect(m_theaterButton, &QAbstractButton::clicked, this, &InspectorPlayerView::toggleTheaterMode);
    connect(m_fullscreenButton, &QAbstractButton::clicked, this, [this] {
        if (const auto v = m_state->primarySelectedVideo()) presentFullscreen(*v);
    });
    connect(m_openButton, &QAbstractButton::clicked, this, &InspectorPlayerView::openExternally);
    connect(m_closeButton, &QAbstractButton::clicked, this, &InspectorPlayerView::closePanel);
}

QWidget *InspectorPlayerView::wrapCard(QWidget *section, int padding, int spacing)
{
    auto *card = new InspectorCard(padding, spacing);
    card->body()->addWidget(section);
    return card;
}

void InspectorPlayerView::buildContent()
{
    m_scroll = new QScrollArea;
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    auto *content = new WindowBackground(nullptr);
    content->setObjectName("inspector-content");
    auto *v = new QVBoxLayout(content);
    v->setContentsMargins(14, 14, 14, 14);
    v->setSpacing(14);

    // 1. The player, or its placeholder while the full-screen window plays.
    m_fullscreenPlaceholder = new FullscreenPlaceholder(content);
    v->addWidget(m_fullscreenPlaceholder);
    m_playerCard = new InspectorPlayerCard(m_controller, content);
    m_transport = new TransportControls(m_controller);
    m_playerCard->setTransportControls(m_transport);
    v->addWidget(m_playerCard);
    connect(m_transport, &TransportControls::fullscreenRequested, this, [this] {
        if (const auto v = m_state->primarySelectedVideo()) presentFullscreen(*v);
    });
    connect(m_fullscreenPlaceholder, &FullscreenPlaceholder::exitRequested, this, [this] {
        if (m_hooks.dismissFullscreen) m_hooks.dismissFullscreen(true);
    });
    connect(m_playerCard, &InspectorPlayerCard::togglePlayPauseRequested, this, &InspectorPlayerView::togglePlayPause);
    connect(m_playerCard, &InspectorPlayerCard::fullscreenRequested, this, [this] {
        if (const auto v = m_state->primarySelectedVideo()) presentFullscreen(*v);
    });
    connect(m_playerCard, &InspectorPlayerCard::openExternallyRequested, this, &InspectorPlayerView::openExternally);

    // 2. Matched moments of the current search.
    m_moments = new MatchedMomentsSection;
    m_momentsCard = wrapCard(m_moments, 10, 0);
    m_momentsCard->setObjectName("card:moments");
    v->addWidget(m_momentsCard);
    connect(m_moments, &MatchedMomentsSection::jumpRequested, this, &InspectorPlayerView::jumpToMoment);

    // 3. Actions, without a card.
    m_actions = new InspectorActionsSection(content);
    m_actions->setObjectName("card:actions");
    v->addWidget(m_actions);
    connect(m_actions, &InspectorActionsSection::trimRequested, this, &InspectorPlayerView::trimAndMerge);
    connect(m_actions, &InspectorActionsSection::moveRequested, this, &InspectorPlayerView::moveToFolder);
    connect(m_actions, &InspectorActionsSection::trashRequested, this, &InspectorPlayerView::moveToTrash);
    connect(m_actions, &InspectorActionsSection::revealRequested, this, &InspectorPlayerView::revealInFinder);

    // 4. Visual and text index.
    m_insights = new AIInsightsSection;
    m_insightsCard = wrapCard(m_insights, 11, 0);
    m_insightsCard->setObjectName("card:insights");
    v->addWidget(m_insightsCard);

    // 5. Transcript, always.
    m_transcript = new TranscriptSection;
    m_transcriptCard = wrapCard(m_transcript, 11, 0);
    m_transcriptCard->setObjectName("card:transcript");
    v->addWidget(m_transcriptCard);
    connect(m_transcript, &TranscriptSection::jumpRequested, this, &InspectorPlayerView::jumpToSegment);
    connect(m_transcript, &TranscriptSection::transcribeRequested, this, [this] {
        if (const auto v = m_state->primarySelectedVideo()) m_state->transcribeSelected(*v);
    });

    // 6. File information.
    auto *fileCard = new InspectorCard(12, 8, content);
    m_fileCard = fileCard;
    m_fileCard->setObjectName("card:file");
    m_fileName = new InspectorLabel({}, LinearTheme::font(13.5, QFont::DemiBold), labelOf, fileCard);
    m_fileName->setObjectName("file-name");
    m_fileName->setTextFormat(Qt::PlainText);
    m_fileName->setWordWrap(true);
    m_fileName->setTextInteractionFlags(Qt::TextSelectableByMouse);
    fileCard->body()->addWidget(m_fileName);
    auto *badges = new QHBoxLayout;
    badges->setSpacing(6);
    m_formatBadge = new FormatBadge({}, fileCard);
    m_resolution = new PillLabel(LinearTheme::font(10.5, QFont::Medium, LinearTheme::Design::monospaced), 6, 1.5, 4,
                                 fileCard);
    m_resolution->setColors(secondaryOf, [](const LinearPalette &p) { return p.neutral(0.06, 0.045); });
    m_codec = new InspectorLabel({}, LinearTheme::font(10.5, QFont::Medium), tertiaryOf, fileCard);
    m_codec->setObjectName("file-codec");
    badges->addWidget(m_formatBadge);
    badges->addWidget(m_resolution);
    badges->addWidget(m_codec);
    badges->addStretch(1);
    fileCard->body()->addLayout(badges);
    m_locationButton = new PaintedButton(fileCard);
    m_locationButton->setObjectName("location-row");
    m_locationButton->row()->setSpacing(5);
    m_locationButton->row()->addWidget(new SymbolView("folder", 10.5, tertiaryOf, m_locationButton), 0, Qt::AlignVCenter);
    m_location = new InspectorLabel({}, LinearTheme::font(11, QFont::Normal, LinearTheme::Design::monospaced), secondaryOf,
                                 m_locationButton);
    m_location->setTextFormat(Qt::PlainText);
    m_location->setMaxLines(2);
    m_location->setWordWrap(true);
    m_locationButton->row()->addWidget(m_location, 1);
    QSizePolicy sp(QSizePolicy::Expanding, QSizePolicy::Preferred);
    sp.setHeightForWidth(true);
    m_locationButton->setSizePolicy(sp);
    fileCard->body()->addWidget(m_locationButton);
    connect(m_locationButton, &QAbstractButton::clicked, this, &InspectorPlayerView::revealInFinder);
    v->addWidget(m_fileCard);

    // 7. Media facts.
    auto *gridCard = new InspectorCard(0, 0, content);
    m_gridCard = gridCard;
    m_gridCard->setObjectName("card:grid");
    m_grid = new MediaInfoGrid(gridCard);
    gridCard->body()->addWidget(m_grid);
    v->addWidget(m_gridCard);

    v->addStretch(1);
    m_scroll->setWidget(content);
}

// ---- reactions ----

void InspectorPlayerView::wireState()
{
    // Reactions run after the change that caused them has finished: a selection brings its
    // pending seek time with it in the same call.
    const auto queued = Qt::QueuedConnection;
    connect(m_state, &AppState::primarySelectedVideoIDChanged, this, [this] {
        if (isVisible()) loadSelection(false, false);
    }, queued);
    connect(m_state, &AppState::videoReloadSignalChanged, this, [this] {
        if (isVisible()) loadSelection(false, true);
    }, queued);
    connect(m_state, &AppState::pendingSeekSignalChanged, this, &InspectorPlayerView::onPendingSeekSignal, queued);
    connect(m_state, &AppState::playbackToggleSignalChanged, this, &InspectorPlayerView::onPlaybackToggleSignal, queued);
    connect(m_state, &AppState::fullscreenRequestSignalChanged, this, [this] {
        if (isVisible()) toggleFullscreen();
    }, queued);

    // What is shown follows the state at once.
    connect(m_state, &AppState::primarySelectedVideoChanged, this, &InspectorPlayerView::refreshAll);
    connect(m_state, &AppState::languageChanged, this, &InspectorPlayerView::refreshAll);
    connect(m_state, &AppState::isTheaterModeChanged, this, &InspectorPlayerView::refreshAll);
    for (auto signal : {&AppState::isAISearchModeChanged, &AppState::aiSearchHitsChanged,
                        &AppState::aiIndexEntriesChanged})
        connect(m_state, signal, this, &InspectorPlayerView::refreshSearchSections);
    for (auto signal : {&AppState::speechTranscriptsChanged, &AppState::transcribingVideoIDsChanged})
        connect(m_state, signal, this, &InspectorPlayerView::refreshTranscript);
}

void InspectorPlayerView::wireController()
{
    connect(m_controller, &VideoPlayerController::isUsingMPVChanged, this, [this] {
        refreshHeader();
        refreshGrid();
    });
    connect(m_controller, &VideoPlayerController::durationChanged, this, &InspectorPlayerView::refreshGrid);
    connect(m_controller, &VideoPlayerController::currentTimeChanged, this,
            [this](double t) { m_moments->setCurrentTime(t); });
}

void InspectorPlayerView::onPendingSeekSignal()
{
    if (!isVisible()) return;
    const std::optional<double> t = m_state->pendingSeekTimestamp();
    if (!t) return;
    m_state->setPendingSeekTimestamp(std::nullopt);
    m_controller->seek(*t);
}

void InspectorPlayerView::onPlaybackToggleSignal()
{
    if (!isVisible()) return;
    const auto video = m_state->primarySelectedVideo();
    if (!video) return;
    if (m_controller->canPlayCurrentFile())
        togglePlayPause();
    else if (!m_hooks.openURL(video->url()))
        DesktopActions::reportFailure(m_state, "error.openFailed");
}

void InspectorPlayerView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous()) loadSelection(false, false);
}

void InspectorPlayerView::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    if (!event->spontaneous()) m_controller->pause();
}

void InspectorPlayerView::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) update();
}

// ---- operations ----

void InspectorPlayerView::loadSelection(bool autoplay, bool forceReload)
{
    const std::optional<VideoFile> video = m_state->primarySelectedVideo();
    if (!video) {
        m_controller->load(QUrl(), false, false, false, 0);
        ++m_mediaGeneration;
        m_mediaInfo.reset();
        m_fallbackThumb = QImage();
        m_playerCard->setThumbnail({});
        refreshAll();
        return;
    }
    double start = 0;
    if (const std::optional<double> pending = m_state->pendingSeekTimestamp()) {
        start = *pending;
        m_state->setPendingSeekTimestamp(std::nullopt);
    } else if (m_state->isAISearchMode() && !m_state->searchQuery().trimmed().isEmpty()) {
        const auto hit = m_state->aiSearchHits().constFind(video->id);
        if (hit != m_state->aiSearchHits().constEnd()) start = hit->bestTimestamp.value_or(0);
    }
    m_controller->load(video->url(), false, autoplay, forceReload, start);
    loadMediaInfo(video->url(), forceReload);
}

// One version of one file: a file rewritten under its own name is another version.
static QString mediaInfoKey(const VideoFile &video)
{
    return video.id + QLatin1Char('\n') + QString::number(video.fileSize) + QLatin1Char('\n') +
           QString::number(video.modifiedDate.toMSecsSinceEpoch());
}

void InspectorPlayerView::loadMediaInfo(const QUrl &url, bool invalidateFirst)
{
    MediaMetadataService *media = m_hooks.media;
    if (invalidateFirst) {
        media->invalidate(url);
        m_mediaInfo.reset();
        m_mediaInfoKey.clear();
    }
    const quint64 generation = ++m_mediaGeneration;
    auto pending = std::make_shared<PendingMedia>();
    QPointer<InspectorPlayerView> self(this);
    auto finish = [self, pending, url, generation] {
        if (self && pending->info && pending->image) self->applyMediaInfo(url, generation, *pending->info, *pending->image);
    };
    MediaRequestOptions options;
    options.priority = MediaRequestPriority::visible;
    media->metadata(url, this, [pending, finish](const VideoMediaInfo &info) {
        pending->info = info;
        finish();
    }, options);
    media->thumbnail(url, kPreviewSize, this, [pending, finish](const QImage &image) {
        pending->image = image;
        finish();
    }, options);
}

void InspectorPlayerView::applyMediaInfo(const QUrl &url, quint64 generation, const VideoMediaInfo &info,
                                         const QImage &image)
{
    // Only the newest load writes, and only while its file is still the one selected.
    if (generation != m_mediaGeneration) return;
    const auto video = m_state->primarySelectedVideo();
    if ((video ? video->url() : QUrl()) != url) return;
    // A record with nothing in it means the file could not be read.
    m_mediaInfo = info == VideoMediaInfo{} ? std::nullopt : std::optional<VideoMediaInfo>(info);
    m_mediaInfoKey = video ? mediaInfoKey(*video) : QString();
    m_fallbackThumb = image;
    m_playerCard->setThumbnail(image);
    if ((!m_mediaInfo || !m_mediaInfo->isPlayableNatively) && !m_controller->isUsingMPV()) m_controller->fallBackToMPV();
    refreshFileInfo();
    refreshGrid();
    emit mediaInfoLoaded();
}

void InspectorPlayerView::toggleTheaterMode() { m_state->setIsTheaterMode(!m_state->isTheaterMode()); }

void InspectorPlayerView::closePanel()
{
    m_controller->pause();
    if (m_state->isTheaterMode()) m_state->setIsTheaterMode(false);
    if (m_state->showInspector()) m_state->setShowInspector(false);
}

void InspectorPlayerView::openExternally()
{
    if (const auto video = m_state->primarySelectedVideo())
        if (!m_hooks.openURL(video->url())) DesktopActions::reportFailure(m_state, "error.openFailed");
}

void InspectorPlayerView::revealInFinder()
{
    if (const auto video = m_state->primarySelectedVideo())
        if (!m_hooks.revealInFileManager({video->url()})) DesktopActions::reportFailure(m_state, "error.revealFailed");
}

QList<double> InspectorPlayerView::markersFor(const VideoFile &video) const
{
    QList<double> markers;
    if (!m_state->isAISearchMode()) return markers;
    const auto hit = m_state->aiSearchHits().constFind(video.id);
    if (hit == m_state->aiSearchHits().constEnd()) return markers;
    for (const VisualSearchMoment &m : hit->moments) markers.append(m.timestamp);
    return markers;
}

void InspectorPlayerView::presentFullscreen(const VideoFile &video)
{
    if (!m_controller->canPlayCurrentFile()) {
        if (!m_hooks.openURL(video.url())) DesktopActions::reportFailure(m_state, "error.openFailed");
        return;
    }
    if (!m_hooks.presentFullscreen) return;
    setFullscreenActive(true);
    if (!m_controller->isPlaying()) m_controller->play();
    QPointer<InspectorPlayerView> self(this);
    m_hooks.presentFullscreen(video, m_controller, m_state->language(), markersFor(video), [self] {
        if (!self) return;
        self->setFullscreenActive(false);
        // The inspector's surface takes the picture back.
        self->m_controller->refreshSurface();
    });
}

void InspectorPlayerView::toggleFullscreen()
{
    const auto video = m_state->primarySelectedVideo();
    if (!video) return;
    if (m_isFullscreenActive) {
        if (m_hooks.dismissFullscreen) m_hooks.dismissFullscreen(true);
    } else {
        presentFullscreen(*video);
    }
}

void InspectorPlayerView::setFullscreenActive(bool active)
{
    if (m_isFullscreenActive == active) return;
    m_isFullscreenActive = active;
    refreshFrame();
    emit fullscreenActiveChanged(active);
}

void InspectorPlayerView::togglePlayPause()
{
    if (m_controller->isPlaying())
        m_controller->pause();
    else
        m_controller->play();
}

void InspectorPlayerView::jumpToMoment(double timestamp)
{
    m_controller->seek(timestamp);
    if (!m_controller->isPlaying()) m_controller->play();
}

void InspectorPlayerView::jumpToSegment(double start) { jumpToMoment(start); }

void InspectorPlayerView::trimAndMerge()
{
    const auto video = m_state->primarySelectedVideo();
    if (!video) return;
    m_controller->pause();
    m_state->setVideoPendingEdit(*video);
}

void InspectorPlayerView::moveToFolder()
{
    const auto video = m_state->primarySelectedVideo();
    if (!video) return;
    // The list first: the sheet reads it when the flag opens it.
    m_state->setVideosPendingMove({*video});
    m_state->setShowMoveSheet(true);
}

void InspectorPlayerView::moveToTrash()
{
    const auto video = m_state->primarySelectedVideo();
    if (!video) return;
    m_controller->pause();
    m_state->moveSelectedToTrash({*video});
}

// ---- what is shown ----

QString InspectorPlayerView::headerTitle() const { return m_title->text(); }

QString InspectorPlayerView::engineBadgeText() const
{
    return m_engineBadge->isVisibleTo(this) ? m_engineBadge->text() : QString();
}

bool InspectorPlayerView::showsEmptyState() const { return m_pages->currentWidget() == m_emptyState; }

QList<QWidget *> InspectorPlayerView::visibleCards() const
{
    QList<QWidget *> cards;
    for (QWidget *w : {static_cast<QWidget *>(m_fullscreenPlaceholder), static_cast<QWidget *>(m_playerCard),
                       m_momentsCard, static_cast<QWidget *>(m_actions), m_insightsCard, m_transcriptCard, m_fileCard,
                       m_gridCard})
        if (w->isVisibleTo(m_scroll->widget())) cards.append(w);
    return cards;
}

void InspectorPlayerView::refreshAll()
{
    const auto video = m_state->primarySelectedVideo();
    // Facts of another file, or of this file before it changed, are never shown for it.
    if (!video || mediaInfoKey(*video) != m_mediaInfoKey) m_mediaInfo.reset();
    m_pages->setCurrentWidget(video ? static_cast<QWidget *>(m_scroll) : m_emptyState);
    const AppLanguage lang = m_state->language();
    m_emptyState->setLanguage(lang);
    m_actions->setLanguage(lang);
    m_actions->trimButton()->setEnabled(Availability::isAvailable(m_state, Availability::View::editorSheet));
    m_actions->moveButton()->setEnabled(Availability::isAvailable(m_state, Availability::View::moveSheet));
    m_playerCard->setLanguage(lang);
    m_transport->setLanguage(lang);
    m_fullscreenPlaceholder->setLanguage(lang);
    if (video) m_playerCard->setExtension(video->fileExtension);
    refreshHeader();
    refreshFrame();
    refreshFileInfo();
    refreshGrid();
    refreshSearchSections();
    refreshTranscript();
}

void InspectorPlayerView::refreshHeader()
{
    const AppLanguage lang = m_state->language();
    const bool theater = m_state->isTheaterMode();
    const bool hasSelection = m_state->primarySelectedVideo().has_value();
    m_title->setText(L10n::text(theater ? "inspector.theater" : "inspector.title", lang));
    m_engineBadge->setText(m_controller->isUsingMPV() ? "MPV" : "AV");
    m_engineBadge->setVisible(hasSelection);
    m_engineBadge->update();
    m_theaterButton->setSystemName(theater ? "rectangle.compress.vertical" : "rectangle.expand.vertical");
    m_theaterButton->setActive(theater);
    m_theaterButton->setToolTip(L10n::text("inspector.theater", lang));
    m_fullscreenButton->setToolTip(L10n::text("inspector.fullscreen", lang));
    m_openButton->setToolTip(L10n::text("inspector.openExternal", lang));
    m_closeButton->setToolTip(L10n::text("inspector.closePanel", lang));
    for (LinearIconButton *b : {m_theaterButton, m_fullscreenButton, m_openButton}) b->setVisible(hasSelection);
}

void InspectorPlayerView::refreshFrame()
{
    const bool theater = m_state->isTheaterMode();
    m_fullscreenPlaceholder->setVisible(m_isFullscreenActive);
    m_fullscreenPlaceholder->setFixedHeight(theater ? kTheaterPlaceholderHeight : kPlaceholderHeight);
    m_playerCard->setVisible(!m_isFullscreenActive);
    m_playerCard->setPlayerHeight(theater ? kTheaterPlayerHeight : kPlayerHeight);
    m_fileCard->setVisible(!theater);
    m_gridCard->setVisible(!theater);
}

void InspectorPlayerView::refreshFileInfo()
{
    const auto video = m_state->primarySelectedVideo();
    if (!video) return;
    m_fileName->setText(FileNames::display(video->name));
    m_formatBadge->setExt(video->fileExtension);
    const std::optional<QString> resolution = m_mediaInfo ? m_mediaInfo->resolutionLabel() : std::nullopt;
    m_resolution->setText(resolution.value_or(QString()));
    m_resolution->setVisible(resolution.has_value());
    const std::optional<QString> codec = m_mediaInfo ? m_mediaInfo->codec : std::nullopt;
    m_codec->setText(codec.value_or(QString()));
    m_codec->setVisible(codec.has_value());
    m_location->setText(video->directoryPath);
    m_locationButton->setToolTip(L10n::text("inspector.revealFinder", m_state->language()));
}

void InspectorPlayerView::refreshGrid()
{
    // The facts' duration covers the time before the player reports one.
    const std::optional<double> factsDuration = m_mediaInfo ? m_mediaInfo->duration : std::nullopt;
    m_transport->setFallbackDuration(factsDuration.value_or(0));
    const auto video = m_state->primarySelectedVideo();
    if (!video) return;
    m_grid->setRows(mediaInfoRows(*video, m_mediaInfo, m_controller->duration(), m_controller->isUsingMPV(),
                                  m_state->language()),
                    m_state->language());
}

void InspectorPlayerView::refreshSearchSections()
{
    const auto video = m_state->primarySelectedVideo();
    const AppLanguage lang = m_state->language();
    m_transport->setMarkers(video ? markersFor(*video) : QList<double>());
    bool showMoments = false;
    if (video && m_state->isAISearchMode()) {
        const auto hit = m_state->aiSearchHits().constFind(video->id);
        if (hit != m_state->aiSearchHits().constEnd() && !hit->moments.isEmpty()) {
            m_moments->setHit(*hit, lang);
            m_moments->setCurrentTime(m_controller->currentTime());
            showMoments = true;
        }
    }
    m_momentsCard->setVisible(showMoments);
    bool showInsights = false;
    if (video) {
        const auto entry = m_state->aiIndexEntries().constFind(video->id);
        if (entry != m_state->aiIndexEntries().constEnd()) {
            m_insights->setEntry(*entry, lang);
            showInsights = true;
        }
    }
    m_insightsCard->setVisible(showInsights);
}

void InspectorPlayerView::refreshTranscript()
{
    const auto video = m_state->primarySelectedVideo();
    if (!video) return;
    const auto entry = m_state->speechTranscripts().constFind(video->id);
    m_transcript->setData(m_state->transcribingVideoIDs().contains(video->id),
                          entry != m_state->speechTranscripts().constEnd()
                              ? std::optional<VideoTranscriptEntry>(*entry)
                              : std::nullopt,
                          m_state->language());
}

namespace {
void defaultHooks(InspectorPlayerView::Hooks &hooks)
{
    if (!hooks.media) hooks.media = &MediaMetadataService::shared();
    if (!hooks.openURL) hooks.openURL = [](const QUrl &url) { return DesktopServices::openURL(url); };
    if (!hooks.revealInFileManager)
        hooks.revealInFileManager = [](const QList<QUrl> &urls) { return DesktopServices::revealInFileManager(urls); };
    if (!hooks.presentFullscreen)
        hooks.presentFullscreen = [](const VideoFile &video, VideoPlayerController *controller, AppLanguage language,
                                     const QList<double> &markers, std::function<void()> onDismiss) {
            FullscreenPlayerWindowManager::shared().present(video, controller, language, markers, std::move(onDismiss));
        };
    if (!hooks.dismissFullscreen)
        hooks.dismissFullscreen = [](bool notify) { FullscreenPlayerWindowManager::shared().dismiss(notify); };
}
} // namespace
