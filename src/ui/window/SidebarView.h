#pragma once

// The left column of the main window: header, sources, tools with the on-device search
// card, smart views, formats, and the footer with the library summary and language menu.

#include "ui/Controls.h"
#include "ui/LinearTheme.h"
#include "ui/window/ModelRemoval.h"
#include "library/AppState.h"
#include "library/Models.h"

#include <QAbstractButton>
#include <QPointer>

#include <functional>
#include <optional>

class QMenu;
class QScrollArea;
class QVBoxLayout;

// The shared row of the sources, tools and smart-view sections.
class SidebarItemRow : public QAbstractButton {
    Q_OBJECT
public:
    SidebarItemRow(const QString &icon, const QString &title, const std::optional<QString> &badge, bool isSelected,
                   QWidget *parent = nullptr);
    QString icon() const { return m_icon; }
    QString title() const { return text(); }
    std::optional<QString> badge() const { return m_badge; }
    bool isSelected() const { return m_selected; }
    void setTrailingAction(const QString &icon, std::function<void()> action);
    QAbstractButton *trailingButton() const { return m_trailing; }
    bool isHovered() const { return m_hovered; }
    void setHovered(bool hovered);
    // Whether the badge is drawn now (a hovered row with a trailing action shows the action).
    bool showsBadge() const;
    QColor fillColor() const;
    // Where the title goes at the current size and what is drawn there (shortened in the
    // middle with "…" when the row is too narrow).
    QRectF titleRect() const;
    QString shownTitle() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    QString m_icon;
    std::optional<QString> m_badge;
    bool m_selected;
    bool m_hovered = false;
    QString m_trailingIcon;
    std::function<void()> m_onTrailing;
    PlainButton *m_trailing = nullptr;
};

// A small on/off switch.
class SwitchToggle : public QAbstractButton {
    Q_OBJECT
public:
    explicit SwitchToggle(QWidget *parent = nullptr);
    QSize sizeHint() const override { return {30, 17}; }

protected:
    void paintEvent(QPaintEvent *event) override;
};

class SidebarView : public VisualEffectBackground {
    Q_OBJECT
public:
    // Removes the installed search models; an error text on failure.
    using ModelRemover = ::ModelRemover;

    explicit SidebarView(AppState *state, QWidget *parent = nullptr);

    // LUMENKITE_CAPTURE_DIR is present in the environment (an empty value counts).
    static bool isCaptureMode();
    // Badge count of a smart view over `videos`: none for an empty library.
    static std::optional<int> smartFilterCount(SmartFilter filter, const QList<VideoFile> &videos,
                                               const QDateTime &now = QDateTime::currentDateTime());
    std::optional<int> smartFilterCount(SmartFilter filter) const;
    // The scopes of the sources section in order (without the add-folder and Photos rows).
    QList<ScanScope> sourceScopes() const;
    // At most this many formats are listed.
    static constexpr int kMaxFormats = 8;

    // ---- actions ----
    void refreshSources();
    void openCompressor();
    void selectSmartFilter(SmartFilter filter);
    void toggleExtensionFilter(const QString &extension, bool isActive);
    void selectLanguage(AppLanguage language);
    void openFullDiskAccessSettings();
    void addFolderAction();
    void removeAIModelAction();
    void setModelRemover(ModelRemover remover) { m_modelRemover = std::move(remover); }

    // Rebuilds the rows from the state now (changes are otherwise gathered and applied
    // once control returns to the event loop).
    void rebuild();
    // A row or control by its name: "scope:<id>", "tool:duplicates", "tool:compress",
    // "tool:insights", "view:<filter>", "format:<EXT>", "addFolder", "photosLibrary",
    // "photosSwitch", "refreshSources", "paletteButton", "languageMenu", "footerButton",
    // "ai.panel", "ai.download", "ai.cancel", "ai.remove", "ai.index".
    template <typename T = QWidget> T *control(const QString &name) const { return findChild<T *>(name); }
    QStringList formatRowExtensions() const;
    QMenu *languageMenu() const { return m_languageMenu; }

    // Texts of the footer summary and the search card.
    QString summaryCountText() const;
    QString summarySizeText() const;
    static QString downloadPercentText(double progress);
    static QString indexSpeedText(bool isIndexing, const std::optional<QString> &eta, double videosPerSecond,
                                  int skipped, AppLanguage language, bool *isSkippedLine = nullptr);
    QString engineLabel() const;

protected:
    void changeEvent(QEvent *event) override;

private:
    void scheduleRebuild();
    void styleScrollBar();
    QWidget *buildHeader();
    QWidget *buildSection(const QString &titleKey, const QList<QWidget *> &rows, QWidget *headerAccessory = nullptr);
    QList<QWidget *> buildSourceRows();
    QList<QWidget *> buildToolRows();
    QList<QWidget *> buildViewRows();
    QList<QWidget *> buildFormatRows();
    QWidget *buildAIPanel();
    QWidget *buildFooter();
    SidebarItemRow *scopeRow(const ScanScope &scope, bool removable);

    QPointer<AppState> m_state;
    QScrollArea *m_scroll = nullptr;
    QWidget *m_header = nullptr;
    QWidget *m_content = nullptr;
    QWidget *m_footer = nullptr;
    QVBoxLayout *m_footerHost = nullptr;
    QMenu *m_languageMenu = nullptr;
    bool m_rebuildPending = false;
    ModelRemover m_modelRemover;
};
