#pragma once

// The main window's content: sidebar, tree pane and inspector in a splitter, the overlays
// above them (selection bar, toast, command palette), the sheets and the permanent-delete
// alert raised through the state's flags, and the window's keys.

#include "ui/LinearTheme.h"
#include "ui/window/SidebarView.h"
#include "library/AppState.h"
#include "library/Models.h"

#include <QDialog>
#include <QMessageBox>

#include <QPointer>
#include <QWidget>

#include <functional>
#include <optional>

class QLabel;
class QLineEdit;
class QSplitter;

class QAbstractButton;
class QKeyEvent;

// The views other parts of the program contribute. A missing pane is held by a plain pane
// of the right size; a missing sheet or palette resets its flag at once.
struct ContentViewParts {
    using PaneFactory = std::function<QWidget *(AppState *state, QWidget *parent)>;
    using SheetFactory = std::function<QDialog *(AppState *state, QWidget *parent)>;
    using EditorFactory = std::function<QDialog *(AppState *state, const VideoFile &video, QWidget *parent)>;

    // The tree pane. Its search field is the QLineEdit named "searchField".
    PaneFactory treePane;
    PaneFactory inspector;
    PaneFactory commandPalette; // covers the whole window, draws its own backdrop
    SheetFactory moveSheet;
    EditorFactory editorSheet;
    SheetFactory duplicatesSheet;
    SheetFactory batchCompressSheet;
    SheetFactory storageInsightsSheet;
    SheetFactory onboarding;
};

// The small notice in the bottom trailing corner.
class ToastView : public QWidget {
    Q_OBJECT
public:
    explicit ToastView(AppState *state, QWidget *parent = nullptr);
    void refresh();
    QAbstractButton *undoButton() const { return m_undo; }
    QAbstractButton *closeButton() const { return m_close; }
    QString message() const;
    bool isError() const { return m_isError; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    QPointer<AppState> m_state;
    QLabel *m_icon;
    QLabel *m_message;
    QAbstractButton *m_undo;
    QAbstractButton *m_close;
    bool m_isError = false;
};

// The bar that floats over the bottom of the window while two or more videos are selected.
class SelectionActionBar : public QWidget {
    Q_OBJECT
public:
    explicit SelectionActionBar(AppState *state, QWidget *parent = nullptr);
    void refresh();
    QString countText() const;
    QString sizeText() const;
    QAbstractButton *compressButton() const { return m_compress; }
    QAbstractButton *moveButton() const { return m_move; }
    QAbstractButton *trashButton() const { return m_trash; }
    QAbstractButton *revealButton() const { return m_reveal; }
    QAbstractButton *clearButton() const { return m_clear; }
    // The fill behind the clear button's mark.
    static QColor clearButtonFill(const LinearPalette &palette) { return palette.neutral(0.06, 0.045); }

    void compressSelection();
    void moveSelection();
    void trashSelection();
    void revealSelection();
    void clearSelection();

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    QPointer<AppState> m_state;
    QLabel *m_count;
    QLabel *m_size;
    QAbstractButton *m_compress;
    QAbstractButton *m_move;
    QAbstractButton *m_trash;
    QAbstractButton *m_reveal;
    QAbstractButton *m_clear;
};

class ContentView : public QWidget {
    Q_OBJECT
public:
    // Pane limits: minimum, ideal and maximum widths.
    struct PaneWidths { int minimum, ideal, maximum; };
    static constexpr PaneWidths kSidebar{215, 235, 290};
    static constexpr int kTreePaneMinimum = 420;
    static constexpr PaneWidths kInspector{340, 390, 540};
    static constexpr PaneWidths kTheaterInspector{680, 960, QWIDGETSIZE_MAX};

    explicit ContentView(AppState *state, ContentViewParts parts = {}, QWidget *parent = nullptr);
    ~ContentView() override;

    AppState *state() const { return m_state; }

    // The panes as they stand (null while left out).
    SidebarView *sidebar() const { return m_sidebar; }
    QWidget *treePane() const { return m_treePane; }
    QWidget *inspector() const { return m_inspector; }
    QSplitter *splitter() const { return m_splitter; }
    // Overlays (null while not shown).
    SelectionActionBar *selectionBar() const { return m_selectionBar; }
    ToastView *toast() const { return m_toast; }
    QWidget *commandPalette() const { return m_palette; }
    // The sheet or alert open now, if any.
    QDialog *openSheet() const;
    QMessageBox *permanentDeleteAlert() const { return m_alert; }

    // Keyboard focus of the tree pane's search field.
    bool isSearchFocused() const;
    void setSearchFocused(bool focused);

    // The window's key table; true when the key was handled.
    bool handleKey(QKeyEvent *event);

    // The alert's message for a list of videos, in a language.
    static QString permanentDeleteMessage(const QList<VideoFile> &videos, AppLanguage language);

    // The colour scheme the appearance asks for; none follows the desktop.
    std::optional<ColorScheme> preferredScheme() const;
    // Loads the active scope unless videos are loaded or a scan runs.
    void runStartupTask();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void rebuildLayout();
    void updateOverlays();
    void placeOverlays();
    void updatePalette();
    void applyAppearance();
    void syncSheets();
    void syncEditor();
    void syncAlert();
    QLineEdit *searchField() const;
    QWidget *makePlaceholder(const QString &objectName);

    struct SheetSlot;
    void syncSheet(SheetSlot &slot);

    QPointer<AppState> m_state;
    ContentViewParts m_parts;
    QSplitter *m_splitter = nullptr;
    QPointer<SidebarView> m_sidebar;
    QPointer<QWidget> m_treePane;
    QPointer<QWidget> m_inspector;
    QPointer<SelectionActionBar> m_selectionBar;
    QPointer<ToastView> m_toast;
    QPointer<QWidget> m_palette;
    QPointer<QMessageBox> m_alert;
    QList<SheetSlot *> m_sheets;
    QPointer<QDialog> m_editor;
    QString m_editorVideoID;
    bool m_startupDone = false;
    bool m_theaterLayout = false;
};
