#pragma once

// The welcome sheet of the first start: the language, three features, and two ways out
// (choose a folder to scan, or just start). Both record that the welcome was seen.

#include <QDialog>
#include <QPointer>

class AppState;
class QComboBox;
class QPushButton;

class OnboardingView : public QDialog {
    Q_OBJECT
public:
    explicit OnboardingView(AppState *state, QWidget *parent = nullptr);

    QComboBox *languagePicker() const { return m_language; }
    QPushButton *chooseFolderButton() const { return m_choose; }
    QPushButton *getStartedButton() const { return m_start; }

    void chooseFolder();
    void getStarted();

private:
    void build();

    QPointer<AppState> m_state;
    QComboBox *m_language = nullptr;
    QPushButton *m_choose = nullptr;
    QPushButton *m_start = nullptr;
};

QDialog *makeOnboardingView(AppState *state, QWidget *parent);
