#pragma once

#include "library/L10n.h"
#include "library/Models.h"

#include <QTimer>
#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <optional>

class AppState;
class ElidedLabel;
class KeycapBadge;
class LinearIconButton;
class MediaMetadataService;
class PaneButton;
class PaneGlyph;
class PaneSpinner;
class PaneStrip;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QMenu;
class QStackedWidget;
class QToolButton;
class QVBoxLayout;
class TreeListView;

// The centre column of the main window: the header with the scope, counts, rescan, sort and
// toolbar; the search row with the visual-search toggle; the permission banner; one status
// strip (scanning, visual search or the active filters); and the folder tree, or an empty
// state when the tree has no rows. Everything it shows is read from the state, and every
// control acts on it.
class LumenkitePane : public QWidget {
    Q_OBJECT
public:
    explicit LumenkitePane(AppState *state, QWidget *parent = nullptr);
    ~LumenkitePane() override;

    AppState *state() const { return m_state; }
    TreeListView *treeList() const { return m_list; }
    QLineEdit *searchField() const { return m_searchField; }
    // Hands the list its thumbnail and facts source (null: none).
    void setMediaService(MediaMetadataService *service);

    // The focus of the search field, as the window tracks it.
    bool isSearchFocused() const;
    void setSearchFocused(bool focused);

    // Whether the system translation pack of the interface language is installed; the
    // installer writes it. There is no translation service here, so it stays true.
    bool isTranslationInstalled() const { return m_isTranslationInstalled; }
    void setTranslationInstalled(bool installed);
    int translationPromptTrigger() const { return m_translationPromptTrigger; }

    // ---- what the sections show ----
    enum class StatusStrip { none, scanning, visualSearch, filterChips };
    static StatusStrip statusStripKind(const AppState &state);
    // "· 12 videos"
    static QString countText(AppLanguage language, qsizetype count);
    static QString scopeGlyph(const ScanScope &scope);
    static QString sortShortKey(VideoSortOrder order);
    static QString sortItemKey(VideoSortOrder order);
    static QString appearanceGlyph(int appearance);
    // The banner text with at most five folders.
    static QString permissionBannerText(AppLanguage language, const QStringList &deniedFolders);
    // "340 videos · 1.2 GB" while scanning, "12 results · 40 MB" under the chips.
    static QString scanningSummaryText(AppLanguage language, qsizetype count, qint64 bytes);
    static QString resultsText(AppLanguage language, qsizetype count, qint64 bytes);
    // Smart filter title, ".mkv", "\"query\"" for the active filters, in that order.
    struct FilterChip {
        enum class Kind { smartFilter, extension, query };
        Kind kind;
        QString title;
    };
    static QList<FilterChip> filterChips(const AppState &state);

    struct EmptyState {
        QString glyph;
        QString titleKey;
        QString subtitleKey;
        QStringList actionKeys; // the first one is the prominent button
    };
    static EmptyState emptyStateContent(const AppState &state);

    struct VisualSearchBanner {
        QString engineLabel;
        bool spinner = false;
        QString statusText;          // the main text of the middle part
        QStringList detailTexts;     // speed and time left while indexing
        QString actionKey;           // the middle part's button, empty for none
        QString trailingButtonKey;   // cancel or stop, empty for none
        QString trailingText;        // the match count, empty for none
    };
    static VisualSearchBanner visualSearchBannerContent(const AppState &state);
    static const QStringList &exampleQueries(AppLanguage language);
    bool showsTranslationPrompt() const;
    bool showsExampleRow() const;

    // ---- actions ----
    void clearSmartFilter();
    void clearExtensionFilter();
    void clearSearch();
    void clearAllFilters();
    void openFullDiskAccessSettings();
    void runExampleQuery(const QString &example);
    void requestTranslationPack();
    void runStateAction2(const std::function<void(AppState &)> &action);
    void rescan();
    void toggleVisualSearch();

    // The current section widgets (for the window and for tests).
    QWidget *statusStripContent() const { return m_stripContent; }
    QWidget *emptyStateWidget() const { return m_emptyContent; }
    QWidget *permissionBanner() const;
    QMenu *sortMenu() const { return m_sortMenu; }
    QMenu *appearanceMenu() const { return m_appearanceMenu; }

public slots:
    // The "Lumenkite.focusSearchField" request.
    void focusSearchField();

signals:
    void searchFocusChanged(bool focused);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void changeEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void buildHeader(QVBoxLayout *column);
    void buildSearchRow(QVBoxLayout *column);
    void refreshAll();
    // While a scan runs, the library's growth updates only the counts, the scan's progress
    // and the content, at most once per kProgressIntervalMs.
    void libraryChanged();
    void refreshProgress();
    void refreshHeader();
    // Fits the header into its width: the rescan button gives up its time, then its text,
    // then the scope title and the count shorten with "…"; nothing overlaps.
    void fitHeader();
    void refreshSearchRow();
    void refreshBanner();
    void refreshStatusStrip();
    void refreshContent();
    void rebuildMenus();
    QWidget *makeScanningStatus();
    QWidget *makeVisualSearchSection();
    QWidget *makeFilterChips();
    QWidget *makeEmptyState();
    void replace(QWidget *&slot, QWidget *replacement, QVBoxLayout *into, int position);

    static constexpr int kProgressIntervalMs = 50;

    AppState *m_state;
    QTimer *m_progressTimer = nullptr;
    bool m_isTranslationInstalled = true;
    int m_translationPromptTrigger = 0;

    // header
    QWidget *m_header = nullptr;
    PaneGlyph *m_scopeIcon = nullptr;
    ElidedLabel *m_scopeTitle = nullptr;
    ElidedLabel *m_countLabel = nullptr;
    PaneButton *m_rescanButton = nullptr;
    bool m_fittingHeader = false;

    QToolButton *m_sortButton = nullptr;
    QMenu *m_sortMenu = nullptr;
    LinearIconButton *m_compactButton = nullptr;
    LinearIconButton *m_expandButton = nullptr;
    LinearIconButton *m_collapseButton = nullptr;
    QToolButton *m_appearanceButton = nullptr;
    QMenu *m_appearanceMenu = nullptr;
    LinearIconButton *m_inspectorButton = nullptr;
    // search row
    QWidget *m_searchBox = nullptr;
    PaneGlyph *m_searchIcon = nullptr;
    QLineEdit *m_searchField = nullptr;
    PaneSpinner *m_searchSpinner = nullptr;
    PaneButton *m_clearButton = nullptr;
    KeycapBadge *m_keycap = nullptr;
    PaneButton *m_visualToggle = nullptr;
    // sections below
    QVBoxLayout *m_column = nullptr;
    PaneStrip *m_banner = nullptr;
    QWidget *m_bannerDivider = nullptr;
    ElidedLabel *m_bannerText = nullptr;
    PaneButton *m_bannerGrant = nullptr;
    PaneButton *m_bannerRescan = nullptr;
    QWidget *m_stripContent = nullptr;
    QLabel *m_scanPath = nullptr;    // inside the scanning strip, while it is shown
    QLabel *m_scanSummary = nullptr;
    QWidget *m_stripDivider = nullptr;
    QStackedWidget *m_content = nullptr;
    TreeListView *m_list = nullptr;
    QWidget *m_emptyContent = nullptr;
    QVBoxLayout *m_emptyHost = nullptr;
};
