#pragma once

// The progress of a move (or its undo) that copies to another file system: a small card at
// the foot of the main window with the bytes done and a Cancel button, shown while
// AppState::isCopyingFiles holds. The window stays usable meanwhile.

#include "library/AppState.h"

#include <QPointer>
#include <QWidget>

class QAbstractButton;
class QProgressBar;
class ThemedLabel;

class MoveProgressView : public QWidget {
    Q_OBJECT
public:
    // The one card of `window`, made on first use.
    static MoveProgressView *ensureFor(AppState *state, QWidget *window);

    QString title() const;
    QString detail() const;
    QAbstractButton *cancelButton() const { return m_cancel; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    MoveProgressView(AppState *state, QWidget *window);
    void refresh();
    void place();

    QPointer<AppState> m_state;
    ThemedLabel *m_title = nullptr;
    ThemedLabel *m_detail = nullptr;
    QProgressBar *m_bar = nullptr;
    QAbstractButton *m_cancel = nullptr;
};
