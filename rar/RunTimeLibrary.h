// A library loaded when it is first needed instead of with the program, and
// the functions looked up in it. It lives in the lowest of the project's
// libraries so that every layer can load its own this way.
#pragma once

#include <dlfcn.h>
#include <string>
#include <utility>

class RunTimeLibrary {
public:
    // Loads `file`. Never unloaded: what it hands out and what it starts
    // (threads, handlers) are used until the program ends. `shownAs` names
    // it where why() tells of a missing function.
    RunTimeLibrary(const char* file, std::string shownAs)
        : m_handle(::dlopen(file, RTLD_NOW | RTLD_LOCAL))
        , m_shownAs(std::move(shownAs))
    {
        if (!m_handle) {
            const char* error = ::dlerror();
            m_why = error ? error : std::string(file) + " not found";
        }
    }

    // Sets `function` to the library's function `name`; false when the
    // library did not load or has no such function.
    template <typename Function>
    bool find(Function& function, const char* name)
    {
        function = m_handle ? reinterpret_cast<Function>(::dlsym(m_handle, name)) : nullptr;
        if (!function && m_handle)
            m_why = m_shownAs + " has no " + name;
        return function != nullptr;
    }

    // Why the library, or the last function asked for, is missing; empty
    // while nothing is.
    const std::string& why() const { return m_why; }

private:
    void* m_handle;
    std::string m_shownAs;
    std::string m_why;
};
