#pragma once

// The duplicate finder's sheet: exact copies (from the exact scan, started when the sheet
// opens) and visually similar videos (from the visual index), marking copies by hand or
// automatically, and moving the marked ones to the Trash through the application state.

#include "library/AppState.h"
#include "tools/DuplicateVideoService.h"

#include <QDialog>
#include <QPointer>

#include <future>
#include <memory>

class QAbstractButton;
class QLabel;
class QMessageBox;
class QProgressBar;
class QScrollArea;
class QSlider;
class QStackedWidget;
class QVBoxLayout;
class ThemedLabel;
class DuplicateGroupCard;

enum class DuplicateTab { exact, similar };

class DuplicatesSheetView : public QDialog {
    Q_OBJECT
public:
    // The similarity slider: 0.85 to 0.96 in steps of 0.01.
    static constexpr int kMinPercent = 85, kMaxPercent = 96, kInitialPercent = 90;
    // Cards are built as they scroll into view, this many at a time.
    static constexpr int kCardBatch = 40;

    explicit DuplicatesSheetView(AppState *state, QWidget *parent = nullptr);
    ~DuplicatesSheetView() override;

    DuplicateTab activeTab() const { return m_activeTab; }
    void setActiveTab(DuplicateTab tab);
    bool isScanning() const { return m_isScanning; }
    double scanProgress() const { return m_scanProgress; }
    const QString &scanStage() const { return m_scanStage; }
    const QList<DuplicateVideoGroup> &exactGroups() const { return m_exactGroups; }
    const QList<SimilarVideoGroup> &similarGroups() const { return m_similarGroups; }
    bool isScanningSimilar() const { return m_isScanningSimilar; }
    double similarityThreshold() const { return m_percent / 100.0; }
    void setSimilarityPercent(int percent);
    // Candidate files the exact scan could not read.
    int unreadableCount() const { return m_unreadableCount; }
    // Marked videos the last Trash move could not take.
    int trashFailureCount() const { return m_trashFailures; }

    const QSet<QString> &selectedForTrash() const { return m_selectedForTrash; }
    void setMarked(const QString &videoID, bool marked);

    int activeGroupCount() const;
    qint64 reclaimableTotal() const;
    qint64 selectedBytes() const;

    // What the content area shows: "exactScanning", "similarScanning", "needIndex",
    // "empty", "list".
    QString contentState() const;
    QString summaryText() const;
    QString similarityLabelText() const;
    QString trashButtonText() const;
    QString emptyTitle() const;
    QString emptySubtitle() const;
    QAbstractButton *trashButton() const { return m_trash; }
    QAbstractButton *autoSelectButton() const { return m_autoSelect; }
    QAbstractButton *closeButton() const { return m_done; }
    QAbstractButton *indexNowButton() const { return m_indexNow; }
    QSlider *slider() const { return m_slider; }
    QList<DuplicateGroupCard *> cards() const;

    void startExactScan();
    void cancelScan();
    void autoSelectCopies();
    void startSimilarScan();
    // From the similar tab it first asks once (similar is not identical), naming count and size.
    void trashSelected();
    QMessageBox *trashConfirmation() const { return m_confirm; }
    // Stops the exact scan and closes the sheet.
    void closeSheet();

protected:
    void changeEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    struct SimilarSearch;
    void applyScanEvent(const DuplicateScanEvent &event);
    void applySimilarResult(quint64 generation, QList<SimilarVideoGroup> groups);
    void applyAgainstLibrary();
    void retranslate();
    void refresh();
    void rebuildList();
    void appendCards(int count);
    void refreshMarks();
    QList<VideoFile> markedVideos() const;
    void askToTrashSimilar();
    void trashMarked();

    QPointer<AppState> m_state;
    DuplicateTab m_activeTab = DuplicateTab::exact;
    bool m_isScanning = true;
    double m_scanProgress = 0;
    QString m_scanStage;
    QList<DuplicateVideoGroup> m_exactGroups;
    QList<SimilarVideoGroup> m_similarGroups;
    int m_percent = kInitialPercent;
    bool m_isScanningSimilar = false;
    QSet<QString> m_selectedForTrash;
    QPointer<DuplicateScanJob> m_scanJob;
    int m_unreadableCount = 0;
    int m_trashFailures = 0;
    // Pairs at the slider's lowest threshold, computed once per sheet on first use.
    std::shared_future<std::shared_ptr<const SimilarityPairs>> m_pairs;
    // Only the newest similar search shows its result.
    quint64 m_similarGeneration = 0;
    bool m_listDirty = true;
    int m_builtCards = 0;

    // widgets
    ThemedLabel *m_title, *m_subtitle;
    QLabel *m_summary;
    QAbstractButton *m_close;
    QAbstractButton *m_tabExact, *m_tabSimilar;
    QWidget *m_similarityControl;
    QLabel *m_similarityLabel;
    QSlider *m_slider;
    QStackedWidget *m_stack;
    QProgressBar *m_progress;
    ThemedLabel *m_scanningText, *m_similarScanningText, *m_stageText;
    ThemedLabel *m_needIndexText;
    QAbstractButton *m_indexNow;
    ThemedLabel *m_emptyTitle, *m_emptySubtitle;
    QScrollArea *m_scroll;
    QWidget *m_listBody;
    QVBoxLayout *m_listLayout;
    QAbstractButton *m_autoSelect, *m_done, *m_trash;
    ThemedLabel *m_footerNote;
    QPointer<QMessageBox> m_confirm;
};

// One group: a header line and a row per video.
class DuplicateGroupCard : public QWidget {
    Q_OBJECT
public:
    // `copies`: the members labelled as copies of the first, which is kept.
    DuplicateGroupCard(const QString &title, const QString &detail, const QList<VideoFile> &videos,
                       const QSet<QString> &copies, AppLanguage language, QWidget *parent = nullptr);
    QString title() const { return m_title; }
    QString detail() const { return m_detail; }
    // Each row's checkbox, keyed by video id, in row order.
    QList<QAbstractButton *> checkBoxes() const;
    QStringList roleTexts() const;
    void setMarks(const QSet<QString> &marked);

signals:
    void markToggled(const QString &videoID, bool marked);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_title, m_detail;
};

// The factory the main window opens the sheet with.
QDialog *makeDuplicatesSheet(AppState *state, QWidget *parent);
