#include "ModelRemoval.h"

#include "library/AppState.h"

#include <QDir>

ModelRemover defaultModelRemover()
{
    return [](AppState *s) -> std::optional<QString> {
        const QString folder = (s ? s->supportFolder() : QString()) + "/Models";
        QDir dir(folder);
        if (dir.exists() && !dir.removeRecursively()) return QStringLiteral("Could not remove %1").arg(folder);
        return std::nullopt;
    };
}

void removeInstalledModels(AppState *state, const ModelRemover &remover)
{
    if (!state) return;
    state->stopAIIndexing();
    const std::optional<QString> error = remover ? remover(state) : std::nullopt;
    state->refreshAIModelStatus();
    if (error) {
        state->showToast(*error, true, false);
        return;
    }
    state->showToast("MobileCLIP-S2 removed", false, false);
}
