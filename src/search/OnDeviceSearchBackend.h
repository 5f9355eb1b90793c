#pragma once

// The on-device search services as the application state reads them: the shared CLIP
// service and the installed models.

#include "library/AppServices.h"

class OnDeviceSearchBackend : public OnDeviceSearchServices
{
public:
    bool hasMobileCLIPService() override;
    bool isModelInstalled() override;
    qint64 installedSizeBytes() override;
};
