#include "Midas.h"

#include <SDL.h>
#include <libopenmpt/libopenmpt.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <ostream>
#include <system_error>
#include <thread>
#include <vector>

namespace {

constexpr int OutputRate = 44100;
constexpr int OutputChannels = 2;
constexpr unsigned DefaultPollRate = 20;

struct LoadedModule {
    // libopenmpt keeps writing its load warnings here; a stream without a
    // buffer drops them, so decoding odd files does not litter stderr.
    std::ostream log { nullptr };

    // The decoder is built on the module's own thread: that takes a few
    // milliseconds, and the first time in a process over ten (libopenmpt
    // computes its resampling tables), which the program's start need not
    // wait for. Until it is there the module plays silence.
    std::mutex lock;
    std::unique_ptr<openmpt::module> decoder; // guarded by lock
    bool playRequested = false;               // guarded by lock
    bool loopSong = false;                    // guarded by lock
    std::thread builder;

    ~LoadedModule()
    {
        if (builder.joinable())
            builder.join();
    }

    // Under the lock: start from the beginning, repeating or not.
    void rewind()
    {
        decoder->set_repeat_count(loopSong ? -1 : 0);
        decoder->set_position_order_row(0, 0);
    }
};

struct Library {
    bool initialised = false;
    // Whether SDL's audio subsystem counts us as a user (SDL_InitSubSystem),
    // or we started its silent driver by hand (SDL_AudioInit).
    bool subsystemStarted = false;
    bool dummyStartedByHand = false;
    SDL_AudioDeviceID device = 0;

    std::vector<std::unique_ptr<LoadedModule>> modules;
    // Read by the audio callback; changed only under the device's lock.
    LoadedModule* playing = nullptr;
    MIDASmodulePlayHandle playHandle = 0;
    MIDASmodulePlayHandle nextPlayHandle = 1;

    int lastError = MIDAS_OK;
    std::string lastDetail;
    std::string message;
    std::function<void(const std::string&)> observer;

    ~Library();
};

Library& library()
{
    static Library instance;
    return instance;
}

void observe(const std::string& call)
{
    if (library().observer)
        library().observer(call);
}

std::string hex(const void* pointer)
{
    if (!pointer)
        return "0";
    char text[32];
    std::snprintf(text, sizeof text, "%p", pointer);
    return text;
}

bool succeed()
{
    library().lastError = MIDAS_OK;
    library().lastDetail.clear();
    return true;
}

bool fail(int error, std::string detail = {})
{
    library().lastError = error;
    library().lastDetail = std::move(detail);
    return false;
}

void SDLCALL render(void* userdata, Uint8* stream, int length)
{
    auto* lib = static_cast<Library*>(userdata);
    const size_t frameBytes = sizeof(std::int16_t) * OutputChannels;
    const size_t frames = size_t(length) / frameBytes;
    size_t rendered = 0;
    if (LoadedModule* playing = lib->playing) {
        const std::lock_guard<std::mutex> guard(playing->lock);
        if (playing->decoder) {
            try {
                rendered = playing->decoder->read_interleaved_stereo(OutputRate, frames, reinterpret_cast<std::int16_t*>(stream));
            } catch (...) {
                // Nothing may leave SDL's thread; a failing decoder just goes quiet.
                rendered = 0;
            }
        }
    }
    // A song that ended (played without the loop flag) or no song: silence.
    std::memset(stream + rendered * frameBytes, 0, size_t(length) - rendered * frameBytes);
}

// Buffers per second to a buffer size SDL accepts: a power of two.
Uint16 bufferFrames(unsigned pollRate)
{
    const unsigned rate = pollRate ? pollRate : DefaultPollRate;
    unsigned frames = 256;
    while (frames * 2 <= unsigned(OutputRate) / rate && frames < 8192)
        frames *= 2;
    return Uint16(frames);
}

std::vector<std::unique_ptr<LoadedModule>>::iterator findModule(MIDASmodule module)
{
    auto& modules = library().modules;
    return std::find_if(modules.begin(), modules.end(), [module](const auto& m) { return m.get() == module; });
}

// Changes what the audio callback plays, without racing it.
void setPlaying(LoadedModule* module, MIDASmodulePlayHandle handle)
{
    Library& lib = library();
    if (lib.device)
        SDL_LockAudioDevice(lib.device);
    lib.playing = module;
    lib.playHandle = handle;
    if (lib.device)
        SDL_UnlockAudioDevice(lib.device);
}

void closeDevice()
{
    Library& lib = library();
    if (lib.device) {
        SDL_CloseAudioDevice(lib.device); // waits for the audio thread to end
        lib.device = 0;
    }
}

void shutDown()
{
    Library& lib = library();
    closeDevice();
    lib.playing = nullptr;
    lib.playHandle = 0;
    lib.modules.clear();
    if (lib.subsystemStarted)
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    else if (lib.dummyStartedByHand)
        SDL_AudioQuit();
    lib.subsystemStarted = false;
    lib.dummyStartedByHand = false;
    lib.initialised = false;
}

Library::~Library()
{
    // A program that never closed the library must not have the audio
    // thread read a module while it is destroyed.
    shutDown();
}

bool audioDriverChosen()
{
    const char* chosen = SDL_GetHint(SDL_HINT_AUDIODRIVER);
    return chosen && *chosen;
}

}

bool MIDASstartup()
{
    observe("MIDASstartup()");
    return succeed();
}

bool MIDASinit()
{
    observe("MIDASinit()");
    Library& lib = library();
    if (lib.initialised)
        return succeed();
    // SDL's audio brings up its event system, which would turn SIGINT and
    // SIGTERM into quit events nobody reads: the program could not be
    // ended from outside any more.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) == 0) {
        lib.subsystemStarted = true;
    } else {
        const std::string why = SDL_GetError();
        if (audioDriverChosen())
            return fail(MIDAS_ERR_SOUND_SYSTEM, why);
        // No driver of the machine starts: play to the silent output.
        if (SDL_AudioInit("dummy") != 0)
            return fail(MIDAS_ERR_SOUND_SYSTEM, why);
        lib.dummyStartedByHand = true;
    }
    lib.initialised = true;
    return succeed();
}

bool MIDASstartBackgroundPlay(unsigned pollRate)
{
    observe("MIDASstartBackgroundPlay(" + std::to_string(pollRate) + ")");
    Library& lib = library();
    if (!lib.initialised)
        return fail(MIDAS_ERR_NOT_INITIALISED);
    if (lib.device)
        return succeed();

    SDL_AudioSpec wanted {};
    wanted.freq = OutputRate;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = OutputChannels;
    wanted.samples = bufferFrames(pollRate);
    wanted.callback = render;
    wanted.userdata = &lib;
    // SDL converts when the device wants another format.
    lib.device = SDL_OpenAudioDevice(nullptr, 0, &wanted, nullptr, 0);
    if (!lib.device) {
        // No sound device here: a silent output that still pulls audio, so
        // the music runs as it would with one.
        const std::string why = SDL_GetError();
        if (SDL_AudioInit("dummy") == 0)
            lib.device = SDL_OpenAudioDevice(nullptr, 0, &wanted, nullptr, 0);
        if (!lib.device)
            return fail(MIDAS_ERR_SOUND_DEVICE, why);
    }
    SDL_PauseAudioDevice(lib.device, 0);
    return succeed();
}

MIDASmodule MIDASloadModule(const char* fileName)
{
    observe(std::string("MIDASloadModule(") + (fileName ? fileName : "") + ")");
    Library& lib = library();
    if (!lib.initialised) {
        fail(MIDAS_ERR_NOT_INITIALISED);
        return nullptr;
    }

    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(fileName ? std::fopen(fileName, "rb") : nullptr, std::fclose);
    if (!file) {
        fail(MIDAS_ERR_FILE_OPEN, std::strerror(fileName ? errno : ENOENT));
        return nullptr;
    }
    std::vector<std::uint8_t> bytes;
    std::uint8_t chunk[16384];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0)
        bytes.insert(bytes.end(), chunk, chunk + got);
    if (std::ferror(file.get())) {
        fail(MIDAS_ERR_FILE_READ, std::strerror(errno));
        return nullptr;
    }

    // What the decoder would refuse is refused here, from the file's header
    // (the check throws on data it cannot even look at, an empty file say).
    bool recognised = false;
    try {
        recognised = openmpt::probe_file_header(openmpt::probe_file_header_flags_default2, bytes.data(), bytes.size())
            == openmpt::probe_file_header_result_success;
    } catch (const std::exception&) {
        recognised = false;
    }
    if (!recognised) {
        fail(MIDAS_ERR_INVALID_MODULE);
        return nullptr;
    }

    std::unique_ptr<LoadedModule> module;
    try {
        module = std::make_unique<LoadedModule>();
    } catch (const std::bad_alloc&) {
        fail(MIDAS_ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    auto build = [m = module.get(), data = std::move(bytes)] {
        std::unique_ptr<openmpt::module> decoder;
        try {
            decoder = std::make_unique<openmpt::module>(data, m->log);
        } catch (...) {
            return; // a module the header check let through but that does not decode stays silent
        }
        const std::lock_guard<std::mutex> guard(m->lock);
        m->decoder = std::move(decoder);
        if (m->playRequested)
            m->rewind();
    };
    try {
        module->builder = std::thread(build);
    } catch (const std::system_error&) {
        build(); // no thread to be had: build it here
    }
    lib.modules.push_back(std::move(module));
    succeed();
    return lib.modules.back().get();
}

MIDASmodulePlayHandle MIDASplayModule(MIDASmodule module, bool loopSong)
{
    observe("MIDASplayModule(" + hex(module) + ", " + (loopSong ? "1" : "0") + ")");
    Library& lib = library();
    if (!lib.initialised) {
        fail(MIDAS_ERR_NOT_INITIALISED);
        return 0;
    }
    const auto found = findModule(module);
    if (found == lib.modules.end()) {
        fail(MIDAS_ERR_INVALID_HANDLE);
        return 0;
    }

    LoadedModule* chosen = found->get();
    const MIDASmodulePlayHandle handle = lib.nextPlayHandle++;
    if (lib.nextPlayHandle == 0)
        lib.nextPlayHandle = 1;
    // Nothing plays while the song is rewound and its repeat count set.
    setPlaying(nullptr, 0);
    {
        const std::lock_guard<std::mutex> guard(chosen->lock);
        chosen->playRequested = true;
        chosen->loopSong = loopSong;
        if (chosen->decoder)
            chosen->rewind();
    }
    setPlaying(chosen, handle);
    succeed();
    return handle;
}

bool MIDASstopModule(MIDASmodulePlayHandle playHandle)
{
    observe("MIDASstopModule(" + std::to_string(playHandle) + ")");
    Library& lib = library();
    if (playHandle == 0 || playHandle != lib.playHandle)
        return fail(MIDAS_ERR_INVALID_HANDLE);
    setPlaying(nullptr, 0);
    return succeed();
}

bool MIDASfreeModule(MIDASmodule module)
{
    observe("MIDASfreeModule(" + hex(module) + ")");
    Library& lib = library();
    const auto found = findModule(module);
    if (!module || found == lib.modules.end())
        return fail(MIDAS_ERR_INVALID_HANDLE);
    if (lib.playing == found->get())
        setPlaying(nullptr, 0);
    lib.modules.erase(found);
    return succeed();
}

bool MIDASstopBackgroundPlay()
{
    observe("MIDASstopBackgroundPlay()");
    if (!library().device)
        return fail(MIDAS_ERR_NO_BACKGROUND_PLAY);
    closeDevice();
    return succeed();
}

bool MIDASclose()
{
    observe("MIDASclose()");
    shutDown();
    return succeed();
}

int MIDASgetLastError()
{
    observe("MIDASgetLastError()");
    return library().lastError;
}

const char* MIDASgetErrorMessage(int errorCode)
{
    observe("MIDASgetErrorMessage(" + std::to_string(errorCode) + ")");
    Library& lib = library();
    switch (errorCode) {
    case MIDAS_OK: lib.message = "No error"; break;
    case MIDAS_ERR_NOT_INITIALISED: lib.message = "The music library has not been initialised"; break;
    case MIDAS_ERR_SOUND_SYSTEM: lib.message = "Unable to start the sound system"; break;
    case MIDAS_ERR_SOUND_DEVICE: lib.message = "Unable to open the sound output"; break;
    case MIDAS_ERR_NO_BACKGROUND_PLAY: lib.message = "Background playback has not been started"; break;
    case MIDAS_ERR_FILE_OPEN: lib.message = "Unable to open the module file"; break;
    case MIDAS_ERR_FILE_READ: lib.message = "Unable to read the module file"; break;
    case MIDAS_ERR_INVALID_MODULE: lib.message = "The file is not a music module the library can play"; break;
    case MIDAS_ERR_INVALID_HANDLE: lib.message = "Invalid module or play handle"; break;
    case MIDAS_ERR_OUT_OF_MEMORY: lib.message = "Not enough memory"; break;
    default: lib.message = "Unknown error " + std::to_string(errorCode); break;
    }
    if (errorCode != MIDAS_OK && errorCode == lib.lastError && !lib.lastDetail.empty())
        lib.message += " (" + lib.lastDetail + ")";
    return lib.message.c_str();
}

void MIDASsetCallObserver(std::function<void(const std::string& call)> observer)
{
    library().observer = std::move(observer);
}
