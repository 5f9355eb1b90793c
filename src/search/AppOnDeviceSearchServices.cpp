#include "AppOnDeviceSearchServices.h"

#include "VisualSearchService.h"

VisualIndexMap AppOnDeviceSearchServices::visualIndex() { return VisualSearchService::shared().indexByVideoID(); }
