#pragma once

// Removing the downloaded search models, shared by the sidebar and the settings window.

#include <QString>

#include <functional>
#include <optional>

class AppState;

// Removes the installed models; the error text when that failed.
using ModelRemover = std::function<std::optional<QString>(AppState *state)>;

// Deletes the installed models through the state's search services.
ModelRemover defaultModelRemover();

// Stops indexing, removes the models and shows the outcome. The model status is refreshed
// either way: a folder removed only in part must not go on being offered for removal.
void removeInstalledModels(AppState *state, const ModelRemover &remover);
