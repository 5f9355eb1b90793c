#pragma once

// The trim editor: one video in a player of its own, its kept ranges on a filmstrip
// timeline and as a row of chips, and the export of those ranges as a trim or a merge,
// either as a new file or in place of the original. A fresh sheet per video.

#include "editing/VideoTrimExportService.h"
#include "library/AppState.h"
#include "library/Models.h"

#include <QDialog>
#include <QPointer>

#include <atomic>
#include <memory>
#include <optional>

class FilmstripTimelineView;
class QAbstractButton;
class QCheckBox;
class QComboBox;
class QHBoxLayout;
class QLabel;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class ThemedLabel;
class UnifiedVideoSurface;
class VideoPlayerController;

class VideoEditorSheet : public QDialog {
    Q_OBJECT
public:
    VideoEditorSheet(AppState *state, const VideoFile &video, QWidget *parent = nullptr,
                     const TrimExportOptions &exportOptions = {});
    ~VideoEditorSheet() override;

    // The factory the main window opens the editor with.
    static QDialog *create(AppState *state, const VideoFile &video, QWidget *parent);

    // State.
    const VideoFile &video() const { return m_video; }
    VideoPlayerController *controller() const { return m_controller; }
    double totalDuration() const { return m_totalDuration; }
    const QList<VideoClipSegment> &segments() const { return m_segments; }
    QList<VideoClipSegment> sortedSegments() const;
    std::optional<QUuid> selectedSegmentID() const { return m_selected; }
    const QList<QImage> &filmstrip() const { return m_filmstrip; }
    bool previewKeptOnly() const { return m_previewKeptOnly; }
    TrimExportPreset exportPreset() const { return m_preset; }
    TrimSaveMode saveMode() const { return m_saveMode; }
    bool isExporting() const { return m_isExporting; }
    double exportProgress() const { return m_exportProgress; }
    QString exportStage() const { return m_exportStage; }
    double keptDuration() const;
    qint64 estimatedOutputBytes() const;
    int estimatedSavingsPercent() const;

    // Operations.
    void applyDuration(double seconds);
    void durationChanged(double seconds);
    void splitAtPlayhead();
    void addRange();
    void removeSegment(const QUuid &id);
    void removeSelectedRange();
    void resetSegments();
    void selectSegment(const VideoClipSegment &segment);
    void setPreviewKeptOnly(bool on);
    void setExportPreset(TrimExportPreset preset);
    void setSaveMode(TrimSaveMode mode);
    void togglePlayPause();
    void seek(double seconds);
    void previewKeptTick(double seconds);
    void keepPlaybackInKeptRanges(double seconds);
    void startExport();
    void cancelExport();
    void closeEditor();

    // Parts, for tests and pictures.
    FilmstripTimelineView *timeline() const { return m_timeline; }
    UnifiedVideoSurface *surface() const { return m_surface; }
    QAbstractButton *splitButton() const { return m_split; }
    QAbstractButton *addRangeButton() const { return m_add; }
    QAbstractButton *removeRangeButton() const { return m_remove; }
    QAbstractButton *resetButton() const { return m_reset; }
    QAbstractButton *playButton() const { return m_play; }
    QAbstractButton *closeButton() const { return m_close; }
    QPushButton *exportButton() const { return m_export; }
    // Whether the ffmpeg every export runs is there; without it the export button stays off.
    bool hasFFmpeg() const;
    ThemedLabel *ffmpegMissingNote() const { return m_ffmpegNote; }
    QPushButton *footerCancelButton() const { return m_footerCancel; }
    QPushButton *progressCancelButton() const { return m_progressCancel; }
    QComboBox *presetPicker() const { return m_presetPicker; }
    QComboBox *saveModePicker() const { return m_saveModePicker; }
    QString summaryText() const;
    QString timeBadgeText() const;
    QString segmentsHeaderText() const;
    QList<QWidget *> segmentChips() const { return m_chips; }

protected:
    void done(int result) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void build();
    void loadVideo();
    void generateFilmstrip(double duration);
    void teardown();
    void refresh();
    void rebuildChips();
    void fitControlsRow();
    void segmentsChanged();
    QString tr_(const char *key) const;

    QPointer<AppState> m_state;
    VideoFile m_video;
    TrimExportOptions m_exportOptions;
    VideoPlayerController *m_controller = nullptr;
    double m_totalDuration = 0;
    QList<QImage> m_filmstrip;
    QList<VideoClipSegment> m_segments;
    std::optional<QUuid> m_selected;
    bool m_previewKeptOnly = true;
    TrimExportPreset m_preset = TrimExportPreset::passthrough;
    TrimSaveMode m_saveMode = TrimSaveMode::saveAsNew;
    bool m_isExporting = false;
    double m_exportProgress = 0;
    QString m_exportStage;
    QPointer<TrimExportJob> m_job;
    std::shared_ptr<std::atomic<bool>> m_jobCancelled;
    std::shared_ptr<std::atomic<bool>> m_stopFrames;
    quint64 m_filmstripGeneration = 0;
    bool m_tornDown = false;

    ThemedLabel *m_name = nullptr;
    QWidget *m_summary = nullptr;
    QAbstractButton *m_close = nullptr;
    UnifiedVideoSurface *m_surface = nullptr;
    QAbstractButton *m_bigPlay = nullptr;
    QLabel *m_timeBadge = nullptr;
    QAbstractButton *m_back5 = nullptr, *m_back1 = nullptr, *m_play = nullptr, *m_fwd1 = nullptr, *m_fwd5 = nullptr;
    QAbstractButton *m_split = nullptr, *m_add = nullptr, *m_remove = nullptr, *m_reset = nullptr;
    QCheckBox *m_previewToggle = nullptr;
    FilmstripTimelineView *m_timeline = nullptr;
    ThemedLabel *m_segmentsHeader = nullptr;
    QHBoxLayout *m_chipRow = nullptr;
    QList<QWidget *> m_chips;
    QStackedWidget *m_footer = nullptr;
    QComboBox *m_presetPicker = nullptr;
    QComboBox *m_saveModePicker = nullptr;
    QPushButton *m_footerCancel = nullptr;
    QPushButton *m_export = nullptr;
    ThemedLabel *m_ffmpegNote = nullptr;
    QProgressBar *m_progress = nullptr;
    ThemedLabel *m_stageLabel = nullptr;
    QPushButton *m_progressCancel = nullptr;
};
