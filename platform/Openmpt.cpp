#include "Openmpt.h"

#include "RunTimeLibrary.h"

namespace {

RunTimeLibrary& library()
{
    static RunTimeLibrary loaded("libopenmpt.so.0", "libopenmpt.so.0");
    return loaded;
}

Openmpt* load()
{
    RunTimeLibrary& openmpt = library();
    static Openmpt mpt;
    const bool complete = openmpt.find(mpt.probe_file_header, "openmpt_probe_file_header")
        && openmpt.find(mpt.module_create_from_memory2, "openmpt_module_create_from_memory2")
        && openmpt.find(mpt.module_destroy, "openmpt_module_destroy")
        && openmpt.find(mpt.module_set_repeat_count, "openmpt_module_set_repeat_count")
        && openmpt.find(mpt.module_set_position_order_row, "openmpt_module_set_position_order_row")
        && openmpt.find(mpt.module_read_interleaved_stereo, "openmpt_module_read_interleaved_stereo");
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
    return get() ? "" : library().why().c_str();
}
