#pragma once

// The batch compress sheet: the user ticks videos (those handed over, or the library's
// largest), picks a preset and where results go, sees the estimated savings, runs the
// batch with per-item progress, may stop it, and reads how much was reclaimed.

#include "editing/BatchCompressionService.h"
#include "library/AppState.h"

#include <QDialog>
#include <QPointer>
#include <QSet>

class QAbstractButton;
class QComboBox;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QStackedWidget;
class QVBoxLayout;
class ThemedLabel;

// What the summary page says about a finished batch, in the interface language.
struct CompressionSummary {
    enum class Outcome { complete, partly, failed };
    Outcome outcome = Outcome::complete;
    QString title;
    QString headline;   // the space reclaimed, or the space the new files take
    bool headlineGood = false; // space was given back
    QString counts;     // "<compressed> / <chosen> videos"
    QStringList details; // kept because not smaller, failed, originals still on disk
};

class BatchCompressSheetView : public QDialog {
    Q_OBJECT
public:
    explicit BatchCompressSheetView(AppState *state, QWidget *parent = nullptr,
                                    const BatchCompressionOptions &options = {});
    ~BatchCompressSheetView() override;
    static QDialog *create(AppState *state, QWidget *parent);

    // The rows: the handed-over videos as given, else the largest of the library (those of
    // 20 MiB or more when there are any), at most 60.
    QList<VideoFile> candidates() const;
    QList<VideoFile> selectedCandidates() const;
    qint64 selectedBytes() const;
    qint64 estimatedSavings() const;
    const QSet<QString> &selectedIDs() const { return m_selectedIDs; }
    // Every candidate ticked (true with no candidates).
    bool allCandidatesSelected() const;

    CompressionPreset preset() const { return m_preset; }
    CompressionSaveMode saveMode() const { return m_saveMode; }
    bool isRunning() const { return m_isRunning; }
    bool finishedSummary() const { return m_finishedSummary; }
    int currentItemIndex() const { return m_currentItemIndex; }
    double currentItemProgress() const { return m_currentItemProgress; }
    const QList<BatchCompressionResult> &completedResults() const { return m_completedResults; }
    qint64 totalSavedBytes() const { return m_totalSavedBytes; }

    void toggle(const QString &id);
    void toggleSelectAll();
    void setPreset(CompressionPreset preset);
    void setSaveMode(CompressionSaveMode mode);
    void startRun();
    void stopRun();
    void closeSheet();

    QAbstractButton *startButton() const;
    QAbstractButton *stopButton() const;
    QAbstractButton *selectAllButton() const;
    QAbstractButton *closeButton() const;
    QString statusText() const;
    QString summaryText() const;
    QString summaryDetails() const;
    // The line shown over the list after a stop: which videos were done before it.
    QString stoppedNote() const;

    static CompressionSummary summarize(const QList<BatchCompressionResult> &results, const QStringList &failedNames,
                                        int chosen, CompressionSaveMode saveMode);

protected:
    void hideEvent(QHideEvent *event) override;

private:
    QString tr_(const char *key) const;
    void build();
    void refresh();
    void rebuildRows();
    void handle(const BatchCompressionEvent &event);
    void cancelJob();

    AppState *m_state;
    BatchCompressionOptions m_options;
    QSet<QString> m_selectedIDs;
    CompressionPreset m_preset = CompressionPreset::hevcBalanced;
    CompressionSaveMode m_saveMode = CompressionSaveMode::replaceOriginal;
    bool m_isRunning = false;
    int m_currentItemIndex = 0;
    int m_currentItemTotal = 0;
    QString m_currentItemName;
    double m_currentItemProgress = 0;
    QList<BatchCompressionResult> m_completedResults;
    QStringList m_failedNames;
    QString m_stoppedNote;
    qint64 m_totalSavedBytes = 0;
    bool m_finishedSummary = false;
    QPointer<BatchCompressionJob> m_job;
    QStringList m_rowIDs; // the ids the list was built for

    QComboBox *m_presetPicker = nullptr;
    QComboBox *m_savePicker = nullptr;
    ThemedLabel *m_estimate = nullptr;
    ThemedLabel *m_estimateCaption = nullptr;
    QStackedWidget *m_middle = nullptr;
    QStackedWidget *m_listOrEmpty = nullptr;
    QScrollArea *m_scroll = nullptr;
    QWidget *m_rows = nullptr;
    QVBoxLayout *m_rowsLayout = nullptr;
    ThemedLabel *m_doneSaved = nullptr;
    ThemedLabel *m_doneCounts = nullptr;
    ThemedLabel *m_doneDetails = nullptr;
    ThemedLabel *m_stoppedLine = nullptr;
    QStackedWidget *m_footer = nullptr;
    QProgressBar *m_progress = nullptr;
    ThemedLabel *m_status = nullptr;
    ThemedLabel *m_reclaimed = nullptr;
    QPushButton *m_stop = nullptr;
    QPushButton *m_done = nullptr;
    QPushButton *m_selectAll = nullptr;
    ThemedLabel *m_selectionLine = nullptr;
    QPushButton *m_cancel = nullptr;
    QPushButton *m_start = nullptr;
    QAbstractButton *m_close = nullptr;
};
