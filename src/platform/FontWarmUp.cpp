#include "FontWarmUp.h"

#include <fontconfig/fontconfig.h>

#include <thread>

void startFontConfigurationLoad()
{
    // fontconfig sets its default configuration atomically, so the GUI thread's own first
    // call either finds this one or, if it comes first, this one is dropped.
    std::thread([] { FcInit(); }).detach();
}
