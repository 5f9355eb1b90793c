#include "ui/inspector/InspectorMediaInfo.h"

#include "ui/inspector/InspectorWidgets.h"
#include "ui/LinearTheme.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <cmath>

namespace {
const QString kDash = QStringLiteral("\u2014");

QColor withAlpha(QColor c, double a)
{
    c.setAlphaF(float(a));
    return c;
}
} // namespace

QList<MediaInfoRow> mediaInfoRows(const VideoFile &video, const std::optional<VideoMediaInfo> &info,
                                  double playerDuration, bool usingMPV, AppLanguage language)
{
    QList<MediaInfoRow> rows;
    rows.append({"meta.size", formatByteCount(video.fileSize)});

    QString duration = kDash;
    if (info && info->duration && std::isfinite(*info->duration) && *info->duration > 0)
        duration = formatDuration(*info->duration);
    else if (playerDuration > 0)
        duration = formatDuration(playerDuration);
    rows.append({"meta.duration", duration});

    const std::optional<QString> dims = info ? info->dimensionsText() : std::nullopt;
    rows.append({"meta.resolution", dims.value_or(kDash)});

    rows.append({"meta.fps", info && info->fps ? QString::number(*info->fps, 'f', 2) + " fps" : kDash});
    rows.append({"meta.codec", info && info->codec ? *info->codec : video.fileExtension});
    rows.append({"meta.player", playerEngineName(usingMPV)});

    const QLocale locale = uiLocale(language);
    rows.append({"meta.modified", formatDateTime(video.modifiedDate, locale)});
    if (video.createdDate) rows.append({"meta.created", formatDateTime(*video.createdDate, locale)});
    return rows;
}

// ---- MediaInfoGrid ----

MediaInfoGrid::MediaInfoGrid(QWidget *parent) : QWidget(parent)
{
    m_layout = new QVBoxLayout(this);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(0);
}

void MediaInfoGrid::setRows(const QList<MediaInfoRow> &rows, AppLanguage language)
{
    if (rows == m_rows && language == m_language && m_layout->count() > 0) return;
    m_rows = rows;
    m_language = language;
    while (QLayoutItem *item = m_layout->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    // The interface fonts here draw digits of equal width already.
    const QFont valueFont = LinearTheme::font(11.5, QFont::Medium);
    for (int i = 0; i < rows.size(); ++i) {
        if (i > 0) m_layout->addWidget(new DividerLine(this));
        auto *row = new QWidget(this);
        row->setObjectName("meta-row:" + rows[i].labelKey);
        auto *h = new QHBoxLayout(row);
        h->setContentsMargins(12, 7, 12, 7);
        auto *label = new InspectorLabel(L10n::text(rows[i].labelKey, language), LinearTheme::font(11.5, QFont::Medium),
                                      [](const LinearPalette &p) { return p.tertiaryLabel(); }, row);
        label->setObjectName("label");
        auto *value = new InspectorLabel(rows[i].value, valueFont, [](const LinearPalette &p) { return p.label(); }, row);
        value->setObjectName("value");
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        h->addWidget(label);
        h->addStretch(1);
        h->addWidget(value);
        m_layout->addWidget(row);
    }
}

// ---- InspectorActionsSection ----

namespace {
// The shortcut badge of a narrow action button is only a hint: where the pane has no room for
// it beside the whole label (the smallest window in German), the badge gives way, so the
// button never asks for more width than its icon and label.
class BadgeGivesWay : public QObject {
public:
    BadgeGivesWay(QWidget *button, QHBoxLayout *row, QWidget *icon, QLabel *title, QWidget *badge)
        : QObject(button), m_button(button), m_row(row), m_icon(icon), m_title(title), m_badge(badge)
    {
        button->installEventFilter(this);
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_button && (event->type() == QEvent::Resize || event->type() == QEvent::LayoutRequest
                                    || event->type() == QEvent::Show))
            fit();
        return false;
    }

private:
    void fit()
    {
        const QMargins m = m_row->contentsMargins();
        const int spacing = std::max(0, m_row->spacing());
        const int bare = m.left() + m.right() + m_icon->sizeHint().width() + spacing + m_title->sizeHint().width();
        // The stretch, the 2 px gap and the badge, each with the row's spacing before it.
        const int withBadge = bare + 3 * spacing + 2 + m_badge->sizeHint().width();
        if (m_button->minimumWidth() != bare)
            m_button->setMinimumWidth(bare);
        const bool room = m_button->width() >= withBadge;
        if (m_badge->isVisibleTo(m_button) != room)
            m_badge->setVisible(room);
    }

    QWidget *m_button;
    QHBoxLayout *m_row;
    QWidget *m_icon;
    QLabel *m_title;
    QWidget *m_badge;
};

PaintedButton *secondaryAction(QWidget *parent, const QString &icon, const QString &keycap, bool destructive,
                               InspectorLabel **title)
{
    auto *b = new PaintedButton(parent);
    PaletteColor fg = destructive ? PaletteColor([](const LinearPalette &p) { return p.systemRed(); })
                                  : PaletteColor([](const LinearPalette &p) { return p.label(); });
    PaintedButton::Look look;
    look.radius = 7;
    if (destructive) {
        look.fill = [](const LinearPalette &p) { return withAlpha(p.systemRed(), p.isDark() ? 0.16 : 0.10); };
        look.stroke = [](const LinearPalette &p) { return withAlpha(p.systemRed(), 0.25); };
    } else {
        look.fill = [b](const LinearPalette &) { return b->palette().color(QPalette::Base); };
        look.stroke = [](const LinearPalette &p) {
            QColor c = p.separator();
            c.setAlphaF(c.alphaF() * 0.65f);
            return c;
        };
    }
    b->setLook(look);
    QHBoxLayout *row = b->row();
    row->setContentsMargins(10, 6, 10, 6); // 6.5 in the design, whole pixels here
    row->setSpacing(6);
    auto *symbol = new SymbolView(icon, 11.5, fg, b);
    row->addWidget(symbol);
    *title = new InspectorLabel({}, LinearTheme::font(12, QFont::Medium), fg, b);
    row->addWidget(*title);
    row->addStretch(1);
    row->addSpacing(2);
    auto *badge = new KeycapBadge(keycap, b);
    row->addWidget(badge);
    new BadgeGivesWay(b, row, symbol, *title, badge);
    return b;
}
} // namespace

InspectorActionsSection::InspectorActionsSection(QWidget *parent) : QWidget(parent)
{
    initInspectorIcons();
    auto *v = new QVBoxLayout(this);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(8);

    m_trim = new PaintedButton(this);
    m_trim->setObjectName("inspector.trimMerge");
    PaintedButton::Look trimLook;
    trimLook.radius = 7;
    trimLook.fill = [](const LinearPalette &p) { return p.accentFill(); };
    trimLook.stroke = [](const LinearPalette &p) { return withAlpha(p.accent(), p.isDark() ? 0.45 : 0.35); };
    m_trim->setLook(trimLook);
    const PaletteColor accent = [](const LinearPalette &p) { return p.accent(); };
    QHBoxLayout *tr = m_trim->row();
    tr->setContentsMargins(10, 7, 10, 7);
    tr->setSpacing(7);
    tr->addWidget(new SymbolView("scissors", 12, accent, m_trim));
    m_trimTitle = new InspectorLabel({}, LinearTheme::font(12, QFont::DemiBold), accent, m_trim);
    tr->addWidget(m_trimTitle);
    tr->addStretch(1);
    tr->addWidget(new KeycapBadge("Ctrl+E", m_trim));
    v->addWidget(m_trim);

    auto *h = new QHBoxLayout;
    h->setSpacing(8);
    m_move = secondaryAction(this, "folder.badge.arrow.right", "Ctrl+M", false, &m_moveTitle);
    m_move->setObjectName("inspector.move");
    m_trash = secondaryAction(this, "trash", "Ctrl+\u232B", true, &m_trashTitle);
    m_trash->setObjectName("inspector.trash");
    m_reveal = new LinearIconButton("folder", {}, this);
    m_reveal->setObjectName("inspector.revealFinder");
    // The outline the icon button wears in this row.
    auto *revealFrame = new InspectorCard(0, 0, this);
    revealFrame->setFilled(false);
    revealFrame->setRadius(6);
    revealFrame->body()->addWidget(m_reveal);
    revealFrame->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    h->addWidget(m_move, 1);
    h->addWidget(m_trash, 1);
    h->addWidget(revealFrame);
    v->addLayout(h);

    connect(m_trim, &QAbstractButton::clicked, this, &InspectorActionsSection::trimRequested);
    connect(m_move, &QAbstractButton::clicked, this, &InspectorActionsSection::moveRequested);
    connect(m_trash, &QAbstractButton::clicked, this, &InspectorActionsSection::trashRequested);
    connect(m_reveal, &QAbstractButton::clicked, this, &InspectorActionsSection::revealRequested);
    retranslate();
}

void InspectorActionsSection::setLanguage(AppLanguage language)
{
    if (m_language == language) return;
    m_language = language;
    retranslate();
}

void InspectorActionsSection::retranslate()
{
    m_trimTitle->setText(L10n::text("inspector.trimMerge", m_language));
    m_moveTitle->setText(L10n::text("inspector.move", m_language));
    m_trashTitle->setText(L10n::text("inspector.trash", m_language));
    m_reveal->setToolTip(L10n::text("inspector.revealFinder", m_language));
}

// ---- InspectorEmptyState ----

InspectorEmptyState::InspectorEmptyState(QWidget *parent) : QWidget(parent)
{
    initInspectorIcons();
    auto *v = new QVBoxLayout(this);
    v->setSpacing(10);
    v->addStretch(1);
    auto *icon = new SymbolView("play.rectangle.on.rectangle", 28, [](const LinearPalette &p) { return p.tertiaryLabel(); },
                                this);
    v->addWidget(icon, 0, Qt::AlignHCenter);
    m_title = new InspectorLabel({}, LinearTheme::font(13, QFont::DemiBold), [](const LinearPalette &p) { return p.label(); },
                              this);
    m_title->setObjectName("inspector.noSelection");
    v->addWidget(m_title, 0, Qt::AlignHCenter);
    m_subtitle = new InspectorLabel({}, LinearTheme::font(11.5), [](const LinearPalette &p) { return p.secondaryLabel(); },
                                 this);
    m_subtitle->setObjectName("inspector.noSelectionSub");
    m_subtitle->setWordWrap(true);
    m_subtitle->setAlignment(Qt::AlignHCenter);
    m_subtitle->setMaximumWidth(230);
    v->addWidget(m_subtitle, 0, Qt::AlignHCenter);
    v->addStretch(1);
    setLanguage(AppLanguage::en);
}

void InspectorEmptyState::setLanguage(AppLanguage language)
{
    m_title->setText(L10n::text("inspector.noSelection", language));
    m_subtitle->setText(L10n::text("inspector.noSelectionSub", language));
}
