#include "ui/tree/LumenkitePane.h"
#include "ui/DesktopActions.h"

#include "library/AppState.h"
#include "platform/DesktopServices.h"
#include "ui/EngineNames.h"
#include "ui/LinearTheme.h"
#include "ui/tree/PaneStyle.h"
#include "ui/tree/PaneWidgets.h"
#include "ui/tree/TreeRowPainting.h"
#include "ui/tree/TreeListView.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QScrollArea>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>
#include <cstdio>

namespace {

QString tr_(const char *key, AppLanguage language) { return L10n::text(QString::fromLatin1(key), language); }

QLabel *makeLabel(const QString &text, const QFont &font, const QColor &color, QWidget *parent = nullptr)
{
    auto *label = new QLabel(text, parent);
    label->setFont(font);
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, color);
    label->setPalette(pal);
    label->setTextFormat(Qt::PlainText);
    return label;
}

void setTextColor(QWidget *label, const QColor &color)
{
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, color);
    label->setPalette(pal);
}

ElidedLabel *makeElidedLabel(const QFont &font, const QColor &color, QWidget *parent)
{
    auto *label = new ElidedLabel(parent);
    label->setFont(font);
    setTextColor(label, color);
    return label;
}

constexpr int kHeaderMinSpacer = 8;
constexpr int kTitleSpacing = 7;
constexpr int kToolbarSpacing = 2;

// The rounded field behind the search text: its outline follows the mode and the focus.
class SearchBox : public QWidget {
public:
    using QWidget::QWidget;
    void setLook(bool visualSearch, bool focused)
    {
        m_visual = visualSearch;
        m_focused = focused;
        update();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing, true);
        const PaneColors c = PaneColors::forWidget(this);
        const double w = m_visual ? 1.2 : 0.75;
        QColor stroke = c.separator;
        if (m_visual)
            stroke = c.accent;
        else if (m_focused)
            stroke = PaneColors::alpha(c.accent, c.dark ? 0.45 : 0.35);
        p.setBrush(c.dark ? QColor(255, 255, 255, qRound(0.065 * 255)) : QColor(0, 0, 0, qRound(0.045 * 255)));
        p.setPen(QPen(stroke, w));
        p.drawRoundedRect(QRectF(rect()).adjusted(w / 2, w / 2, -w / 2, -w / 2), 8, 8);
    }

private:
    bool m_visual = false;
    bool m_focused = false;
};

// The round badge above an empty state's title.
class EmptyStateIcon : public QWidget {
public:
    EmptyStateIcon(const QString &glyph, QWidget *parent) : QWidget(parent), m_glyph(glyph) { setFixedSize(52, 52); }
    QString glyph() const { return m_glyph; }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing, true);
        const PaneColors c = PaneColors::forWidget(this);
        p.setBrush(c.controlBackground);
        p.setPen(QPen(c.outline(), 0.75));
        p.drawEllipse(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
        PaneStyle::drawGlyph(p, m_glyph, QRectF(15, 15, 22, 22), c.tertiaryLabel);
    }

private:
    QString m_glyph;
};

PaneButton::Segment glyphSeg(const QString &glyph, double size, const QColor &color)
{
    PaneButton::Segment s;
    s.glyph = glyph;
    s.glyphSize = size;
    s.color = color;
    return s;
}

PaneButton::Segment textSeg(const QString &text, const QFont &font, const QColor &color)
{
    PaneButton::Segment s;
    s.text = text;
    s.font = font;
    s.color = color;
    return s;
}

// The prominent (accent-filled) and bordered push buttons of banners and empty states.
PaneButton *makePushButton(const QString &title, bool prominent, bool mini, const PaneColors &c, QWidget *parent)
{
    auto *b = new PaneButton(parent);
    const QFont font = PaneStyle::font(mini ? 10.5 : 12.5, QFont::Medium);
    b->setSegments({textSeg(title, font, prominent ? QColor(Qt::white) : c.label)});
    b->setPadding(mini ? 7 : 12, mini ? 1.5 : 4);
    if (prominent)
        b->setShape(c.accent, Qt::transparent, 0, mini ? 4 : 6);
    else
        b->setShape(c.controlBackground, c.outline(), 0.75, mini ? 4 : 6);
    return b;
}

// A plain text button in one colour (stop, cancel, rescan).
PaneButton *makeTextButton(const QString &title, const QFont &font, const QColor &color, QWidget *parent)
{
    auto *b = new PaneButton(parent);
    b->setSegments({textSeg(title, font, color)});
    return b;
}

} // namespace

// ---- construction ----

LumenkitePane::LumenkitePane(AppState *state, QWidget *parent) : QWidget(parent), m_state(state)
{
    setObjectName(QStringLiteral("LumenkitePane"));
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    m_column = column;

    buildHeader(column);
    column->addWidget(new PaneDivider(Qt::Horizontal, this));
    buildSearchRow(column);
    column->addWidget(new PaneDivider(Qt::Horizontal, this));

    // Permission banner.
    m_banner = new PaneStrip(QColor(), this);
    m_banner->setObjectName(QStringLiteral("permissionBanner"));
    {
        auto *row = new QHBoxLayout(m_banner);
        row->setContentsMargins(14, 7, 14, 7);
        row->setSpacing(10);
        const PaneColors c = PaneColors::forWidget(this);
        row->addWidget(new PaneGlyph(QStringLiteral("exclamationmark.shield.fill"), 14, c.orange, m_banner));
        m_bannerText = makeElidedLabel(PaneStyle::font(11.5, QFont::Medium), c.label, m_banner);
        m_bannerText->setObjectName(QStringLiteral("permissionText"));
        // Takes what the buttons leave and shortens the folder list with "…" below that.
        m_bannerText->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        row->addWidget(m_bannerText, 1);
        m_bannerGrant = makePushButton({}, false, true, c, m_banner);
        m_bannerGrant->setObjectName(QStringLiteral("permissionGrant"));
        connect(m_bannerGrant, &QAbstractButton::clicked, this, &LumenkitePane::openFullDiskAccessSettings);
        row->addWidget(m_bannerGrant);
        m_bannerRescan = makeTextButton({}, PaneStyle::font(11, QFont::DemiBold), c.accent, m_banner);
        m_bannerRescan->setObjectName(QStringLiteral("permissionRescan"));
        // Rescans the active source as it is, without looking for new volumes.
        connect(m_bannerRescan, &QAbstractButton::clicked, this, [this] { m_state->startScan(); });
        row->addWidget(m_bannerRescan);
    }
    column->addWidget(m_banner);
    m_bannerDivider = new PaneDivider(Qt::Horizontal, this);
    column->addWidget(m_bannerDivider);

    // Status strip placeholder and its divider; the content is made by refreshStatusStrip().
    m_stripDivider = new PaneDivider(Qt::Horizontal, this);
    column->addWidget(m_stripDivider);

    m_content = new QStackedWidget(this);
    m_list = new TreeListView(state, m_content);
    m_list->setObjectName(QStringLiteral("treeList"));
    m_content->addWidget(m_list);
    auto *emptyPage = new QWidget(m_content);
    emptyPage->setObjectName(QStringLiteral("emptyPage"));
    m_emptyHost = new QVBoxLayout(emptyPage);
    m_emptyHost->setContentsMargins(20, 0, 20, 0);
    m_content->addWidget(emptyPage);
    column->addWidget(m_content, 1);

    // Everything the sections read. The list follows its own fields.
    m_progressTimer = new QTimer(this);
    m_progressTimer->setSingleShot(true);
    m_progressTimer->setInterval(kProgressIntervalMs);
    connect(m_progressTimer, &QTimer::timeout, this, &LumenkitePane::refreshProgress);
    for (auto signal : {&AppState::filteredVideosChanged, &AppState::scanStatusPathChanged, &AppState::allVideosChanged,
                        &AppState::totalVideoBytesChanged, &AppState::flattenedRowsChanged,
                        &AppState::indexedVideoCountChanged})
        connect(state, signal, this, &LumenkitePane::libraryChanged);
    auto refresh = [this] { refreshAll(); };
    for (auto signal : {&AppState::languageChanged, &AppState::activeScopeChanged,
                        &AppState::isScanningChanged, &AppState::lastScanTextChanged, &AppState::sortOrderChanged,
                        &AppState::compactSingleChildFoldersChanged, &AppState::appearanceChanged,
                        &AppState::showInspectorChanged, &AppState::isAISearchModeChanged,
                        &AppState::isAISearchRunningChanged, &AppState::searchQueryChanged,
                        &AppState::deniedFoldersChanged, &AppState::isLoadingLibraryChanged,
                        &AppState::activeSmartFilterChanged, &AppState::activeExtensionFilterChanged,
                        &AppState::aiEngineStatusChanged, &AppState::isDownloadingAIModelChanged,
                        &AppState::aiModelDownloadProgressChanged, &AppState::aiModelDownloadStageChanged,
                        &AppState::isMobileCLIPInstalledChanged, &AppState::isAIIndexingChanged,
                        &AppState::aiIndexedCountChanged, &AppState::aiTotalToIndexChanged,
                        &AppState::aiVideosPerSecondChanged, &AppState::aiETATextChanged})
        connect(state, signal, this, refresh);
    refreshAll();
}

LumenkitePane::~LumenkitePane() = default;

void LumenkitePane::buildHeader(QVBoxLayout *column)
{
    auto *header = new QWidget(this);
    header->setObjectName(QStringLiteral("paneHeader"));
    m_header = header;
    header->installEventFilter(this);
    auto *row = new QHBoxLayout(header);
    row->setContentsMargins(14, 8, 14, 8);
    row->setSpacing(10);
    const PaneColors c = PaneColors::forWidget(this);

    auto *title = new QHBoxLayout;
    title->setSpacing(kTitleSpacing);
    m_scopeIcon = new PaneGlyph(QStringLiteral("folder"), 15, c.accent, header);
    m_scopeIcon->setObjectName(QStringLiteral("scopeIcon"));
    title->addWidget(m_scopeIcon);
    m_scopeTitle = makeElidedLabel(PaneStyle::font(14, QFont::DemiBold), c.label, header);
    m_scopeTitle->setObjectName(QStringLiteral("scopeTitle"));
    title->addWidget(m_scopeTitle);
    m_countLabel = makeElidedLabel(PaneStyle::font(12, QFont::Medium), c.tertiaryLabel, header);
    m_countLabel->setObjectName(QStringLiteral("videoCount"));
    title->addWidget(m_countLabel);
    row->addLayout(title);

    m_rescanButton = new PaneButton(header);
    m_rescanButton->setObjectName(QStringLiteral("rescanButton"));
    m_rescanButton->setPadding(9, 4);
    connect(m_rescanButton, &QAbstractButton::clicked, this, &LumenkitePane::rescan);
    row->addWidget(m_rescanButton);
    // A spacer of at least 8 before the sort menu.
    row->addSpacerItem(new QSpacerItem(kHeaderMinSpacer, 0, QSizePolicy::MinimumExpanding, QSizePolicy::Minimum));

    m_sortButton = new QToolButton(header);
    m_sortButton->setObjectName(QStringLiteral("sortButton"));
    m_sortButton->setPopupMode(QToolButton::InstantPopup);
    m_sortButton->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_sortButton->setAutoRaise(true);
    m_sortMenu = new QMenu(m_sortButton);
    m_sortButton->setMenu(m_sortMenu);
    row->addWidget(m_sortButton);

    auto *group = new QHBoxLayout;
    group->setSpacing(kToolbarSpacing);
    m_compactButton = new PaneIconButton(QStringLiteral("arrow.triangle.merge"), {}, header);
    m_compactButton->setObjectName(QStringLiteral("compactButton"));
    connect(m_compactButton, &QAbstractButton::clicked, this,
            [this] { m_state->setCompactSingleChildFolders(!m_state->compactSingleChildFolders()); });
    m_expandButton = new PaneIconButton(QStringLiteral("chevron.down.2"), {}, header);
    m_expandButton->setObjectName(QStringLiteral("expandAllButton"));
    connect(m_expandButton, &QAbstractButton::clicked, this, [this] { m_state->expandAll(); });
    m_collapseButton = new PaneIconButton(QStringLiteral("chevron.up.2"), {}, header);
    m_collapseButton->setObjectName(QStringLiteral("collapseAllButton"));
    connect(m_collapseButton, &QAbstractButton::clicked, this, [this] { m_state->collapseAll(); });
    group->addWidget(m_compactButton);
    group->addWidget(m_expandButton);
    group->addWidget(m_collapseButton);
    row->addLayout(group);

    row->addWidget(new PaneDivider(Qt::Vertical, header));

    auto *second = new QHBoxLayout;
    second->setSpacing(kToolbarSpacing);
    m_appearanceButton = new QToolButton(header);
    m_appearanceButton->setObjectName(QStringLiteral("appearanceButton"));
    m_appearanceButton->setPopupMode(QToolButton::InstantPopup);
    m_appearanceButton->setAutoRaise(true);
    m_appearanceButton->setFixedSize(26, 24);
    m_appearanceButton->setIconSize(QSize(14, 14));
    // No fill of the style's own: its light button colour showed as a white square in the
    // dark scheme until the button was first pressed.
    m_appearanceButton->setStyleSheet(QStringLiteral(
        "QToolButton { background: transparent; border: none; border-radius: 5px; }"
        "QToolButton:hover, QToolButton:pressed { background: rgba(128, 128, 128, 46); }"
        "QToolButton::menu-indicator { image: none; width: 0; }"));
    m_appearanceMenu = new QMenu(m_appearanceButton);
    m_appearanceButton->setMenu(m_appearanceMenu);
    second->addWidget(m_appearanceButton);
    m_inspectorButton = new PaneIconButton(QStringLiteral("sidebar.right"), {}, header);
    m_inspectorButton->setObjectName(QStringLiteral("inspectorButton"));
    connect(m_inspectorButton, &QAbstractButton::clicked, this,
            [this] { m_state->setShowInspector(!m_state->showInspector()); });
    second->addWidget(m_inspectorButton);
    row->addLayout(second);

    column->addWidget(header);
}

void LumenkitePane::buildSearchRow(QVBoxLayout *column)
{
    auto *searchRow = new QWidget(this);
    searchRow->setObjectName(QStringLiteral("searchRow"));
    auto *row = new QHBoxLayout(searchRow);
    row->setContentsMargins(14, 8, 14, 8);
    row->setSpacing(8);
    const PaneColors c = PaneColors::forWidget(this);

    auto *box = new SearchBox(searchRow);
    m_searchBox = box;
    box->setObjectName(QStringLiteral("searchBox"));
    box->setFixedHeight(32);
    auto *inner = new QHBoxLayout(box);
    inner->setContentsMargins(10, 0, 10, 0);
    inner->setSpacing(8);
    m_searchIcon = new PaneGlyph(QStringLiteral("magnifyingglass"), 14, c.tertiaryLabel, box);
    m_searchIcon->setObjectName(QStringLiteral("searchIcon"));
    inner->addWidget(m_searchIcon);
    m_searchField = new QLineEdit(box);
    m_searchField->setObjectName(QStringLiteral("searchField"));
    m_searchField->setFrame(false);
    m_searchField->setFont(PaneStyle::font(13));
    m_searchField->setAttribute(Qt::WA_MacShowFocusRect, false);
    m_searchField->setStyleSheet(QStringLiteral("QLineEdit { background: transparent; border: none; }"));
    m_searchField->installEventFilter(this);
    // Every edit goes through the state's setter; the field adds no key handling of its own.
    connect(m_searchField, &QLineEdit::textEdited, this, [this](const QString &text) { m_state->setSearchQuery(text); });
    inner->addWidget(m_searchField, 1);
    m_searchSpinner = new PaneSpinner(11, box);
    m_searchSpinner->setObjectName(QStringLiteral("searchSpinner"));
    inner->addWidget(m_searchSpinner);
    m_clearButton = new PaneButton(box);
    m_clearButton->setObjectName(QStringLiteral("searchClearButton"));
    m_clearButton->setSegments({glyphSeg(QStringLiteral("xmark.circle.fill"), 13, c.tertiaryLabel)});
    connect(m_clearButton, &QAbstractButton::clicked, this, [this] { m_state->setSearchQuery(QString()); });
    inner->addWidget(m_clearButton);
    m_keycap = new KeycapBadge(QStringLiteral("Ctrl+F"), box);
    m_keycap->setObjectName(QStringLiteral("searchKeycap"));
    inner->addWidget(m_keycap);
    row->addWidget(box, 1);

    m_visualToggle = new PaneButton(searchRow);
    m_visualToggle->setObjectName(QStringLiteral("visualSearchToggle"));
    m_visualToggle->setToolTip(QStringLiteral("Shift+Ctrl+A"));
    m_visualToggle->setPadding(12, 0);
    m_visualToggle->setSpacing(6);
    m_visualToggle->setFixedContentHeight(32);
    connect(m_visualToggle, &QAbstractButton::clicked, this, &LumenkitePane::toggleVisualSearch);
    row->addWidget(m_visualToggle);

    column->addWidget(searchRow);
}

// ---- static content ----

LumenkitePane::StatusStrip LumenkitePane::statusStripKind(const AppState &state)
{
    if (state.isScanning())
        return StatusStrip::scanning;
    if (state.isAISearchMode())
        return StatusStrip::visualSearch;
    // The raw query: spaces alone count as a filter here.
    if (state.activeExtensionFilter() || state.activeSmartFilter() != SmartFilter::all || !state.searchQuery().isEmpty())
        return StatusStrip::filterChips;
    return StatusStrip::none;
}

QString LumenkitePane::countText(AppLanguage language, qsizetype count)
{
    return QStringLiteral("· ") + QString::number(count) + QLatin1Char(' ') + tr_("toolbar.videos", language);
}

QString LumenkitePane::scopeGlyph(const ScanScope &scope)
{
    switch (scope.kind) {
    case ScanScope::Kind::volume: return QStringLiteral("externaldrive");
    case ScanScope::Kind::customFolder: return QStringLiteral("folder");
    case ScanScope::Kind::homeDirectory: return QStringLiteral("folder.badge.person.crop");
    case ScanScope::Kind::entireMacDeep: return QStringLiteral("internaldrive");
    }
    return QStringLiteral("folder");
}

QString LumenkitePane::sortShortKey(VideoSortOrder order)
{
    switch (order) {
    case VideoSortOrder::nameAsc: return QStringLiteral("sort.short.name");
    case VideoSortOrder::sizeDesc: return QStringLiteral("sort.short.size");
    case VideoSortOrder::dateDesc: return QStringLiteral("sort.short.date");
    case VideoSortOrder::extensionAsc: return QStringLiteral("sort.short.format");
    }
    return {};
}

QString LumenkitePane::sortItemKey(VideoSortOrder order)
{
    switch (order) {
    case VideoSortOrder::nameAsc: return QStringLiteral("sort.name");
    case VideoSortOrder::sizeDesc: return QStringLiteral("sort.size");
    case VideoSortOrder::dateDesc: return QStringLiteral("sort.date");
    case VideoSortOrder::extensionAsc: return QStringLiteral("sort.format");
    }
    return {};
}

QString LumenkitePane::appearanceGlyph(int appearance)
{
    switch (AppAppearance(appearance)) {
    case AppAppearance::dark: return QStringLiteral("moon");
    case AppAppearance::light: return QStringLiteral("sun.max");
    case AppAppearance::system: break;
    }
    return QStringLiteral("circle.lefthalf.filled");
}

QString LumenkitePane::permissionBannerText(AppLanguage language, const QStringList &deniedFolders)
{
    // Entries are paths (bare names in records of older versions); the banner names the folders.
    QStringList names;
    for (const QString &entry : deniedFolders.mid(0, 5))
        names.append(entry.section(QLatin1Char('/'), -1, -1));
    return tr_("perm.banner", language) + QLatin1Char(' ') + names.join(QStringLiteral(", "));
}

QString LumenkitePane::scanningSummaryText(AppLanguage language, qsizetype count, qint64 bytes)
{
    return QString::number(count) + QLatin1Char(' ') + tr_("toolbar.videos", language) + QStringLiteral(" · ") +
           formatByteCount(bytes);
}

QString LumenkitePane::resultsText(AppLanguage language, qsizetype count, qint64 bytes)
{
    return QString::number(count) + QLatin1Char(' ') + tr_("toolbar.results", language) + QStringLiteral(" · ") +
           formatByteCount(bytes);
}

QList<LumenkitePane::FilterChip> LumenkitePane::filterChips(const AppState &state)
{
    QList<FilterChip> chips;
    if (state.activeSmartFilter() != SmartFilter::all)
        chips.append({FilterChip::Kind::smartFilter, SmartFilterInfo::title(state.activeSmartFilter(), state.language())});
    if (const auto &ext = state.activeExtensionFilter())
        chips.append({FilterChip::Kind::extension, QLatin1Char('.') + ext->toLower()});
    if (!state.searchQuery().isEmpty())
        chips.append({FilterChip::Kind::query, QLatin1Char('"') + state.searchQuery() + QLatin1Char('"')});
    return chips;
}

LumenkitePane::EmptyState LumenkitePane::emptyStateContent(const AppState &state)
{
    EmptyState e;
    const bool scanning = state.isScanning();
    const bool hasVideos = !state.allVideos().isEmpty();
    if (state.isLoadingLibrary() && !hasVideos && !scanning) {
        // The library found last time is still being read: nothing is known to be missing.
        e.glyph = QStringLiteral("film");
        e.titleKey = QStringLiteral("toolbar.loadingLibrary");
        e.subtitleKey = QStringLiteral("toolbar.loadingLibrarySub");
        return e;
    }
    e.glyph = state.isAISearchMode() ? QStringLiteral("sparkle.magnifyingglass")
              : scanning             ? QStringLiteral("magnifyingglass")
                                     : QStringLiteral("film");
    e.titleKey = scanning ? QStringLiteral("toolbar.scanning")
                 : hasVideos ? QStringLiteral("toolbar.noMatches")
                             : QStringLiteral("toolbar.noVideos");
    e.subtitleKey = scanning ? QStringLiteral("toolbar.scanningEmptySub")
                    : hasVideos ? QStringLiteral("toolbar.noFilterMatchSub")
                                : QStringLiteral("toolbar.noVideosSub");
    if (scanning)
        return e;
    if (state.isAISearchMode() && state.indexedVideoCount() < state.allVideos().size() && !state.isAIIndexing())
        e.actionKeys = {QStringLiteral("ai.indexNow")};
    else if (hasVideos)
        e.actionKeys = {QStringLiteral("toolbar.clearFilters")};
    else
        e.actionKeys = {QStringLiteral("perm.grant"), QStringLiteral("toolbar.rescan")};
    return e;
}

LumenkitePane::VisualSearchBanner LumenkitePane::visualSearchBannerContent(const AppState &state)
{
    const AppLanguage lang = state.language();
    VisualSearchBanner b;
    b.engineLabel = visualSearchEngineName(state.aiEngineStatus());
    if (state.isDownloadingAIModel()) {
        b.spinner = true;
        b.statusText = state.aiModelDownloadStage() + QStringLiteral(" (") +
                       QString::number(qint64(std::llround(state.aiModelDownloadProgress() * 100))) + QStringLiteral("%)");
    } else if (!state.isMobileCLIPInstalled()) {
        b.statusText = tr_("ai.bannerNeedModel", lang);
        b.actionKey = QStringLiteral("ai.downloadShort");
    } else if (state.isAIIndexing()) {
        b.spinner = true;
        b.statusText = tr_("ai.indexing", lang) + QLatin1Char(' ') + QString::number(state.aiIndexedCount()) +
                       QStringLiteral(" / ") + QString::number(state.aiTotalToIndex());
        if (state.aiVideosPerSecond() > 0.1) {
            char buf[64];
            std::snprintf(buf, sizeof buf, "%.1f", state.aiVideosPerSecond());
            // "%.1f" with the C locale's decimal point, whatever the interface language.
            b.detailTexts.append(QStringLiteral("· ") + QString::fromLatin1(buf) + QStringLiteral("/s"));
        }
        if (const auto &eta = state.aiETAText())
            b.detailTexts.append(QStringLiteral("· ") + *eta);
    } else if (state.indexedVideoCount() < state.allVideos().size()) {
        b.statusText = QStringLiteral("· ") + QString::number(state.indexedVideoCount()) + QStringLiteral(" / ") +
                       QString::number(state.allVideos().size()) + QLatin1Char(' ') + tr_("ai.indexed", lang);
        b.actionKey = QStringLiteral("ai.indexNow");
    } else {
        b.statusText = QStringLiteral("· ") + QString::number(state.indexedVideoCount()) + QLatin1Char(' ') +
                       tr_("ai.bannerReady", lang);
    }
    if (state.isDownloadingAIModel())
        b.trailingButtonKey = QStringLiteral("toolbar.cancel");
    else if (state.isAIIndexing())
        b.trailingButtonKey = QStringLiteral("toolbar.stop");
    else if (!state.searchQuery().isEmpty())
        b.trailingText = QString::number(state.shownVideoCount()) + QLatin1Char(' ') + tr_("toolbar.matches", lang);
    return b;
}

const QStringList &LumenkitePane::exampleQueries(AppLanguage language)
{
    static const QStringList en{"beach sunset", "kids playing", "car driving", "nature", "food", "screen"};
    static const QStringList ja{"海の夕日", "遊ぶ子供", "車", "自然", "料理", "画面"};
    static const QStringList de{"Strand Sonnenuntergang", "spielende Kinder", "Auto", "Natur", "Essen", "Bildschirm"};
    switch (language) {
    case AppLanguage::ja: return ja;
    case AppLanguage::de: return de;
    case AppLanguage::en: break;
    }
    return en;
}

bool LumenkitePane::showsExampleRow() const
{
    return statusStripKind(*m_state) == StatusStrip::visualSearch && m_state->searchQuery().isEmpty();
}

bool LumenkitePane::showsTranslationPrompt() const
{
    return showsExampleRow() && m_state->language() != AppLanguage::en && !m_isTranslationInstalled;
}

// ---- actions ----

void LumenkitePane::clearSmartFilter()
{
    m_state->setActiveSmartFilter(SmartFilter::all);
    m_state->refreshTree();
}

void LumenkitePane::clearExtensionFilter()
{
    m_state->setActiveExtensionFilter(std::nullopt);
    m_state->refreshTree();
}

// The query's reaction (a rebuild or a new visual search) belongs to a real change only, so an
// empty query is left alone rather than written again.
static void clearQuery(AppState &state)
{
    if (!state.searchQuery().isEmpty())
        state.setSearchQuery(QString());
}

void LumenkitePane::clearSearch() { clearQuery(*m_state); }

void LumenkitePane::clearAllFilters()
{
    clearQuery(*m_state);
    m_state->setActiveSmartFilter(SmartFilter::all);
    m_state->setActiveExtensionFilter(std::nullopt);
    m_state->refreshTree();
}

void LumenkitePane::openFullDiskAccessSettings() { DesktopActions::openFolderPermissions(m_state); }

void LumenkitePane::runExampleQuery(const QString &example) { m_state->setSearchQuery(example); }

void LumenkitePane::requestTranslationPack()
{
    ++m_translationPromptTrigger;
    // No translation service to prepare here; the pack state stays as reported.
}

void LumenkitePane::runStateAction2(const std::function<void(AppState &)> &action) { action(*m_state); }

void LumenkitePane::rescan()
{
    m_state->setExternalVolumes(VideoScanner::mountedVolumes());
    m_state->startScan();
}

void LumenkitePane::toggleVisualSearch()
{
    m_state->setIsAISearchMode(!m_state->isAISearchMode());
    focusSearchField();
}

void LumenkitePane::setTranslationInstalled(bool installed)
{
    if (m_isTranslationInstalled == installed)
        return;
    m_isTranslationInstalled = installed;
    refreshStatusStrip();
}

void LumenkitePane::setMediaService(MediaMetadataService *service) { m_list->setMediaService(service); }

bool LumenkitePane::isSearchFocused() const { return m_searchField->hasFocus(); }

void LumenkitePane::setSearchFocused(bool focused)
{
    if (focused)
        focusSearchField();
    else if (m_searchField->hasFocus())
        m_searchField->clearFocus();
}

void LumenkitePane::focusSearchField()
{
    if (QWidget *w = window())
        w->activateWindow();
    m_searchField->setFocus(Qt::ShortcutFocusReason);
}

QWidget *LumenkitePane::permissionBanner() const { return m_banner; }

bool LumenkitePane::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_header && event->type() == QEvent::Resize)
        fitHeader();
    if (watched == m_searchField && (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)) {
        const bool focused = event->type() == QEvent::FocusIn;
        static_cast<SearchBox *>(m_searchBox)->setLook(m_state->isAISearchMode(), focused);
        emit searchFocusChanged(focused);
    }
    return QWidget::eventFilter(watched, event);
}

void LumenkitePane::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    // A new scheme recolours every label and chip.
    if (event->type() == QEvent::PaletteChange) {
        m_scanSummary = nullptr; // the scanning strip is made anew in the new colours
        refreshAll();
    }
}

void LumenkitePane::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), PaneColors::forWidget(this).windowBackground);
}

// ---- refreshing ----

void LumenkitePane::libraryChanged()
{
    if (!m_state->isScanning()) {
        refreshAll();
        return;
    }
    if (!m_progressTimer->isActive())
        m_progressTimer->start();
}

void LumenkitePane::refreshProgress()
{
    if (!m_state->isScanning() || !m_scanSummary) {
        refreshAll();
        return;
    }
    // The strip stays in place (a new one each time would never get to be shown).
    const AppLanguage lang = m_state->language();
    m_countLabel->setText(countText(lang, m_state->shownVideoCount()));
    fitHeader();
    m_scanSummary->setText(scanningSummaryText(lang, m_state->allVideos().size(), m_state->totalVideoBytes()));
    if (m_scanPath) {
        const QString path = m_state->scanStatusPath().value_or(QString());
        m_scanPath->setText(QFontMetrics(m_scanPath->font()).elidedText(
            TreeRowPainting::shortenedForEliding(path, Qt::ElideLeft, std::max(120, width() / 2)), Qt::ElideLeft,
            std::max(120, width() / 2)));
        m_scanPath->setToolTip(path);
    }
    refreshContent();
}

void LumenkitePane::refreshAll()
{
    m_progressTimer->stop();
    refreshHeader();
    refreshSearchRow();
    refreshBanner();
    refreshStatusStrip();
    refreshContent();
}

void LumenkitePane::refreshHeader()
{
    const AppLanguage lang = m_state->language();
    const PaneColors c = PaneColors::forWidget(this);
    m_scopeIcon->setGlyph(scopeGlyph(m_state->activeScope()), c.accent);
    // Coloured anew: a scheme chosen after the pane was made would leave them in the old one.
    setTextColor(m_scopeTitle, c.label);
    setTextColor(m_countLabel, c.tertiaryLabel);
    m_scopeTitle->setText(m_state->activeScope().title(lang));
    // No count while the library is still being read: "0 videos" would be wrong.
    m_countLabel->setText(m_state->isLoadingLibrary() && m_state->allVideos().isEmpty()
                              ? QString()
                              : countText(lang, m_state->shownVideoCount()));

    m_rescanButton->setVisible(!m_state->isScanning());
    m_rescanButton->setShape(c.controlBackground, c.outline(), 0.75, 6);
    m_rescanButton->setToolTip(tr_("sidebar.rescanTooltip", lang));

    m_sortButton->setText(L10n::text(sortShortKey(m_state->sortOrder()), lang));
    m_sortButton->setIcon(PaneStyle::glyphIcon(QStringLiteral("arrow.up.arrow.down"), c.secondaryLabel, 12));
    m_sortButton->setFont(PaneStyle::font(11.5, QFont::Medium));

    const bool compact = m_state->compactSingleChildFolders();
    m_compactButton->setActive(compact);
    m_compactButton->setToolTip(tr_(compact ? "toolbar.compactOn" : "toolbar.compactOff", lang));
    m_expandButton->setToolTip(tr_("toolbar.expandAll", lang));
    m_collapseButton->setToolTip(tr_("toolbar.collapseAll", lang));

    m_appearanceButton->setIcon(PaneStyle::glyphIcon(appearanceGlyph(int(m_state->appearance())), c.secondaryLabel, 14));
    m_appearanceButton->setToolTip(tr_("toolbar.theme", lang));
    m_inspectorButton->setActive(m_state->showInspector());
    m_inspectorButton->setToolTip(tr_("toolbar.inspector", lang));
    rebuildMenus();
    fitHeader();
}

void LumenkitePane::fitHeader()
{
    if (!m_header || m_fittingHeader)
        return;
    m_fittingHeader = true;
    const AppLanguage lang = m_state->language();
    const PaneColors c = PaneColors::forWidget(this);

    // The rescan label from whole to its symbol alone (the tooltip still names it).
    const PaneButton::Segment symbol = glyphSeg(QStringLiteral("arrow.clockwise"), 11.5, c.secondaryLabel);
    QList<PaneButton::Segment> whole{symbol, textSeg(tr_("toolbar.rescan", lang), PaneStyle::font(11.5, QFont::Medium),
                                                     c.secondaryLabel)};
    QList<QList<PaneButton::Segment>> rescanForms;
    if (const auto last = m_state->lastScanText())
        rescanForms.append(whole + QList<PaneButton::Segment>{textSeg(QLatin1Char('(') + *last + QLatin1Char(')'),
                                                                      PaneStyle::font(10.5), c.tertiaryLabel)});
    rescanForms.append(whole);
    rescanForms.append({symbol});
    const auto rescanWidth = [this](const QList<PaneButton::Segment> &form) {
        return PaneButton::naturalWidth(form, m_rescanButton->spacing(), m_rescanButton->horizontalPadding());
    };

    // What keeps its width: margins, the gaps between the row's items, the spacer, the sort
    // menu and both toolbar groups with the divider between them.
    auto *row = static_cast<QBoxLayout *>(m_header->layout());
    const QMargins margins = row->contentsMargins();
    const int gap = row->spacing();
    const bool rescanShown = !m_state->isScanning();
    const int items = rescanShown ? 6 : 5; // title, [rescan], sort, toolbar, divider, second group
    const auto widthOf = [](const QWidget *w) {
        return w->sizeHint().expandedTo(w->minimumSize()).boundedTo(w->maximumSize()).width();
    };
    const int fixed = margins.left() + margins.right() + (items - 1) * gap + kHeaderMinSpacer + widthOf(m_sortButton)
                      + widthOf(m_compactButton) + widthOf(m_expandButton) + widthOf(m_collapseButton)
                      + 2 * kToolbarSpacing + 1 + widthOf(m_appearanceButton) + kToolbarSpacing
                      + widthOf(m_inspectorButton);
    // The header spans the pane; the pane's width holds also before the header is laid out.
    const int room = width() - fixed;

    const int titleGap = kTitleSpacing;
    const int titleFull = m_scopeTitle->sizeHint().width();
    const int countFull = m_countLabel->sizeHint().width();
    const int blockFull = m_scopeIcon->sizeHint().width() + titleGap + titleFull + titleGap + countFull;
    QList<PaneButton::Segment> rescan = rescanForms.constLast();
    if (rescanShown) {
        for (const auto &form : rescanForms)
            if (blockFull + rescanWidth(form) <= room) {
                rescan = form;
                break;
            }
    }
    m_rescanButton->setSegments(rescan);

    // The scope title shortens first (down to a few letters), then the count; a count with
    // no room even for "…" is left out.
    const int labels = room - (rescanShown ? rescanWidth(rescan) : 0) - m_scopeIcon->sizeHint().width() - titleGap;
    int titleWidth = titleFull;
    int countWidth = countFull;
    bool countShown = true;
    if (titleFull + titleGap + countFull > labels) {
        const int titleFloor = std::min(titleFull, m_scopeTitle->fontMetrics().horizontalAdvance(QStringLiteral("Wwwww…")));
        titleWidth = std::max(titleFloor, labels - titleGap - countFull);
        countWidth = labels - titleGap - titleWidth;
        if (countWidth < m_countLabel->minimumSizeHint().width() + m_countLabel->fontMetrics().horizontalAdvance(QStringLiteral("· 0"))) {
            countShown = false;
            titleWidth = labels;
        }
    }
    m_scopeTitle->setMaximumWidth(std::max(0, titleWidth));
    m_countLabel->setMaximumWidth(std::max(0, countWidth));
    m_countLabel->setVisible(countShown);
    m_fittingHeader = false;
}

void LumenkitePane::rebuildMenus()
{
    const AppLanguage lang = m_state->language();
    const QIcon check = PaneStyle::glyphIcon(QStringLiteral("checkmark"), palette().color(QPalette::WindowText), 14);
    m_sortMenu->clear();
    for (VideoSortOrder order : VideoSortOrderInfo::allCases()) {
        QAction *a = m_sortMenu->addAction(L10n::text(sortItemKey(order), lang));
        a->setObjectName(VideoSortOrderInfo::rawValue(order));
        a->setCheckable(true);
        a->setChecked(order == m_state->sortOrder());
        connect(a, &QAction::triggered, this, [this, order] { m_state->setSortOrder(order); });
    }
    m_appearanceMenu->clear();
    for (AppAppearance appearance : AppAppearanceInfo::allCases()) {
        QAction *a = m_appearanceMenu->addAction(L10n::text(AppAppearanceInfo::titleKey(appearance), lang));
        a->setObjectName(AppAppearanceInfo::rawValue(appearance));
        a->setCheckable(true);
        a->setChecked(appearance == m_state->appearance());
        connect(a, &QAction::triggered, this, [this, appearance] { m_state->setAppearance(appearance); });
    }
    Q_UNUSED(check);
}

void LumenkitePane::refreshSearchRow()
{
    const AppLanguage lang = m_state->language();
    const PaneColors c = PaneColors::forWidget(this);
    const bool visual = m_state->isAISearchMode();
    m_searchIcon->setGlyph(visual ? QStringLiteral("sparkle.magnifyingglass") : QStringLiteral("magnifyingglass"),
                           visual ? c.accent : c.tertiaryLabel);
    m_searchField->setPlaceholderText(tr_(visual ? "toolbar.aiPlaceholder" : "toolbar.searchPlaceholder", lang));
    if (m_searchField->text() != m_state->searchQuery())
        m_searchField->setText(m_state->searchQuery());
    static_cast<SearchBox *>(m_searchBox)->setLook(visual, m_searchField->hasFocus());

    const bool running = m_state->isAISearchRunning();
    const bool hasQuery = !m_state->searchQuery().isEmpty();
    m_searchSpinner->setVisible(running);
    m_clearButton->setVisible(!running && hasQuery);
    m_keycap->setVisible(!running && !hasQuery);

    const QColor fg = visual ? QColor(Qt::white) : c.label;
    m_visualToggle->setSegments({glyphSeg(QStringLiteral("sparkle.magnifyingglass"), 13, fg),
                                 textSeg(tr_(visual ? "toolbar.visualSearchOn" : "toolbar.visualSearch", lang),
                                         PaneStyle::font(12, visual ? QFont::DemiBold : QFont::Medium), fg)});
    if (visual)
        m_visualToggle->setShape(c.accent, Qt::transparent, 0, 8);
    else
        m_visualToggle->setShape(c.controlBackground, c.separator, 0.75, 8);
}

void LumenkitePane::refreshBanner()
{
    const AppLanguage lang = m_state->language();
    const PaneColors c = PaneColors::forWidget(this);
    const bool show = !m_state->deniedFolders().isEmpty();
    m_banner->setVisible(show);
    m_bannerDivider->setVisible(show);
    if (!show)
        return;
    m_banner->setFill(PaneColors::alpha(c.orange, 0.08));
    setTextColor(m_bannerText, c.label);
    m_bannerText->setText(permissionBannerText(lang, m_state->deniedFolders()));
    m_bannerGrant->setSegments({textSeg(tr_("perm.grant", lang), PaneStyle::font(10.5, QFont::Medium), c.label)});
    // The fill follows the scheme too, or dark mode shows light text on a light box.
    m_bannerGrant->setShape(c.controlBackground, c.outline(), 0.75, 4);
    m_bannerRescan->setSegments({textSeg(tr_("toolbar.rescan", lang), PaneStyle::font(11, QFont::DemiBold), c.accent)});
}

void LumenkitePane::replace(QWidget *&slot, QWidget *replacement, QVBoxLayout *into, int position)
{
    if (slot) {
        // Deferred: the old content may be the sender of the click that led here.
        slot->hide();
        slot->setParent(nullptr);
        slot->deleteLater();
    }
    slot = replacement;
    if (replacement) {
        into->insertWidget(position, replacement);
        // Shown now: a layout shows a new child of a visible pane only on a later turn of
        // the event loop, which a busy start of a scan may hold off.
        replacement->show();
    }
}

void LumenkitePane::refreshStatusStrip()
{
    // A scanning strip in the language shown stays; only its progress changes.
    if (statusStripKind(*m_state) == StatusStrip::scanning && m_scanSummary &&
        m_stripContent->property("language").toInt() == int(m_state->language())) {
        refreshProgress();
        return;
    }
    QWidget *content = nullptr;
    switch (statusStripKind(*m_state)) {
    case StatusStrip::scanning: content = makeScanningStatus(); break;
    case StatusStrip::visualSearch: content = makeVisualSearchSection(); break;
    case StatusStrip::filterChips: content = makeFilterChips(); break;
    case StatusStrip::none: break;
    }
    const int position = m_column->indexOf(m_stripDivider);
    m_scanPath = m_scanSummary = nullptr;
    replace(m_stripContent, content, m_column, position);
    if (content && content->objectName() == QLatin1String("scanningStatus")) {
        m_scanPath = content->findChild<QLabel *>(QStringLiteral("scanPath"));
        m_scanSummary = content->findChild<QLabel *>(QStringLiteral("scanSummary"));
    }
    m_stripDivider->setVisible(content != nullptr);
}

void LumenkitePane::refreshContent()
{
    if (!m_state->flattenedRows().isEmpty()) {
        m_content->setCurrentWidget(m_list);
        replace(m_emptyContent, nullptr, m_emptyHost, 0);
        return;
    }
    replace(m_emptyContent, makeEmptyState(), m_emptyHost, 0);
    m_content->setCurrentIndex(1);
}

QWidget *LumenkitePane::makeScanningStatus()
{
    const AppLanguage lang = m_state->language();
    const PaneColors c = PaneColors::forWidget(this);
    auto *strip = new PaneStrip(PaneColors::alpha(c.controlBackground, 0.6), this);
    strip->setObjectName(QStringLiteral("scanningStatus"));
    strip->setProperty("language", int(lang));
    auto *row = new QHBoxLayout(strip);
    row->setContentsMargins(14, 6, 14, 6);
    row->setSpacing(10);
    row->addWidget(new PaneSpinner(13, strip));
    row->addWidget(makeLabel(tr_("toolbar.scanning", lang), PaneStyle::font(11.5, QFont::DemiBold), c.accent, strip));
    {
        // Present even while no path is known, so progress can fill it in.
        const QString path = m_state->scanStatusPath().value_or(QString());
        auto *label = makeLabel(path, PaneStyle::font(11, QFont::Normal, true), c.tertiaryLabel, strip);
        label->setObjectName(QStringLiteral("scanPath"));
        label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        // Cut at the head: the end of a path says most.
        label->setText(QFontMetrics(label->font()).elidedText(
            TreeRowPainting::shortenedForEliding(path, Qt::ElideLeft, std::max(120, width() / 2)), Qt::ElideLeft,
            std::max(120, width() / 2)));
        label->setToolTip(path);
        row->addWidget(label, 1);
    }
    auto *summary = makeLabel(scanningSummaryText(lang, m_state->allVideos().size(), m_state->totalVideoBytes()),
                              PaneStyle::font(11, QFont::Medium), c.secondaryLabel, strip);
    summary->setObjectName(QStringLiteral("scanSummary"));
    row->addWidget(summary);
    auto *stop = makeTextButton(tr_("toolbar.stop", lang), PaneStyle::font(11, QFont::DemiBold), c.red, strip);
    stop->setObjectName(QStringLiteral("scanStop"));
    connect(stop, &QAbstractButton::clicked, this, [this] { m_state->stopScan(); });
    row->addWidget(stop);
    return strip;
}

QWidget *LumenkitePane::makeVisualSearchSection()
{
    const AppLanguage lang = m_state->language();
    const PaneColors c = PaneColors::forWidget(this);
    auto *section = new PaneStrip(PaneColors::alpha(c.controlBackground, 0.6), this);
    section->setObjectName(QStringLiteral("visualSearchSection"));
    auto *stack = new QVBoxLayout(section);
    stack->setContentsMargins(14, 7, 14, 7);
    stack->setSpacing(6);

    const VisualSearchBanner b = visualSearchBannerContent(*m_state);
    auto *banner = new QHBoxLayout;
    banner->setSpacing(8);
    banner->addWidget(new PaneGlyph(QStringLiteral("cpu"), 12, c.accent, section));
    auto *engine = makeLabel(b.engineLabel, PaneStyle::font(11.5, QFont::DemiBold), c.label, section);
    engine->setObjectName(QStringLiteral("engineLabel"));
    banner->addWidget(engine);
    if (b.spinner)
        banner->addWidget(new PaneSpinner(11, section));
    const bool accentStatus = m_state->isDownloadingAIModel() || (m_state->isMobileCLIPInstalled() && m_state->isAIIndexing());
    auto *status = makeLabel(b.statusText, PaneStyle::font(11, accentStatus ? QFont::Medium : QFont::Normal),
                             accentStatus ? c.accent : c.secondaryLabel, section);
    status->setObjectName(QStringLiteral("bannerStatus"));
    status->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    status->setMinimumWidth(QFontMetrics(status->font()).horizontalAdvance(b.statusText) > 0 ? 40 : 0);
    banner->addWidget(status, 0);
    status->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    for (const QString &detail : b.detailTexts) {
        auto *d = makeLabel(detail, PaneStyle::font(11), c.secondaryLabel, section);
        d->setObjectName(QStringLiteral("bannerDetail"));
        banner->addWidget(d);
    }
    if (!b.actionKey.isEmpty()) {
        auto *action = makePushButton(L10n::text(b.actionKey, lang), true, true, c, section);
        action->setObjectName(QStringLiteral("bannerAction"));
        const QString key = b.actionKey;
        connect(action, &QAbstractButton::clicked, this, [this, key] {
            if (key == QLatin1String("ai.downloadShort"))
                m_state->downloadAIModel();
            else
                m_state->startAIIndexingIfNeeded();
        });
        banner->addWidget(action);
    }
    banner->addStretch(1);
    if (!b.trailingButtonKey.isEmpty()) {
        auto *trailing = makeTextButton(L10n::text(b.trailingButtonKey, lang), PaneStyle::font(11, QFont::DemiBold), c.red, section);
        trailing->setObjectName(QStringLiteral("bannerTrailingButton"));
        const bool cancel = b.trailingButtonKey == QLatin1String("toolbar.cancel");
        connect(trailing, &QAbstractButton::clicked, this, [this, cancel] {
            if (cancel)
                m_state->cancelAIModelDownload();
            else
                m_state->stopAIIndexing();
        });
        banner->addWidget(trailing);
    } else if (!b.trailingText.isEmpty()) {
        auto *matches = makeLabel(b.trailingText, PaneStyle::font(11, QFont::DemiBold), c.accent, section);
        matches->setObjectName(QStringLiteral("bannerMatches"));
        banner->addWidget(matches);
    }
    stack->addLayout(banner);

    if (m_state->searchQuery().isEmpty()) {
        auto *scroll = new QScrollArea(section);
        scroll->setObjectName(QStringLiteral("exampleRow"));
        scroll->setFrameShape(QFrame::NoFrame);
        scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        scroll->setWidgetResizable(true);
        scroll->viewport()->setAutoFillBackground(false);
        auto *examples = new QWidget;
        examples->setAutoFillBackground(false);
        auto *row = new QHBoxLayout(examples);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(6);
        if (showsTranslationPrompt()) {
            auto *prompt = new PaneButton(examples);
            prompt->setObjectName(QStringLiteral("translationPrompt"));
            prompt->setSegments({glyphSeg(QStringLiteral("translate"), 11, c.accent),
                                 textSeg(tr_("ai.translationPack", lang), PaneStyle::font(10.5, QFont::Medium), c.accent)});
            prompt->setSpacing(4);
            prompt->setPadding(8, 2.5);
            prompt->setShape(c.accentFill(), Qt::transparent, 0, -1);
            connect(prompt, &QAbstractButton::clicked, this, &LumenkitePane::requestTranslationPack);
            row->addWidget(prompt);
        }
        row->addWidget(makeLabel(tr_("toolbar.examples", lang), PaneStyle::font(10.5, QFont::Medium), c.tertiaryLabel, examples));
        for (const QString &example : exampleQueries(lang)) {
            auto *chip = new PaneButton(examples);
            chip->setObjectName(QStringLiteral("exampleChip"));
            chip->setSegments({textSeg(example, PaneStyle::font(10.5, QFont::Medium), c.secondaryLabel)});
            chip->setPadding(8, 2.5);
            chip->setShape(c.controlBackground, c.outline(), 0.6, -1);
            connect(chip, &QAbstractButton::clicked, this, [this, example] { runExampleQuery(example); });
            row->addWidget(chip);
        }
        row->addStretch(1);
        scroll->setWidget(examples);
        scroll->setFixedHeight(examples->sizeHint().height());
        stack->addWidget(scroll);
    }
    return section;
}

QWidget *LumenkitePane::makeFilterChips()
{
    const AppLanguage lang = m_state->language();
    const PaneColors c = PaneColors::forWidget(this);
    auto *strip = new PaneStrip(PaneColors::alpha(c.controlBackground, 0.6), this);
    strip->setObjectName(QStringLiteral("filterChips"));
    auto *row = new QHBoxLayout(strip);
    row->setContentsMargins(14, 6, 14, 6);
    row->setSpacing(8);
    row->addWidget(new PaneGlyph(QStringLiteral("line.3.horizontal.decrease"), 12, c.tertiaryLabel, strip));
    for (const FilterChip &chip : filterChips(*m_state)) {
        auto *capsule = new PaneStrip(Qt::transparent, strip);
        auto *chipRow = new QHBoxLayout(capsule);
        chipRow->setContentsMargins(0, 0, 0, 0);
        auto *button = new PaneButton(capsule);
        button->setObjectName(QStringLiteral("filterChip"));
        button->setSegments({textSeg(chip.title, PaneStyle::font(11, QFont::Medium), c.label),
                             glyphSeg(QStringLiteral("xmark"), 9, c.tertiaryLabel)});
        button->setProperty("chipTitle", chip.title);
        button->setPadding(8, 3);
        button->setShape(c.accentFill(), Qt::transparent, 0, -1);
        // The whole capsule removes its filter: the cross is its only control.
        switch (chip.kind) {
        case FilterChip::Kind::smartFilter: connect(button, &QAbstractButton::clicked, this, &LumenkitePane::clearSmartFilter); break;
        case FilterChip::Kind::extension: connect(button, &QAbstractButton::clicked, this, &LumenkitePane::clearExtensionFilter); break;
        case FilterChip::Kind::query: connect(button, &QAbstractButton::clicked, this, &LumenkitePane::clearSearch); break;
        }
        chipRow->addWidget(button);
        row->addWidget(capsule);
    }
    auto *results = makeLabel(resultsText(lang, m_state->shownVideoCount(), m_state->shownVideoBytes()), PaneStyle::font(11, QFont::Medium), c.tertiaryLabel, strip);
    results->setObjectName(QStringLiteral("chipResults"));
    row->addWidget(results);
    row->addStretch(1);
    return strip;
}

QWidget *LumenkitePane::makeEmptyState()
{
    const AppLanguage lang = m_state->language();
    const PaneColors c = PaneColors::forWidget(this);
    const EmptyState e = emptyStateContent(*m_state);
    auto *box = new QWidget;
    box->setObjectName(QStringLiteral("emptyState"));
    auto *stack = new QVBoxLayout(box);
    stack->setSpacing(12);
    stack->addStretch(1);
    auto *icon = new EmptyStateIcon(e.glyph, box);
    icon->setObjectName(QStringLiteral("emptyIcon"));
    icon->setProperty("glyph", e.glyph);
    stack->addWidget(icon, 0, Qt::AlignHCenter);
    auto *title = makeLabel(L10n::text(e.titleKey, lang), PaneStyle::font(14, QFont::DemiBold), c.label, box);
    title->setObjectName(QStringLiteral("emptyTitle"));
    title->setAlignment(Qt::AlignCenter);
    stack->addWidget(title, 0, Qt::AlignHCenter);
    auto *subtitle = makeLabel(L10n::text(e.subtitleKey, lang), PaneStyle::font(12), c.secondaryLabel, box);
    subtitle->setObjectName(QStringLiteral("emptySubtitle"));
    subtitle->setAlignment(Qt::AlignCenter);
    subtitle->setWordWrap(true);
    // A wrapped label asks for little width; give it the whole column of text.
    subtitle->setFixedWidth(340);
    // Centred in the column, the label would get its one-line hint's height and cut the
    // wrapped text at top and bottom.
    subtitle->setMinimumHeight(subtitle->heightForWidth(340));
    stack->addWidget(subtitle, 0, Qt::AlignHCenter);
    if (!e.actionKeys.isEmpty()) {
        auto *actions = new QHBoxLayout;
        actions->setSpacing(8);
        actions->setContentsMargins(0, 4, 0, 0);
        actions->addStretch(1);
        for (int i = 0; i < e.actionKeys.size(); ++i) {
            const QString key = e.actionKeys.at(i);
            auto *button = makePushButton(L10n::text(key, lang), i == 0, false, c, box);
            button->setObjectName(QStringLiteral("emptyAction:") + key);
            connect(button, &QAbstractButton::clicked, this, [this, key] {
                if (key == QLatin1String("ai.indexNow"))
                    m_state->startAIIndexingIfNeeded();
                else if (key == QLatin1String("toolbar.clearFilters"))
                    clearAllFilters();
                else if (key == QLatin1String("perm.grant"))
                    openFullDiskAccessSettings();
                else
                    runStateAction2([](AppState &s) { s.startScan(); });
            });
            actions->addWidget(button);
        }
        actions->addStretch(1);
        stack->addLayout(actions);
    }
    stack->addStretch(1);
    return box;
}
