#pragma once

// For builds with AddressSanitizer only: Mesa's GL driver holds a small heap it makes while
// drawing from its own data, and is unloaded when Qt closes the display at the end, before
// the leak check runs; the heap then looks lost, from "<unknown module>". Called once the
// last window is gone (before the application object goes), this keeps every loaded DRI
// driver mapped to the end, so its data is still scanned and any report of its own names it.
#if defined(__SANITIZE_ADDRESS__)
#include <cstring>
#include <string>
#include <vector>

#include <dlfcn.h>
#include <link.h>

inline void keepGlDriversLoadedForLeakCheck()
{
    std::vector<std::string> drivers;
    dl_iterate_phdr(
        [](dl_phdr_info *info, size_t, void *out) {
            const char *name = info->dlpi_name;
            const size_t length = name ? std::strlen(name) : 0;
            if (length > 7 && std::strstr(name, "/dri/") && std::strcmp(name + length - 7, "_dri.so") == 0)
                static_cast<std::vector<std::string> *>(out)->emplace_back(name);
            return 0;
        },
        &drivers);
    // Opened outside the walk (the loader's lock is held there) and never closed, on purpose.
    for (const std::string &driver : drivers)
        ::dlopen(driver.c_str(), RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
}
#else
inline void keepGlDriversLoadedForLeakCheck() {}
#endif
