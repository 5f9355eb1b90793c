#include "SettingsView.h"

#include "library/AppState.h"
#include "library/L10n.h"
#include "media/LibMPVLibrary.h"
#include "ui/LinearTheme.h"
#include "ui/palette/PaletteModel.h"
#include "ui/window/MissingTools.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QTabWidget>

namespace {

QLabel *valueLabel(QWidget *parent)
{
    auto *l = new QLabel(parent);
    l->setFont(LinearTheme::font(11.5));
    l->setForegroundRole(QPalette::PlaceholderText);
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return l;
}

QFormLayout *groupedForm(QWidget *page)
{
    auto *form = new QFormLayout(page);
    form->setContentsMargins(20, 16, 20, 16);
    form->setHorizontalSpacing(16);
    form->setVerticalSpacing(10);
    form->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    return form;
}

} // namespace

QString SettingsView::nativeEngineText() { return QStringLiteral("Qt Multimedia + GStreamer"); }

QString SettingsView::codecsText(bool libmpvLoaded, AppLanguage language)
{
    return L10n::text(QLatin1String(libmpvLoaded ? "settings.codecsFound" : "settings.codecsNative"), language);
}

QString SettingsView::speechText(AppLanguage language)
{
    return L10n::text(QStringLiteral("settings.speechOffline"), language);
}

SettingsView::SettingsView(AppState *state, QWidget *parent) : QWidget(parent), m_state(state), m_remover(defaultModelRemover())
{
    setObjectName("settingsView");
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName("settingsTabs");
    // Wider lists (the tools the app could not find) may make it taller.
    m_tabs->setFixedWidth(480);
    m_tabs->setMinimumHeight(310);
    outer->addWidget(m_tabs);

    // General.
    auto *general = new QWidget;
    general->setObjectName("settingsGeneral");
    m_generalForm = groupedForm(general);
    m_language = new QComboBox(general);
    m_language->setObjectName("settingsLanguage");
    for (AppLanguage l : AppLanguageInfo::allCases()) m_language->addItem(AppLanguageInfo::menuLabel(l));
    m_appearance = new QComboBox(general);
    m_appearance->setObjectName("settingsAppearance");
    for (int i = 0; i < AppAppearanceInfo::allCases().size(); ++i) m_appearance->addItem(QString());
    m_photos = new QCheckBox(general);
    m_photos->setObjectName("settingsPhotos");
    m_compact = new QCheckBox(general);
    m_compact->setObjectName("settingsCompact");
    auto *native = valueLabel(general);
    native->setText(nativeEngineText());
    m_codecs = valueLabel(general);
    m_codecs->setObjectName("settingsCodecs");
    m_generalForm->addRow(new QLabel(general), m_language);
    m_generalForm->addRow(new QLabel(general), m_appearance);
    m_generalForm->addRow(m_photos);
    m_generalForm->addRow(m_compact);
    m_native = native;
    m_generalForm->addRow(new QLabel(general), native);
    m_generalForm->addRow(new QLabel(general), m_codecs);
    m_missingTools = valueLabel(general);
    m_missingTools->setObjectName("settingsMissingTools");
    m_missingTools->setWordWrap(true);
    m_missingTools->setForegroundRole(QPalette::WindowText);
    m_generalForm->addRow(new QLabel(general), m_missingTools);
    m_tabs->addTab(general, LinearTheme::symbol("gearshape"), QString());

    // Visual & speech search.
    auto *ai = new QWidget;
    ai->setObjectName("settingsAI");
    m_aiForm = groupedForm(ai);
    m_engine = valueLabel(ai);
    m_engine->setObjectName("settingsEngine");
    auto *modelRow = new QWidget(ai);
    auto *mr = new QHBoxLayout(modelRow);
    mr->setContentsMargins(0, 0, 0, 0);
    mr->setSpacing(8);
    m_modelSize = new QLabel(modelRow);
    m_modelSize->setObjectName("settingsModelSize");
    m_modelSize->setForegroundRole(QPalette::PlaceholderText);
    m_removeButton = new QPushButton(modelRow);
    m_removeButton->setObjectName("settingsRemoveModel");
    m_downloadButton = new QPushButton(modelRow);
    m_downloadButton->setObjectName("settingsDownloadModel");
    m_downloadButton->setDefault(true);
    mr->addWidget(m_modelSize);
    mr->addWidget(m_removeButton);
    mr->addWidget(m_downloadButton);
    mr->addStretch(1);
    m_indexed = new QLabel(ai);
    m_indexed->setObjectName("settingsIndexed");
    m_indexed->setFont(LinearTheme::font(12, QFont::Normal, LinearTheme::Design::monospaced));
    auto *speech = valueLabel(ai);
    m_modelRow = modelRow;
    m_speech = speech;
    m_aiForm->addRow(new QLabel(ai), m_engine);
    m_aiForm->addRow(new QLabel(ai), modelRow);
    m_aiForm->addRow(new QLabel(ai), m_indexed);
    m_aiForm->addRow(new QLabel(ai), speech);
    m_tabs->addTab(ai, LinearTheme::symbol("sparkle.magnifyingglass"), QString());

    if (m_state) {
        connect(m_language, &QComboBox::activated, this, [this](int i) {
            // Choosing the current language again still writes it.
            m_state->setLanguage(AppLanguageInfo::allCases().value(i));
        });
        connect(m_appearance, &QComboBox::activated, this,
                [this](int i) { m_state->setAppearance(AppAppearanceInfo::allCases().value(i)); });
        connect(m_photos, &QCheckBox::clicked, this, [this](bool on) { m_state->setIncludePhotosLibrary(on); });
        connect(m_compact, &QCheckBox::clicked, this, [this](bool on) { m_state->setCompactSingleChildFolders(on); });
        connect(m_downloadButton, &QPushButton::clicked, this, &SettingsView::download);
        connect(m_removeButton, &QPushButton::clicked, this, &SettingsView::remove);
        for (auto signal : {&AppState::languageChanged, &AppState::appearanceChanged, &AppState::includePhotosLibraryChanged,
                            &AppState::compactSingleChildFoldersChanged, &AppState::aiEngineStatusChanged,
                            &AppState::isMobileCLIPInstalledChanged, &AppState::aiModelInstalledSizeTextChanged,
                            &AppState::aiModelDownloadErrorChanged,
                            &AppState::allVideosChanged, &AppState::aiIndexEntriesChanged})
            connect(m_state, signal, this, &SettingsView::refresh);
    }
    // Escape closes the window, as it closes the sheets.
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setObjectName("settingsEscape");
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, this, [this] { window()->close(); });
    refresh();
}

void SettingsView::refresh()
{
    if (!m_state) return;
    const AppLanguage lang = m_state->language();
    const auto t = [lang](const char *key) { return L10n::text(QString::fromLatin1(key), lang); };
    // Tab texts take "&" as a mnemonic mark: a literal one is doubled.
    m_tabs->setTabText(0, t("settings.general").replace('&', "&&"));
    m_tabs->setTabText(1, t("settings.ai").replace('&', "&&"));
    m_language->setCurrentIndex(int(AppLanguageInfo::allCases().indexOf(lang)));
    const auto &appearances = AppAppearanceInfo::allCases();
    for (int i = 0; i < appearances.size(); ++i)
        m_appearance->setItemText(i, L10n::text(AppAppearanceInfo::titleKey(appearances[i]), lang));
    m_appearance->setCurrentIndex(int(appearances.indexOf(m_state->appearance())));
    if (auto *label = qobject_cast<QLabel *>(m_generalForm->labelForField(m_language))) label->setText(t("menu.language"));
    if (auto *label = qobject_cast<QLabel *>(m_generalForm->labelForField(m_appearance))) label->setText(t("toolbar.theme"));
    m_photos->setText(t("sidebar.photosLibrary"));
    m_photos->setChecked(m_state->includePhotosLibrary());
    // The label says the state the box shows.
    m_compact->setChecked(m_state->compactSingleChildFolders());
    m_compact->setText(t(m_state->compactSingleChildFolders() ? "toolbar.compactOn" : "toolbar.compactOff"));
    const auto label = [](QFormLayout *form, QWidget *field, const QString &text) {
        if (auto *l = qobject_cast<QLabel *>(form->labelForField(field))) l->setText(text);
    };
    label(m_generalForm, m_native, t("settings.nativeEngine"));
    label(m_generalForm, m_codecs, t("settings.codecs"));
    label(m_aiForm, m_engine, t("settings.visualEngine"));
    label(m_aiForm, m_modelRow, t("settings.model"));
    label(m_aiForm, m_indexed, t("settings.indexedVideos"));
    label(m_aiForm, m_speech, t("settings.speech"));
    m_codecs->setText(codecsText(LibMPVLibrary::shared() != nullptr, lang));
    m_speech->setText(speechText(lang));
    const QStringList missing = MissingTools::messages(MissingTools::probe(), lang);
    m_missingTools->setText(missing.join(QLatin1Char('\n')));
    if (auto *label = qobject_cast<QLabel *>(m_generalForm->labelForField(m_missingTools)))
        label->setText(t("tools.missingTitle"));
    m_generalForm->setRowVisible(m_missingTools, !missing.isEmpty());

    m_engine->setText(PaletteModel::engineName(*m_state));
    const bool installed = m_state->isMobileCLIPInstalled();
    m_modelSize->setVisible(installed);
    m_removeButton->setVisible(installed);
    m_downloadButton->setVisible(!installed);
    m_modelSize->setText(m_state->aiModelInstalledSizeText().value_or(t("settings.installed")));
    m_removeButton->setText(t("ai.removeModel"));
    const QString &downloadError = m_state->aiModelDownloadError();
    m_downloadButton->setText(t(downloadError.isEmpty() ? "ai.downloadShort" : "ai.retry"));
    m_downloadButton->setToolTip(downloadError);
    m_indexed->setText(QString::number(m_state->indexedVideoCount()) + QStringLiteral(" / ") +
                       QString::number(m_state->allVideos().size()));
}

void SettingsView::download()
{
    if (m_state) m_state->downloadAIModel();
}

void SettingsView::remove() { removeInstalledModels(m_state, m_remover); }

QWidget *makeSettingsView(AppState *state) { return new SettingsView(state); }
