#include "ui/tree/TreeListView.h"

#include "library/AppState.h"
#include "ui/tree/TreeRowPainting.h"

#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSet>
#include <QToolTip>
#include <QVariantAnimation>

#include <algorithm>
#include <cmath>

TreeListView::TreeListView(AppState *state, QWidget *parent)
    : QAbstractScrollArea(parent), m_state(state), m_service(&MediaMetadataService::shared())
{
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setMouseTracking(true);
    // A click takes the focus from the search field, but keys belong to the window, which
    // moves the selection with them.
    setFocusPolicy(Qt::ClickFocus);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    verticalScrollBar()->setSingleStep(22);

    m_chevronAnimation = new QVariantAnimation(this);
    m_chevronAnimation->setDuration(kChevronTurnMs);
    m_chevronAnimation->setEasingCurve(QEasingCurve::OutCubic);
    connect(m_chevronAnimation, &QVariantAnimation::valueChanged, this, [this] {
        if (const qsizetype i = indexOfRow(m_turningFolderID); i >= 0)
            updateRow(i);
    });
    connect(m_chevronAnimation, &QVariantAnimation::finished, this, [this] {
        const QString id = std::exchange(m_turningFolderID, {});
        if (const qsizetype i = indexOfRow(id); i >= 0)
            updateRow(i);
    });
    m_scrollAnimation = new QVariantAnimation(this);
    m_scrollAnimation->setDuration(kScrollAnimationMs);
    m_scrollAnimation->setEasingCurve(QEasingCurve::OutQuad);
    connect(m_scrollAnimation, &QVariantAnimation::valueChanged, this,
            [this](const QVariant &v) { verticalScrollBar()->setValue(v.toInt()); });

    if (m_state) {
        AppState *s = m_state;
        connect(s, &AppState::flattenedRowsChanged, this, [this] { setRows(m_state->flattenedRows()); });
        connect(s, &AppState::selectedVideoIDsChanged, this, [this] {
            updateScrollRange();
            viewport()->update();
        });
        connect(s, &AppState::primarySelectedVideoIDChanged, this, [this] {
            viewport()->update();
            scrollToPrimarySelection();
        });
        connect(s, &AppState::videoReloadSignalChanged, this, &TreeListView::reloadAll);
        for (auto signal : {&AppState::languageChanged, &AppState::isAISearchModeChanged, &AppState::aiSearchHitsChanged,
                            &AppState::aiIndexEntriesChanged, &AppState::searchQueryChanged})
            connect(s, signal, viewport(), qOverload<>(&QWidget::update));
        m_rows = s->flattenedRows();
    }
    rebuildOffsets();
}

TreeListView::~TreeListView()
{
    for (Load &load : m_loads)
        cancelLoad(load);
}

void TreeListView::setMediaService(MediaMetadataService *service)
{
    if (m_service == service)
        return;
    for (Load &load : m_loads)
        cancelLoad(load);
    m_loads.clear();
    m_service = service;
    syncLoads();
}

void TreeListView::setRows(const QList<TreeRow> &rows)
{
    m_rows = rows;
    m_indexValid = false;
    m_idSlots.clear();
    // Row views start fresh: no hover, no half-finished click.
    m_hover = {};
    m_pressed = {};
    rebuildOffsets();
    syncLoads();
    viewport()->update();
}

double TreeListView::rowHeight(const TreeRow &row)
{
    return row.isFolder() ? FolderRowPainter::kHeight : LumenkiteRowView::kHeight;
}

void TreeListView::rebuildOffsets()
{
    const qsizetype n = m_rows.size();
    m_offsets.resize(size_t(n) + 1);
    const qint64 folderStep = qint64(FolderRowPainter::kHeight + TreeRowPainting::kRowSpacing);
    const qint64 videoStep = qint64(LumenkiteRowView::kHeight + TreeRowPainting::kRowSpacing);
    qint64 y = kTopPadding;
    const TreeRow *rows = m_rows.constData();
    for (qsizetype i = 0; i < n; ++i) {
        m_offsets[size_t(i)] = y;
        y += rows[i].kind == TreeRowKind::folder ? folderStep : videoStep;
    }
    // The last row has no spacing after it.
    m_offsets[size_t(n)] = n > 0 ? y - qint64(TreeRowPainting::kRowSpacing) : y;
    updateScrollRange();
}

qint64 TreeListView::rowTop(qsizetype index) const { return m_offsets[size_t(index)]; }

int TreeListView::bottomPadding() const
{
    return m_state && m_state->selectedVideoIDs().size() >= 2 ? kMultiSelectionBottomPadding : kBottomPadding;
}

qint64 TreeListView::contentHeight() const { return m_offsets.back() + bottomPadding(); }

void TreeListView::updateScrollRange()
{
    const qint64 max = std::max<qint64>(0, contentHeight() - viewport()->height());
    QScrollBar *bar = verticalScrollBar();
    bar->setPageStep(viewport()->height());
    bar->setRange(0, int(std::min<qint64>(max, std::numeric_limits<int>::max())));
}

qsizetype TreeListView::rowAt(const QPoint &pos) const
{
    const qint64 y = qint64(pos.y()) + scrollOffset();
    if (m_rows.isEmpty() || y < m_offsets.front() || y >= m_offsets.back())
        return -1;
    const auto it = std::upper_bound(m_offsets.begin(), m_offsets.end() - 1, y);
    const qsizetype index = qsizetype(it - m_offsets.begin()) - 1;
    if (index < 0 || y >= m_offsets[size_t(index)] + qint64(rowHeight(m_rows.at(index))))
        return -1; // in the spacing between two rows
    return index;
}

QRect TreeListView::rowRect(qsizetype index) const
{
    if (index < 0 || index >= m_rows.size())
        return {};
    return QRect(0, int(m_offsets[size_t(index)] - scrollOffset()), viewport()->width(),
                 int(rowHeight(m_rows.at(index))));
}

std::pair<qsizetype, qsizetype> TreeListView::visibleRange() const
{
    if (m_rows.isEmpty())
        return {0, -1};
    const qint64 top = scrollOffset();
    const qint64 bottom = top + viewport()->height();
    // First row whose bottom lies below the top edge, last row whose top lies above the bottom.
    auto first = std::upper_bound(m_offsets.begin() + 1, m_offsets.end(), top) - m_offsets.begin() - 1;
    auto last = std::lower_bound(m_offsets.begin(), m_offsets.end() - 1, bottom) - m_offsets.begin() - 1;
    first = std::clamp<qsizetype>(first, 0, m_rows.size() - 1);
    last = std::min<qsizetype>(last, m_rows.size() - 1);
    if (last < first)
        return {0, -1};
    return {first, last};
}

namespace {
// Folder and video ids live in one table; the kind is folded into the hash.
size_t rowKeyHash(bool folder, QStringView id) { return qHash(id, folder ? 0x9e3779b9u : 0u); }
size_t rowKeyHash(const TreeRow &row)
{
    // A folder's path may be put together on demand; a video's id is read in place.
    return row.isFolder() ? rowKeyHash(true, row.folder().id()) : rowKeyHash(false, row.video().id);
}
bool rowHasID(const TreeRow &row, bool folder, QStringView id)
{
    if (row.isFolder() != folder)
        return false;
    return folder ? row.folder().id() == id : row.video().id == id;
}
} // namespace

void TreeListView::buildIndex() const
{
    // No allocation per row and no copies of the ids: a million rows index in a few
    // tens of milliseconds.
    size_t capacity = 16;
    while (capacity < size_t(m_rows.size()) * 2)
        capacity <<= 1;
    m_idSlots.assign(capacity, -1);
    const size_t mask = capacity - 1;
    for (qsizetype i = 0; i < m_rows.size(); ++i) {
        size_t slot = rowKeyHash(m_rows.at(i)) & mask;
        while (m_idSlots[slot] >= 0)
            slot = (slot + 1) & mask;
        m_idSlots[slot] = qint32(i);
    }
    m_indexValid = true;
}

qsizetype TreeListView::indexOfRow(const QString &rowID) const
{
    static const QString videoPrefix = QStringLiteral("video:");
    static const QString folderPrefix = QStringLiteral("folder:");
    bool folder;
    QStringView id;
    if (rowID.startsWith(videoPrefix)) {
        folder = false;
        id = QStringView(rowID).mid(videoPrefix.size());
    } else if (rowID.startsWith(folderPrefix)) {
        folder = true;
        id = QStringView(rowID).mid(folderPrefix.size());
    } else {
        return -1;
    }
    if (m_rows.isEmpty())
        return -1;
    if (!m_indexValid) {
        // Most look-ups follow a click on a row in view: spare those the index build.
        const auto [first, last] = visibleRange();
        for (qsizetype i = first; i <= last; ++i) {
            if (rowHasID(m_rows.at(i), folder, id))
                return i;
        }
        buildIndex();
    }
    const size_t mask = m_idSlots.size() - 1;
    for (size_t slot = rowKeyHash(folder, id) & mask; m_idSlots[slot] >= 0; slot = (slot + 1) & mask) {
        if (rowHasID(m_rows.at(m_idSlots[slot]), folder, id))
            return m_idSlots[slot];
    }
    return -1;
}

int TreeListView::scrollOffset() const { return verticalScrollBar()->value(); }

void TreeListView::setScrollOffset(int offset)
{
    m_scrollAnimation->stop();
    verticalScrollBar()->setValue(offset);
}

bool TreeListView::scrollToRow(const QString &rowID, bool animated)
{
    const qsizetype index = indexOfRow(rowID);
    if (index < 0)
        return false;
    const qint64 centre = rowTop(index) + qint64(rowHeight(m_rows.at(index)) / 2);
    const int target = int(std::clamp<qint64>(centre - viewport()->height() / 2, verticalScrollBar()->minimum(),
                                              verticalScrollBar()->maximum()));
    m_scrollAnimation->stop();
    if (!animated || target == scrollOffset()) {
        verticalScrollBar()->setValue(target);
        return true;
    }
    m_scrollAnimation->setStartValue(scrollOffset());
    m_scrollAnimation->setEndValue(target);
    m_scrollAnimation->start();
    return true;
}

void TreeListView::scrollToPrimarySelection()
{
    const auto &id = m_state->primarySelectedVideoID();
    if (!id)
        return;
    scrollToRow(QStringLiteral("video:") + *id, isVisible());
}

// ---- loading ----

void TreeListView::syncLoads()
{
    QSet<QString> visible;
    if (m_service && isVisible()) {
        const auto [first, last] = visibleRange();
        for (qsizetype i = first; i <= last; ++i) {
            const TreeRow &row = m_rows.at(i);
            if (row.isVideo())
                visible.insert(row.video().id);
        }
    }
    for (auto it = m_loads.begin(); it != m_loads.end();) {
        if (!visible.contains(it.key())) {
            cancelLoad(*it);
            it = m_loads.erase(it);
        } else {
            ++it;
        }
    }
    if (visible.size() == m_loads.size())
        return;
    const auto [first, last] = visibleRange();
    for (qsizetype i = first; i <= last; ++i) {
        const TreeRow &row = m_rows.at(i);
        if (!row.isVideo() || m_loads.contains(row.video().id))
            continue;
        Load &load = m_loads[row.video().id];
        load.url = row.video().url();
        startLoad(row.video().id, load);
    }
}

void TreeListView::startLoad(const QString &videoID, Load &load)
{
    // Every start gets a new generation; an answer to an older start is recognised by its
    // generation and dropped, so a late or cancelled request never replaces a newer result.
    load.generation = m_nextGeneration++;
    const quint64 generation = load.generation;
    const QSizeF size = LumenkiteRowView::thumbnailRequestSize();
    MediaRequestOptions options;
    options.priority = MediaRequestPriority::visible;
    options.generation = generation;

    if (auto cached = m_service->cachedThumbnail(load.url, size)) {
        load.thumbnail = *cached;
    } else {
        load.thumbnailRequest = m_service->thumbnail(
            load.url, size, this,
            MediaMetadataService::ThumbnailHandler([this, videoID, generation](const QImage &image, quint64 answered) {
                auto it = m_loads.find(videoID);
                if (it == m_loads.end() || it->generation != generation || answered != generation)
                    return;
                it->thumbnail = image;
                updateVideoRow(videoID);
            }),
            options);
    }
    if (auto cached = m_service->cachedMetadata(load.url)) {
        load.mediaInfo = *cached;
    } else {
        load.metadataRequest = m_service->metadata(
            load.url, this,
            MediaMetadataService::MetadataHandler([this, videoID, generation](const VideoMediaInfo &info, quint64 answered) {
                auto it = m_loads.find(videoID);
                if (it == m_loads.end() || it->generation != generation || answered != generation)
                    return;
                it->mediaInfo = info;
                updateVideoRow(videoID);
            }),
            options);
    }
}

void TreeListView::cancelLoad(Load &load)
{
    load.thumbnailRequest.cancel();
    load.metadataRequest.cancel();
}

void TreeListView::reloadAll()
{
    if (!m_service)
        return;
    // Results already shown stay until the new ones replace them.
    for (auto it = m_loads.begin(); it != m_loads.end(); ++it) {
        cancelLoad(*it);
        startLoad(it.key(), *it);
    }
    viewport()->update();
}

const QImage *TreeListView::thumbnail(const QString &videoID) const
{
    const auto it = m_loads.constFind(videoID);
    return it != m_loads.constEnd() && it->thumbnail ? &*it->thumbnail : nullptr;
}

const VideoMediaInfo *TreeListView::mediaInfo(const QString &videoID) const
{
    const auto it = m_loads.constFind(videoID);
    return it != m_loads.constEnd() && it->mediaInfo ? &*it->mediaInfo : nullptr;
}

QStringList TreeListView::loadedVideoIDs() const { return m_loads.keys(); }

// ---- painting ----

void TreeListView::paintEvent(QPaintEvent *event)
{
    QPainter painter(viewport());
    const PaneColors colors = PaneColors::forWidget(this);
    painter.fillRect(event->rect(), colors.windowBackground);
    const auto [first, last] = visibleRange();
    if (last < first)
        return;

    const QSet<QString> &selected = m_state->selectedVideoIDs();
    const std::optional<QString> &primary = m_state->primarySelectedVideoID();
    const AppLanguage language = m_state->language();
    const bool aiMode = m_state->isAISearchMode();
    const SearchHitMap &hits = m_state->aiSearchHits();
    const VisualIndexMap &entries = m_state->aiIndexEntries();
    const int width = viewport()->width();
    const int offset = scrollOffset();

    for (qsizetype i = first; i <= last; ++i) {
        const TreeRow &row = m_rows.at(i);
        const QRectF rect(0, double(m_offsets[size_t(i)] - offset), width, rowHeight(row));
        if (!rect.intersects(event->rect()))
            continue;
        const bool hovered = m_hover.index == i;
        if (row.isFolder()) {
            FolderRowPainter::Input in;
            in.row = &row;
            in.isHovered = hovered;
            in.hoveredPart = hovered ? FolderRowPainter::Part(m_hover.part) : FolderRowPainter::Part::none;
            in.chevronAngle = chevronAngle(row.id());
            FolderRowPainter::paint(painter, rect, in, colors);
            continue;
        }
        const VideoFile &video = row.video();
        LumenkiteRowView::Input in;
        in.depth = row.depth;
        in.ancestorHasNextSibling = row.ancestorHasNextSibling;
        in.isLastInParent = row.isLastInParent;
        in.video = &video;
        in.isChecked = selected.contains(video.id);
        in.isPrimarySelection = primary && *primary == video.id;
        in.isSelected = in.isChecked || in.isPrimarySelection;
        in.isHovered = hovered;
        in.hoveredPart = hovered ? LumenkiteRowView::Part(m_hover.part) : LumenkiteRowView::Part::none;
        in.checkboxVisible = LumenkiteRowView::isCheckboxVisible(hovered, selected.size(), in.isChecked);
        in.thumbnail = thumbnail(video.id);
        in.mediaInfo = mediaInfo(video.id);
        in.language = language;
        if (aiMode) {
            const auto hit = hits.constFind(video.id);
            if (hit != hits.constEnd()) {
                const auto entry = entries.constFind(video.id);
                in.badge = LumenkiteRowView::searchBadge(*hit, entry != entries.constEnd() ? &*entry : nullptr, language);
            }
        }
        LumenkiteRowView::paint(painter, rect, in, colors);
    }
}

void TreeListView::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollRange();
    syncLoads();
}

void TreeListView::scrollContentsBy(int, int)
{
    m_hover = targetAt(viewport()->mapFromGlobal(QCursor::pos()));
    if (!viewport()->underMouse())
        m_hover = {};
    syncLoads();
    viewport()->update();
}

void TreeListView::showEvent(QShowEvent *event)
{
    QAbstractScrollArea::showEvent(event);
    updateScrollRange();
    syncLoads();
}

// ---- pointer ----

TreeListView::Target TreeListView::targetAt(const QPoint &pos) const
{
    const qsizetype index = rowAt(pos);
    if (index < 0)
        return {};
    const TreeRow &row = m_rows.at(index);
    const QRectF rect = rowRect(index);
    if (row.isFolder()) {
        FolderRowPainter::Input in;
        in.row = &row;
        in.isHovered = true;
        return {index, int(FolderRowPainter::hitTest(FolderRowPainter::layout(rect, in), pos))};
    }
    LumenkiteRowView::Input in;
    in.depth = row.depth;
    in.video = &row.video();
    in.isHovered = true;
    in.mediaInfo = mediaInfo(row.video().id);
    in.language = m_state->language();
    if (m_state->isAISearchMode()) {
        const auto hit = m_state->aiSearchHits().constFind(row.video().id);
        if (hit != m_state->aiSearchHits().constEnd()) {
            const auto entry = m_state->aiIndexEntries().constFind(row.video().id);
            in.badge = LumenkiteRowView::searchBadge(
                *hit, entry != m_state->aiIndexEntries().constEnd() ? &*entry : nullptr, in.language);
        }
    }
    return {index, int(LumenkiteRowView::hitTest(LumenkiteRowView::layout(rect, in), pos))};
}

void TreeListView::setHover(const Target &target)
{
    if (target == m_hover)
        return;
    const qsizetype old = m_hover.index;
    m_hover = target;
    updateRow(old);
    updateRow(target.index);
}

void TreeListView::updateRow(qsizetype index)
{
    if (index >= 0 && index < m_rows.size())
        viewport()->update(rowRect(index));
}

void TreeListView::updateVideoRow(const QString &videoID)
{
    // Only visible rows load, so the search stays within the viewport.
    const auto [first, last] = visibleRange();
    for (qsizetype i = first; i <= last; ++i) {
        const TreeRow &row = m_rows.at(i);
        if (row.isVideo() && row.video().id == videoID) {
            updateRow(i);
            return;
        }
    }
}

void TreeListView::mouseMoveEvent(QMouseEvent *event) { setHover(targetAt(event->position().toPoint())); }

bool TreeListView::viewportEvent(QEvent *event)
{
    switch (event->type()) {
    case QEvent::Leave:
        setHover({});
        break;
    case QEvent::ToolTip: {
        auto *help = static_cast<QHelpEvent *>(event);
        const Target t = targetAt(help->pos());
        QString tip;
        if (t.index >= 0)
            tip = m_rows.at(t.index).isFolder() ? FolderRowPainter::toolTip(FolderRowPainter::Part(t.part), m_state->language())
                                                : LumenkiteRowView::toolTip(LumenkiteRowView::Part(t.part), m_state->language());
        if (tip.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), tip, viewport());
        return true;
    }
    default:
        break;
    }
    return QAbstractScrollArea::viewportEvent(event);
}

void TreeListView::mousePressEvent(QMouseEvent *event)
{
    m_pressed = event->button() == Qt::LeftButton ? targetAt(event->position().toPoint()) : Target{};
}

void TreeListView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const Target target = targetAt(event->position().toPoint());
    const Target pressed = m_pressed;
    m_pressed = {};
    if (pressed.index >= 0 && target == pressed)
        activate(target, event->modifiers());
}

void TreeListView::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const Target target = targetAt(event->position().toPoint());
    m_pressed = {};
    if (target.index < 0)
        return;
    const TreeRow &row = m_rows.at(target.index);
    if (row.isVideo() && LumenkiteRowView::Part(target.part) == LumenkiteRowView::Part::row) {
        const VideoFile video = row.video();
        LumenkiteRowView::playAction(*m_state, video);
        return;
    }
    // Anywhere else the second click counts as a click of its own.
    m_pressed = target;
}

void TreeListView::activate(const Target &target, Qt::KeyboardModifiers modifiers)
{
    if (target.index < 0 || target.index >= m_rows.size())
        return;
    const TreeRow row = m_rows.at(target.index); // the action may replace the rows
    if (row.isFolder()) {
        const VideoFolderNodePtr folder = row.folderNode;
        switch (FolderRowPainter::Part(target.part)) {
        case FolderRowPainter::Part::moveButton: FolderRowPainter::moveFolderVideos(*m_state, *folder); break;
        case FolderRowPainter::Part::revealButton: FolderRowPainter::reveal(*folder); break;
        default:
            turnChevron(row.id(), !row.isExpanded);
            FolderRowPainter::click(*m_state, *folder);
            break;
        }
        return;
    }
    const VideoFile video = row.video();
    switch (LumenkiteRowView::Part(target.part)) {
    case LumenkiteRowView::Part::checkbox:
        // The checkbox only takes clicks while it shows.
        if (LumenkiteRowView::isCheckboxVisible(m_hover.index == target.index, m_state->selectedVideoIDs().size(),
                                                m_state->selectedVideoIDs().contains(video.id)))
            LumenkiteRowView::toggleCheckbox(*m_state, video);
        else
            LumenkiteRowView::click(*m_state, video, modifiers);
        break;
    case LumenkiteRowView::Part::playButton: LumenkiteRowView::playAction(*m_state, video); break;
    case LumenkiteRowView::Part::moveButton: LumenkiteRowView::moveRowVideo(*m_state, video); break;
    case LumenkiteRowView::Part::trashButton: LumenkiteRowView::trashRowVideo(*m_state, video); break;
    case LumenkiteRowView::Part::matchBadge: LumenkiteRowView::showInInspector(*m_state, video); break;
    default: LumenkiteRowView::click(*m_state, video, modifiers); break;
    }
}

QMenu *TreeListView::makeContextMenu(qsizetype index, QWidget *parent)
{
    if (index < 0 || index >= m_rows.size())
        return nullptr;
    const TreeRow &row = m_rows.at(index);
    if (row.isFolder())
        return FolderRowPainter::makeContextMenu(*m_state, row.folderNode, row.isExpanded, parent);
    return LumenkiteRowView::makeContextMenu(*m_state, row.video(), parent);
}

void TreeListView::contextMenuEvent(QContextMenuEvent *event)
{
    const qsizetype index = rowAt(event->pos());
    QMenu *menu = makeContextMenu(index, this);
    if (!menu)
        return;
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

void TreeListView::keyPressEvent(QKeyEvent *event) { event->ignore(); }

void TreeListView::turnChevron(const QString &folderRowID, bool opening)
{
    m_chevronAnimation->stop();
    m_turningFolderID = folderRowID;
    m_chevronAnimation->setStartValue(opening ? 0.0 : 90.0);
    m_chevronAnimation->setEndValue(opening ? 90.0 : 0.0);
    m_chevronAnimation->start();
}

double TreeListView::chevronAngle(const QString &folderRowID) const
{
    if (m_turningFolderID.isEmpty() || folderRowID != m_turningFolderID
        || m_chevronAnimation->state() != QAbstractAnimation::Running)
        return -1;
    return m_chevronAnimation->currentValue().toDouble();
}
