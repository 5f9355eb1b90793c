#pragma once

// The inspector's actions card, media facts grid and nothing-selected placeholder.

#include "library/L10n.h"
#include "library/Models.h"
#include "ui/EngineNames.h"

#include <QList>
#include <QString>
#include <QWidget>

#include <optional>

class LinearIconButton;
class PaintedButton;
class QVBoxLayout;

// One row of the facts grid.
struct MediaInfoRow {
    QString labelKey;
    QString value;
    bool operator==(const MediaInfoRow &other) const = default;
};

// The facts grid's rows for a video: size, duration, resolution, frame rate, codec,
// player, modified and, only when known, created. `playerDuration` stands in for a
// duration the facts lack; missing values read "—".
QList<MediaInfoRow> mediaInfoRows(const VideoFile &video, const std::optional<VideoMediaInfo> &info,
                                  double playerDuration, bool usingMPV, AppLanguage language);

// The grid itself: label left, value right, dividers between rows.
class MediaInfoGrid : public QWidget {
    Q_OBJECT
public:
    explicit MediaInfoGrid(QWidget *parent = nullptr);
    void setRows(const QList<MediaInfoRow> &rows, AppLanguage language);
    const QList<MediaInfoRow> &rows() const { return m_rows; }

private:
    QVBoxLayout *m_layout;
    QList<MediaInfoRow> m_rows;
    AppLanguage m_language = AppLanguage::en;
};

// Trim and merge on top; move, trash and show-in-file-manager below it.
class InspectorActionsSection : public QWidget {
    Q_OBJECT
public:
    explicit InspectorActionsSection(QWidget *parent = nullptr);
    void setLanguage(AppLanguage language);

    PaintedButton *trimButton() const { return m_trim; }
    PaintedButton *moveButton() const { return m_move; }
    PaintedButton *trashButton() const { return m_trash; }
    LinearIconButton *revealButton() const { return m_reveal; }

signals:
    void trimRequested();
    void moveRequested();
    void trashRequested();
    void revealRequested();

private:
    void retranslate();
    AppLanguage m_language = AppLanguage::en;
    PaintedButton *m_trim;
    PaintedButton *m_move;
    PaintedButton *m_trash;
    LinearIconButton *m_reveal;
    class InspectorLabel *m_trimTitle;
    class InspectorLabel *m_moveTitle;
    class InspectorLabel *m_trashTitle;
};

// Shown while nothing is selected.
class InspectorEmptyState : public QWidget {
    Q_OBJECT
public:
    explicit InspectorEmptyState(QWidget *parent = nullptr);
    void setLanguage(AppLanguage language);

private:
    class InspectorLabel *m_title;
    class InspectorLabel *m_subtitle;
};
