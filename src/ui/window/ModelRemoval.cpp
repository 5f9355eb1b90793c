#include "ModelRemoval.h"

#include "library/AppState.h"
#include "library/L10n.h"

#include <QDir>

ModelRemover defaultModelRemover()
{
    return [](AppState *s) -> std::optional<QString> {
        if (!s) return std::nullopt;
        return s->removeInstalledAIModelFiles();
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
    state->showToast(L10n::text(QStringLiteral("ai.modelRemoved"), state->language()), false, false);
}
