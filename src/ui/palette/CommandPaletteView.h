#pragma once

// The keyboard-first overlay over the main window: one search field, the videos whose name
// or folder contains the text and the quick commands. Return runs the top entry, a click
// the clicked one, Escape or a click on the backdrop closes it; every run closes it.

#include "ui/palette/PaletteModel.h"

#include <QPointer>
#include <QWidget>

class AppState;
class QLineEdit;
class QScrollArea;
class QVBoxLayout;
class QAbstractButton;

class CommandPaletteView : public QWidget {
    Q_OBJECT
public:
    explicit CommandPaletteView(AppState *state, QWidget *parent = nullptr);

    QString query() const;
    QLineEdit *searchField() const { return m_field; }
    QWidget *panel() const { return m_panel; }
    QScrollArea *list() const { return m_scroll; }

    // The lists for the current text, computed anew.
    QList<QuickCommand> commands() const;
    QList<VideoFile> videoMatches() const;

    void submit();
    void runCommand(const QuickCommand &command);
    void openVideoMatch(const VideoFile &video);
    void close();

    // The rows on screen, in order (for tests): object names "video:<id>" and the command ids.
    QList<QAbstractButton *> rows() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void scheduleRefresh();
    void refresh();
    void placePanel();

    QPointer<AppState> m_state;
    QWidget *m_panel = nullptr;
    QLineEdit *m_field = nullptr;
    QScrollArea *m_scroll = nullptr;
    QWidget *m_listHost = nullptr;
    QVBoxLayout *m_list = nullptr;
    bool m_refreshPending = false;
};

// The factory the main window is given.
QWidget *makeCommandPalette(AppState *state, QWidget *parent);
