#include "search/OnDeviceSearchBackend.h"

#include "search/MobileCLIPModelManager.h"
#include "search/MobileCLIPService.h"

bool OnDeviceSearchBackend::hasMobileCLIPService() { return MobileCLIPService::shared() != nullptr; }
bool OnDeviceSearchBackend::isModelInstalled() { return MobileCLIPModelManager::isInstalled(); }
qint64 OnDeviceSearchBackend::installedSizeBytes() { return MobileCLIPModelManager::installedSizeBytes(); }
