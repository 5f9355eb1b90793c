#include "ui/inspector/InspectorPane.h"

#include "ui/inspector/InspectorPlayerView.h"

#include <QPointer>
#include <QVBoxLayout>

namespace {
constexpr const char *kInspectorProperty = "lumenkite.inspector";

// Lends the inspector to one pane; gives it back before the pane goes away, so that the
// inspector and its player survive the pane.
class InspectorPaneHolder : public QWidget {
public:
    InspectorPaneHolder(InspectorPlayerView *inspector, QWidget *parent) : QWidget(parent), m_inspector(inspector)
    {
        setObjectName("inspectorPane");
        auto *l = new QVBoxLayout(this);
        l->setContentsMargins(0, 0, 0, 0);
        // A pane dropped but not yet deleted must let go first.
        if (auto *old = dynamic_cast<InspectorPaneHolder *>(inspector->parentWidget())) old->release();
        l->addWidget(inspector);
        inspector->show();
    }
    ~InspectorPaneHolder() override { release(); }

    void release()
    {
        if (m_inspector && m_inspector->parentWidget() == this) {
            m_inspector->hide();
            m_inspector->setParent(nullptr);
        }
        m_inspector = nullptr;
    }

private:
    QPointer<InspectorPlayerView> m_inspector;
};
} // namespace

InspectorPlayerView *inspectorFor(AppState *state)
{
    if (auto *existing = state->property(kInspectorProperty).value<QObject *>())
        return static_cast<InspectorPlayerView *>(existing);
    auto *inspector = new InspectorPlayerView(state);
    state->setProperty(kInspectorProperty, QVariant::fromValue<QObject *>(inspector));
    QPointer<InspectorPlayerView> guard(inspector);
    QObject::connect(state, &QObject::destroyed, [guard] { delete guard.data(); });
    return inspector;
}

QWidget *makeInspectorPane(AppState *state, QWidget *parent)
{
    return new InspectorPaneHolder(inspectorFor(state), parent);
}
