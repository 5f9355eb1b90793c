#include "ui/Availability.h"

#include "library/AppState.h"

namespace Availability {
namespace {
const char *propertyName(View view)
{
    switch (view) {
    case View::moveSheet: return "lumenkite.available.moveSheet";
    case View::editorSheet: return "lumenkite.available.editorSheet";
    case View::duplicatesSheet: return "lumenkite.available.duplicatesSheet";
    case View::batchCompressSheet: return "lumenkite.available.batchCompressSheet";
    case View::storageInsightsSheet: return "lumenkite.available.storageInsightsSheet";
    case View::onboarding: return "lumenkite.available.onboarding";
    case View::commandPalette: return "lumenkite.available.commandPalette";
    case View::settings: return "lumenkite.available.settings";
    }
    return "";
}
} // namespace

void setAvailable(AppState *state, View view, bool available)
{
    if (state) state->setProperty(propertyName(view), available);
}

bool isAvailable(const AppState *state, View view)
{
    return state && state->property(propertyName(view)).toBool();
}

} // namespace Availability
