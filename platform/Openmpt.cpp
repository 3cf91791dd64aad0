#include "Openmpt.h"

#include <dlfcn.h>
#include <string>

namespace {

constexpr const char* LibraryName = "libopenmpt.so.0";

std::string& failure()
{
    static std::string text;
    return text;
}

template <typename Function>
bool find(void* library, Function& function, const char* name)
{
    function = reinterpret_cast<Function>(::dlsym(library, name));
    if (!function)
        failure() = std::string(LibraryName) + " has no " + name;
    return function != nullptr;
}

Openmpt* load()
{
    // Loaded once and kept: the audio thread decodes until the program ends.
    void* library = ::dlopen(LibraryName, RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char* error = ::dlerror();
        failure() = error ? error : std::string(LibraryName) + " not found";
        return nullptr;
    }
    static Openmpt mpt;
    const bool complete = find(library, mpt.probe_file_header, "openmpt_probe_file_header")
        && find(library, mpt.module_create_from_memory2, "openmpt_module_create_from_memory2")
        && find(library, mpt.module_destroy, "openmpt_module_destroy")
        && find(library, mpt.module_set_repeat_count, "openmpt_module_set_repeat_count")
        && find(library, mpt.module_set_position_order_row, "openmpt_module_set_position_order_row")
        && find(library, mpt.module_read_interleaved_stereo, "openmpt_module_read_interleaved_stereo");
    return complete ? &mpt : nullptr;
}

}

const Openmpt* Openmpt::get()
{
    static Openmpt* const loaded = load();
    return loaded;
}

const char* Openmpt::why()
{
    return get() ? "" : failure().c_str();
}
