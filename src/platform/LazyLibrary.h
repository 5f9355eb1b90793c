#pragma once

// A shared library opened on the first call of one of its functions instead of at start.
// The program defines each function it calls under the library's own name (see
// `LK_FORWARD`); the definition looks the real one up in the library once and calls it.
// Linked directly, such a library and everything it links would be loaded before the
// first window even when nothing needs them until later.
//
// The definitions must match the library's header, which the compiler checks; a function
// called anywhere in the program but given no definition fails the link ("undefined
// reference"): add it beside the others. The program exports none of these definitions, so
// a library that links the real one (libmpv links FFmpeg) binds to the real one.

#include <QtGlobal>

#include <mutex>

#include <dlfcn.h>

class LazyLibrary
{
public:
    explicit constexpr LazyLibrary(const char *soname) : m_soname(soname) {}

    // Opened once and kept for the program's life: what its functions made may outlive any
    // owner we could name. Without it the program cannot go on, as when the loader misses
    // a linked library at start; the message names the one missing.
    void *handle()
    {
        std::call_once(m_once, [this] {
            m_handle = ::dlopen(m_soname, RTLD_NOW | RTLD_LOCAL);
            if (!m_handle) qFatal("cannot load %s: %s", m_soname, ::dlerror());
        });
        return m_handle;
    }

    template <typename F>
    F resolve(const char *symbol)
    {
        void *found = ::dlsym(handle(), symbol);
        if (!found) qFatal("%s has no %s", m_soname, symbol);
        return reinterpret_cast<F>(found);
    }

private:
    const char *m_soname;
    std::once_flag m_once;
    void *m_handle = nullptr;
};

// The body of a forwarding definition of `name`: the real function, looked up on the first
// call, called with the arguments.
#define LK_FORWARD(library, name, ...)                                                         \
    static const auto real = (library).resolve<decltype(&name)>(#name);                        \
    return real(__VA_ARGS__)

// The same for a C++ function, looked up by its mangled name.
#define LK_FORWARD_MANGLED(library, name, mangled, ...)                                        \
    static const auto real = (library).resolve<decltype(&name)>(mangled);                      \
    return real(__VA_ARGS__)
