#include "OnboardingView.h"

#include "library/AppState.h"
#include "library/L10n.h"
#include "ui/Controls.h"
#include "ui/LinearTheme.h"

#include <QApplication>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QSet>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// A symbol on a faint square of its tint.
class FeatureIcon : public QWidget {
public:
    FeatureIcon(const QString &symbol, QColor tint, QWidget *parent) : QWidget(parent), m_symbol(symbol), m_tint(tint)
    {
        setFixedSize(36, 36);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QColor fill = m_tint;
        fill.setAlphaF(0.12);
        p.fillPath(LinearTheme::roundedRect(rect(), 9), fill);
        LinearTheme::drawSymbol(p, QRectF(9.5, 9.5, 17, 17), m_symbol, m_tint);
    }

private:
    QString m_symbol;
    QColor m_tint;
};

} // namespace

// The sheet's width less the list's margins, the symbol and the spacing after it.
constexpr int kDetailWidth = 540 - 2 * 40 - 36 - 14;

OnboardingView::OnboardingView(AppState *state, QWidget *parent) : QDialog(parent), m_state(state)
{
    setAutoFillBackground(true);
    build();
    if (m_state)
        connect(m_state, &AppState::languageChanged, this, [this] {
            // Everything is redrawn in the new language.
            QTimer::singleShot(0, this, &OnboardingView::build);
        });
}

void OnboardingView::build()
{
    // Keep the picker's focus across a rebuild, so the keyboard stays where it was.
    const bool pickerHadFocus = m_language && m_language->hasFocus();
    QSet<QObject *> previous;
    if (QLayout *old = layout()) {
        for (QObject *child : children())
            if (child->isWidgetType()) {
                previous.insert(child);
                static_cast<QWidget *>(child)->hide();
                child->deleteLater();
            }
        delete old;
    }
    const AppLanguage lang = m_state ? m_state->language() : AppLanguage::en;
    const auto t = [lang](const char *key) { return L10n::text(QString::fromLatin1(key), lang); };
    const LinearPalette lp = LinearPalette::of(this);

    auto *root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    auto *langRow = new QHBoxLayout;
    langRow->setContentsMargins(20, 16, 20, 0);
    langRow->addStretch(1);
    m_language = new QComboBox(this);
    m_language->setObjectName("onboardingLanguage");
    m_language->setFixedWidth(150);
    for (AppLanguage l : AppLanguageInfo::allCases()) m_language->addItem(AppLanguageInfo::menuLabel(l));
    m_language->setCurrentIndex(int(AppLanguageInfo::allCases().indexOf(lang)));
    connect(m_language, &QComboBox::activated, this, [this](int i) {
        if (m_state) m_state->setLanguage(AppLanguageInfo::allCases().value(i));
    });
    langRow->addWidget(m_language);
    root->addLayout(langRow);

    auto *header = new QVBoxLayout;
    header->setContentsMargins(0, 8, 0, 26);
    header->setSpacing(12);
    auto *icon = new QLabel(this);
    icon->setObjectName("onboardingIcon");
    icon->setPixmap(QApplication::windowIcon().pixmap(78, 78));
    if (icon->pixmap().isNull()) icon->setPixmap(QIcon(":/lumenkite/icons/app.svg").pixmap(78, 78));
    icon->setAlignment(Qt::AlignCenter);
    // Never squeezed: a label's pixmap is cut, not scaled, when it gets less room.
    icon->setFixedSize(540, 78);
    header->addWidget(icon);
    auto *title = new ThemedLabel(t("onb.welcome"), LinearTheme::font(24, QFont::Bold), Tone::label, this);
    title->setObjectName("onboardingTitle");
    title->setAlignment(Qt::AlignCenter);
    header->addWidget(title);
    auto *subtitle = new ThemedLabel(t("onb.subtitle"), LinearTheme::font(13.5), Tone::secondary, this);
    subtitle->setObjectName("onboardingSubtitle");
    subtitle->setWordWrap(true);
    subtitle->setAlignment(Qt::AlignCenter);
    // Wrapped texts get the height of all their lines at the width they have.
    subtitle->setFixedWidth(420);
    subtitle->setMinimumHeight(subtitle->heightForWidth(420));
    header->addWidget(subtitle, 0, Qt::AlignHCenter);
    root->addLayout(header);

    struct Feature {
        const char *symbol;
        QColor tint;
        const char *title, *detail;
    };
    const Feature features[] = {
        {"list.bullet.indent", lp.systemBlue(), "onb.f1.title", "onb.f1.desc"},
        {"scissors", lp.systemOrange(), "onb.f2.title", "onb.f2.desc"},
        {"text.viewfinder", lp.systemGreen(), "onb.f3.title", "onb.f3.desc"},
    };
    auto *list = new QVBoxLayout;
    list->setContentsMargins(40, 0, 40, 0);
    list->setSpacing(18);
    for (const Feature &f : features) {
        auto *row = new QHBoxLayout;
        row->setSpacing(14);
        row->addWidget(new FeatureIcon(QString::fromLatin1(f.symbol), f.tint, this), 0, Qt::AlignTop);
        auto *texts = new QVBoxLayout;
        texts->setSpacing(3);
        texts->addWidget(new ThemedLabel(t(f.title), LinearTheme::font(13.5, QFont::DemiBold), Tone::label, this));
        auto *detail = new ThemedLabel(t(f.detail), LinearTheme::font(12), Tone::secondary, this);
        detail->setObjectName(QString::fromLatin1(f.detail));
        // Long texts wrap instead of being cut.
        detail->setWordWrap(true);
        detail->setMinimumHeight(detail->heightForWidth(kDetailWidth));
        texts->addWidget(detail);
        row->addLayout(texts, 1);
        list->addLayout(row);
    }
    root->addLayout(list);
    root->addStretch(1);
    root->addSpacing(24);

    auto *divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Plain);
    root->addWidget(divider);

    auto *buttons = new QHBoxLayout;
    buttons->setContentsMargins(24, 16, 24, 16);
    buttons->setSpacing(12);
    m_choose = new QPushButton(t("onb.chooseFolder"), this);
    m_choose->setObjectName("onboardingChooseFolder");
    m_choose->setAutoDefault(false);
    m_start = new QPushButton(t("onb.getStarted"), this);
    m_start->setObjectName("onboardingGetStarted");
    m_start->setDefault(true);
    for (QPushButton *b : {m_choose, m_start}) b->setMinimumHeight(32);
    connect(m_choose, &QPushButton::clicked, this, &OnboardingView::chooseFolder);
    connect(m_start, &QPushButton::clicked, this, &OnboardingView::getStarted);
    buttons->addWidget(m_choose);
    buttons->addStretch(1);
    buttons->addWidget(m_start);
    root->addLayout(buttons);
    // 540 x 470, taller where a language's texts need more lines: wrapped texts are never cut.
    // Widgets made while the sheet is shown stay hidden until shown, and a layout leaves
    // hidden widgets out of its size: shown now, the new language's rows are all measured.
    if (isVisible())
        for (QObject *child : children())
            if (child->isWidgetType() && !previous.contains(child)) static_cast<QWidget *>(child)->show();
    root->activate();
    setFixedSize(540, std::max(470, root->minimumSize().height()));
    if (pickerHadFocus) m_language->setFocus();
}

void OnboardingView::chooseFolder()
{
    QPointer<AppState> state = m_state;
    if (state) state->completeOnboarding();
    accept();
    // The folder chooser comes up once the sheet has gone.
    if (state) QTimer::singleShot(0, state, [state] { state->addCustomFolder(); });
}

void OnboardingView::getStarted()
{
    if (m_state) m_state->completeOnboarding();
    accept();
}

QDialog *makeOnboardingView(AppState *state, QWidget *parent) { return new OnboardingView(state, parent); }
