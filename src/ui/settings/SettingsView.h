#pragma once

// The settings window's content: a general tab (language, appearance, library options,
// the playback engines) and a tab for the on-device search models. Every control writes
// straight into the state; nothing waits for an OK.

#include "library/L10n.h"
#include "ui/window/ModelRemoval.h"

#include <QPointer>
#include <QWidget>

class AppState;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QTabWidget;
class QFormLayout;

class SettingsView : public QWidget {
    Q_OBJECT
public:
    explicit SettingsView(AppState *state, QWidget *parent = nullptr);

    void setModelRemover(ModelRemover remover) { m_remover = std::move(remover); }

    // Values of the rows about the engines.
    static QString nativeEngineText();
    static QString codecsText(bool libmpvLoaded, AppLanguage language);
    static QString speechText(AppLanguage language);

    QTabWidget *tabs() const { return m_tabs; }

private:
    void refresh();
    void download();
    void remove();

    QPointer<AppState> m_state;
    ModelRemover m_remover;
    QTabWidget *m_tabs = nullptr;
    QComboBox *m_language = nullptr;
    QComboBox *m_appearance = nullptr;
    QCheckBox *m_photos = nullptr;
    QCheckBox *m_compact = nullptr;
    QLabel *m_codecs = nullptr;
    QLabel *m_missingTools = nullptr;
    QFormLayout *m_generalForm = nullptr;
    QFormLayout *m_aiForm = nullptr;
    QLabel *m_engine = nullptr;
    QLabel *m_modelSize = nullptr;
    QPushButton *m_removeButton = nullptr;
    QPushButton *m_downloadButton = nullptr;
    QLabel *m_indexed = nullptr;
    QLabel *m_native = nullptr;
    QLabel *m_speech = nullptr;
    QWidget *m_modelRow = nullptr;
    bool m_refreshing = false;
};

QWidget *makeSettingsView(AppState *state);
