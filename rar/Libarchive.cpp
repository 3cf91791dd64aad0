#include "Libarchive.h"

#include <dlfcn.h>

namespace {

template <typename Function>
bool find(void* library, Function& function, const char* name)
{
    function = reinterpret_cast<Function>(::dlsym(library, name));
    return function != nullptr;
}

Libarchive* load()
{
    // Loaded once and kept: the functions are called until the program ends.
    void* library = ::dlopen("libarchive.so.13", RTLD_NOW | RTLD_LOCAL);
    if (!library)
        return nullptr;
    static Libarchive la;
    const bool complete = find(library, la.read_new, "archive_read_new")
        && find(library, la.read_free, "archive_read_free")
        && find(library, la.read_support_format_rar, "archive_read_support_format_rar")
        && find(library, la.read_support_format_rar5, "archive_read_support_format_rar5")
        && find(library, la.read_open, "archive_read_open")
        && find(library, la.read_open_memory, "archive_read_open_memory")
        && find(library, la.read_next_header, "archive_read_next_header")
        && find(library, la.read_data, "archive_read_data")
        && find(library, la.read_data_block, "archive_read_data_block")
        && find(library, la.read_data_skip, "archive_read_data_skip")
        && find(library, la.entry_filetype, "archive_entry_filetype")
        && find(library, la.entry_hardlink, "archive_entry_hardlink")
        && find(library, la.entry_hardlink_utf8, "archive_entry_hardlink_utf8")
        && find(library, la.entry_symlink, "archive_entry_symlink")
        && find(library, la.entry_symlink_utf8, "archive_entry_symlink_utf8")
        && find(library, la.entry_size, "archive_entry_size")
        && find(library, la.entry_size_is_set, "archive_entry_size_is_set")
        && find(library, la.entry_perm, "archive_entry_perm")
        && find(library, la.entry_mtime, "archive_entry_mtime")
        && find(library, la.entry_mtime_nsec, "archive_entry_mtime_nsec")
        && find(library, la.entry_mtime_is_set, "archive_entry_mtime_is_set")
        && find(library, la.entry_is_data_encrypted, "archive_entry_is_data_encrypted");
    return complete ? &la : nullptr;
}

}

const Libarchive* Libarchive::get()
{
    static Libarchive* const loaded = load();
    return loaded;
}
