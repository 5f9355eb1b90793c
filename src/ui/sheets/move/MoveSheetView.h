#pragma once

// The move sheet: moves the pending videos into a folder of the tree, a recent destination
// or a folder chosen in a file dialog. Every destination ends in AppState::moveSelected,
// which closes the sheet, moves the files and reports what could not be moved.

#include "library/AppState.h"
#include "library/LumenkiteBuilder.h"

#include <QAbstractButton>
#include <QDialog>
#include <QPointer>

#include <QFileDialog>
#include <QLineEdit>
class QScrollArea;
class ThemedLabel;
class SheetButton;

// One destination: a symbol, a title over a path, an optional count, and the action word
// while the pointer is over it. The whole row is the button.
class DestinationButtonRow : public QAbstractButton {
    Q_OBJECT
public:
    DestinationButtonRow(const QString &title, const QString &path, const QString &icon,
                         const std::optional<QString> &badge, const QString &actionLabel, QWidget *parent = nullptr);

    QString title() const { return m_title; }
    QString path() const { return m_path; }
    QString icon() const { return m_icon; }
    std::optional<QString> badge() const { return m_badge; }
    bool isHovered() const { return m_hovered; }
    // The path as drawn in `width` points: its end kept, its start elided.
    QString shownPath() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    QRectF pathRect() const;
    QString m_title, m_path, m_icon;
    std::optional<QString> m_badge;
    QString m_actionLabel;
    bool m_hovered = false;
};

class MoveSheetView : public QDialog {
    Q_OBJECT
public:
    explicit MoveSheetView(AppState *state, QWidget *parent = nullptr);

    // The tree's folders in pre-order: the first 24 without filter text, else every folder
    // whose shown name or path contains the trimmed text, ignoring case.
    static QList<VideoFolderNodePtr> folderCandidates(const QList<VideoFolderNodePtr> &roots, const QString &filter);

    QString title() const;
    QString subtitle() const;
    QLineEdit *filterField() const { return m_filter; }
    QList<DestinationButtonRow *> recentRows() const;
    QList<DestinationButtonRow *> folderRows() const;
    // The folder dialog while it is open.
    QFileDialog *folderDialog() const { return m_dialog; }

    void dismiss();
    void chooseFolderAction();

private:
    void retitle();
    void rebuildList();

    QPointer<AppState> m_state;
    ThemedLabel *m_title = nullptr;
    ThemedLabel *m_subtitle = nullptr;
    QLineEdit *m_filter = nullptr;
    SheetButton *m_choose = nullptr;
    ThemedLabel *m_note = nullptr;
    SheetButton *m_cancel = nullptr;
    QScrollArea *m_scroll = nullptr;
    QWidget *m_list = nullptr;
    QPointer<QFileDialog> m_dialog;
};
