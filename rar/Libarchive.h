// libarchive, loaded the first time an archive is read instead of with the
// program: its twelve libraries cost the installer's window half a
// millisecond of its start, and only the extraction needs them.
#pragma once

#include <archive.h>
#include <archive_entry.h>

struct Libarchive {
    decltype(&archive_read_new) read_new;
    decltype(&archive_read_free) read_free;
    decltype(&archive_read_support_format_rar) read_support_format_rar;
    decltype(&archive_read_support_format_rar5) read_support_format_rar5;
    decltype(&archive_read_open) read_open;
    decltype(&archive_read_open_memory) read_open_memory;
    decltype(&archive_read_next_header) read_next_header;
    decltype(&archive_read_data) read_data;
    decltype(&archive_read_data_block) read_data_block;
    decltype(&archive_read_data_skip) read_data_skip;
    decltype(&archive_entry_filetype) entry_filetype;
    decltype(&archive_entry_hardlink) entry_hardlink;
    decltype(&archive_entry_hardlink_utf8) entry_hardlink_utf8;
    decltype(&archive_entry_symlink) entry_symlink;
    decltype(&archive_entry_symlink_utf8) entry_symlink_utf8;
    decltype(&archive_entry_size) entry_size;
    decltype(&archive_entry_size_is_set) entry_size_is_set;
    decltype(&archive_entry_perm) entry_perm;
    decltype(&archive_entry_mtime) entry_mtime;
    decltype(&archive_entry_mtime_nsec) entry_mtime_nsec;
    decltype(&archive_entry_mtime_is_set) entry_mtime_is_set;
    decltype(&archive_entry_is_data_encrypted) entry_is_data_encrypted;

    // The library, loaded on the first call from any thread; nothing when it
    // cannot be loaded (then every archive that needs it fails to open).
    static const Libarchive* get();
};

// Frees a reader that read_new made.
struct ArchiveReaderFree {
    void operator()(archive* reader) const { Libarchive::get()->read_free(reader); }
};
