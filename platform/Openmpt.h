// libopenmpt, the music decoder, loaded on first use instead of with the
// program: it and the four libraries it pulls in (mpg123, Vorbis, Ogg) cost
// the installer's start a millisecond before its first line of code runs.
#pragma once

#include <libopenmpt/libopenmpt.h>

struct Openmpt {
    decltype(&openmpt_probe_file_header) probe_file_header;
    decltype(&openmpt_module_create_from_memory2) module_create_from_memory2;
    decltype(&openmpt_module_destroy) module_destroy;
    decltype(&openmpt_module_set_repeat_count) module_set_repeat_count;
    decltype(&openmpt_module_set_position_order_row) module_set_position_order_row;
    decltype(&openmpt_module_read_interleaved_stereo) module_read_interleaved_stereo;

    // The library, loaded on the first call from any thread (a call made
    // while another thread loads it waits for that); nothing when it cannot
    // be loaded, and then why() says why.
    static const Openmpt* get();
    static const char* why();
};
