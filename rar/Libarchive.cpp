#include "Libarchive.h"

#include "RunTimeLibrary.h"

namespace {

Libarchive* load()
{
    RunTimeLibrary library("libarchive.so.13", "libarchive");
    static Libarchive la;
    const bool complete = library.find(la.read_new, "archive_read_new")
        && library.find(la.read_free, "archive_read_free")
        && library.find(la.read_support_format_rar, "archive_read_support_format_rar")
        && library.find(la.read_support_format_rar5, "archive_read_support_format_rar5")
        && library.find(la.read_open, "archive_read_open")
        && library.find(la.read_open_memory, "archive_read_open_memory")
        && library.find(la.read_next_header, "archive_read_next_header")
        && library.find(la.read_data, "archive_read_data")
        && library.find(la.read_data_block, "archive_read_data_block")
        && library.find(la.read_data_skip, "archive_read_data_skip")
        && library.find(la.entry_filetype, "archive_entry_filetype")
        && library.find(la.entry_hardlink, "archive_entry_hardlink")
        && library.find(la.entry_hardlink_utf8, "archive_entry_hardlink_utf8")
        && library.find(la.entry_symlink, "archive_entry_symlink")
        && library.find(la.entry_symlink_utf8, "archive_entry_symlink_utf8")
        && library.find(la.entry_size, "archive_entry_size")
        && library.find(la.entry_size_is_set, "archive_entry_size_is_set")
        && library.find(la.entry_perm, "archive_entry_perm")
        && library.find(la.entry_mtime, "archive_entry_mtime")
        && library.find(la.entry_mtime_nsec, "archive_entry_mtime_nsec")
        && library.find(la.entry_mtime_is_set, "archive_entry_mtime_is_set")
        && library.find(la.entry_is_data_encrypted, "archive_entry_is_data_encrypted");
    return complete ? &la : nullptr;
}

}

const Libarchive* Libarchive::get()
{
    static Libarchive* const loaded = load();
    return loaded;
}
