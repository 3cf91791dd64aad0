#include "Midas.h"

#include "Openmpt.h"
#include "RunTimeLibrary.h"

#include <SDL.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr int OutputRate = 44100;
constexpr int OutputChannels = 2;
// Buffers a second by default: ten (4096 frames, 93 ms) wake the audio
// thread half as often as twenty; nothing here needs a shorter delay.
constexpr unsigned DefaultPollRate = 10;

// Lets the background threads' work wait while the program asks for the
// machine to itself (its first window on a machine with few cores), but
// never longer than the hold's limit.
class StartGate {
public:
    void hold(std::chrono::milliseconds limit)
    {
        const std::lock_guard<std::mutex> guard(m_lock);
        m_held = true;
        m_until = std::chrono::steady_clock::now() + limit;
    }

    void release()
    {
        {
            const std::lock_guard<std::mutex> guard(m_lock);
            m_held = false;
        }
        m_opened.notify_all();
    }

    void pass()
    {
        std::unique_lock<std::mutex> guard(m_lock);
        m_opened.wait_until(guard, m_until, [this] { return !m_held; });
    }

private:
    std::mutex m_lock;
    std::condition_variable m_opened;
    bool m_held = false;                          // guarded by m_lock
    std::chrono::steady_clock::time_point m_until; // guarded by m_lock
};

// libopenmpt's load warnings and errors go nowhere: decoding odd files
// does not litter stderr.
void dropMessage(const char*, void*) { }
int ignoreError(int, void*)
{
    return OPENMPT_ERROR_FUNC_RESULT_NONE;
}

struct ModuleDestroy {
    void operator()(openmpt_module* decoder) const { Openmpt::get()->module_destroy(decoder); }
};

struct LoadedModule {
    // The decoder is built on the module's own thread: that takes a few
    // milliseconds, and the first time in a process over ten (libopenmpt
    // computes its resampling tables), which the program's start need not
    // wait for. Until it is there the module plays silence.
    std::mutex lock;
    std::unique_ptr<openmpt_module, ModuleDestroy> decoder; // guarded by lock
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
        Openmpt::get()->module_set_repeat_count(decoder.get(), loopSong ? -1 : 0);
        Openmpt::get()->module_set_position_order_row(decoder.get(), 0, 0);
    }
};

// SDL's calls, looked up when the sound system starts: linked with the
// program, SDL and the thirty libraries it pulls in (PulseAudio, ALSA,
// Wayland, ...) would all be loaded before its first window.
struct Sdl {
    bool tried = false;
    bool loaded = false;
    std::string why;
    decltype(&SDL_SetHint) SetHint = nullptr;
    decltype(&SDL_InitSubSystem) InitSubSystem = nullptr;
    decltype(&SDL_QuitSubSystem) QuitSubSystem = nullptr;
    decltype(&SDL_GetError) GetError = nullptr;
    decltype(&SDL_AudioInit) AudioInit = nullptr;
    decltype(&SDL_AudioQuit) AudioQuit = nullptr;
    decltype(&SDL_OpenAudioDevice) OpenAudioDevice = nullptr;
    decltype(&SDL_PauseAudioDevice) PauseAudioDevice = nullptr;
    decltype(&SDL_CloseAudioDevice) CloseAudioDevice = nullptr;
    decltype(&SDL_TLSCleanup) TLSCleanup = nullptr;
};

struct Library {
    bool initialised = false;
    Sdl sdl;
    // Without a driver named outright the sound system cannot fail (the
    // silent output stands in), so it is started on a thread of its own and
    // the program's start does not wait for SDL's probing of the machine's
    // sound servers and devices.
    bool startInBackground = false;
    bool outputStarted = false;
    std::thread starter;
    // Whether SDL's audio subsystem counts us as a user (SDL_InitSubSystem),
    // or we started its silent driver by hand (SDL_AudioInit).
    bool subsystemStarted = false;
    bool dummyStartedByHand = false;
    SDL_AudioDeviceID device = 0;

    // Passed by the starter and the module builders before they begin.
    StartGate gate;

    std::vector<std::unique_ptr<LoadedModule>> modules;
    // Read by the audio callback, which holds playLock while it renders.
    std::mutex playLock;
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
    const std::lock_guard<std::mutex> playGuard(lib->playLock);
    if (LoadedModule* playing = lib->playing) {
        const std::lock_guard<std::mutex> guard(playing->lock);
        if (playing->decoder)
            rendered = Openmpt::get()->module_read_interleaved_stereo(playing->decoder.get(), OutputRate, frames,
                reinterpret_cast<std::int16_t*>(stream));
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
    const std::lock_guard<std::mutex> guard(lib.playLock);
    lib.playing = module;
    lib.playHandle = handle;
}

bool loadSdl(Sdl& sdl)
{
    if (sdl.tried)
        return sdl.loaded;
    sdl.tried = true;
    RunTimeLibrary library("libSDL2-2.0.so.0", "SDL");
    sdl.loaded = library.find(sdl.SetHint, "SDL_SetHint")
        && library.find(sdl.InitSubSystem, "SDL_InitSubSystem")
        && library.find(sdl.QuitSubSystem, "SDL_QuitSubSystem")
        && library.find(sdl.GetError, "SDL_GetError")
        && library.find(sdl.AudioInit, "SDL_AudioInit")
        && library.find(sdl.AudioQuit, "SDL_AudioQuit")
        && library.find(sdl.OpenAudioDevice, "SDL_OpenAudioDevice")
        && library.find(sdl.PauseAudioDevice, "SDL_PauseAudioDevice")
        && library.find(sdl.CloseAudioDevice, "SDL_CloseAudioDevice")
        && library.find(sdl.TLSCleanup, "SDL_TLSCleanup");
    sdl.why = library.why();
    return sdl.loaded;
}

bool audioDriverChosen()
{
    const char* chosen = std::getenv("SDL_AUDIODRIVER");
    return chosen && *chosen;
}

// Starts SDL's audio, or its silent output when no driver of the machine
// starts and none was named.
bool startSoundSystem(Library& lib, std::string& why)
{
    if (!loadSdl(lib.sdl)) {
        why = lib.sdl.why;
        return false;
    }
    const Sdl& sdl = lib.sdl;
    // SDL's audio brings up its event system, which would turn SIGINT and
    // SIGTERM into quit events nobody reads: the program could not be
    // ended from outside any more.
    sdl.SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (sdl.InitSubSystem(SDL_INIT_AUDIO) == 0) {
        lib.subsystemStarted = true;
        return true;
    }
    why = sdl.GetError();
    if (audioDriverChosen())
        return false;
    if (sdl.AudioInit("dummy") != 0)
        return false;
    lib.dummyStartedByHand = true;
    return true;
}

// Opens the output (the silent one when no device opens) and starts it.
bool openOutput(Library& lib, unsigned pollRate, std::string& why)
{
    const Sdl& sdl = lib.sdl;
    SDL_AudioSpec wanted {};
    wanted.freq = OutputRate;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = OutputChannels;
    wanted.samples = bufferFrames(pollRate);
    wanted.callback = render;
    wanted.userdata = &lib;
    // SDL converts when the device wants another format.
    SDL_AudioDeviceID device = sdl.OpenAudioDevice(nullptr, 0, &wanted, nullptr, 0);
    if (!device) {
        // No sound device here: a silent output that still pulls audio, so
        // the music runs as it would with one.
        why = sdl.GetError();
        if (sdl.AudioInit("dummy") == 0)
            device = sdl.OpenAudioDevice(nullptr, 0, &wanted, nullptr, 0);
        if (!device)
            return false;
    }
    lib.device = device;
    sdl.PauseAudioDevice(device, 0);
    return true;
}

// After this the starter's results (device, subsystem) may be read.
void waitForStarter()
{
    Library& lib = library();
    lib.gate.release();
    if (lib.starter.joinable())
        lib.starter.join();
}

void closeDevice()
{
    Library& lib = library();
    waitForStarter();
    if (lib.device) {
        lib.sdl.CloseAudioDevice(lib.device); // waits for the audio thread to end
        lib.device = 0;
    }
    lib.outputStarted = false;
}

void shutDown()
{
    Library& lib = library();
    closeDevice();
    lib.playing = nullptr;
    lib.playHandle = 0;
    lib.gate.release(); // the modules' builders are joined
    lib.modules.clear();
    if (lib.subsystemStarted)
        lib.sdl.QuitSubSystem(SDL_INIT_AUDIO);
    else if (lib.dummyStartedByHand)
        lib.sdl.AudioQuit();
    lib.subsystemStarted = false;
    lib.dummyStartedByHand = false;
    lib.startInBackground = false;
    lib.initialised = false;
}

Library::~Library()
{
    // A program that never closed the library must not have the audio
    // thread read a module while it is destroyed.
    shutDown();
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
    if (audioDriverChosen()) {
        // A driver named outright is honoured as given, so whether it starts
        // is known here.
        std::string why;
        if (!startSoundSystem(lib, why))
            return fail(MIDAS_ERR_SOUND_SYSTEM, why);
    } else {
        lib.startInBackground = true;
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
    if (lib.outputStarted)
        return succeed();
    if (lib.startInBackground) {
        auto start = [&lib, pollRate] {
            lib.gate.pass();
            std::string why;
            if (startSoundSystem(lib, why))
                openOutput(lib, pollRate, why); // no output at all: the music is not heard
            // What SDL keeps for this thread (its error text) goes with it.
            if (lib.sdl.loaded)
                lib.sdl.TLSCleanup();
        };
        try {
            lib.starter = std::thread(start);
        } catch (const std::system_error&) {
            start(); // no thread to be had: start it here
        }
        lib.outputStarted = true;
        return succeed();
    }
    std::string why;
    if (!openOutput(lib, pollRate, why))
        return fail(MIDAS_ERR_SOUND_DEVICE, why);
    lib.outputStarted = true;
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

    const Openmpt* mpt = Openmpt::get();
    if (!mpt) {
        fail(MIDAS_ERR_SOUND_SYSTEM, Openmpt::why());
        return nullptr;
    }
    // What the decoder would refuse is refused here, from the file's header
    // (an empty file, say, which it cannot even look at, is refused too).
    if (mpt->probe_file_header(OPENMPT_PROBE_FILE_HEADER_FLAGS_DEFAULT, bytes.data(), bytes.size(), bytes.size(), dropMessage,
            nullptr, ignoreError, nullptr, nullptr, nullptr)
        != OPENMPT_PROBE_FILE_HEADER_RESULT_SUCCESS) {
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
    auto build = [&gate = lib.gate, m = module.get(), data = std::move(bytes)] {
        gate.pass();
        // Behind the program's own start on a busy machine: a lower priority
        // for this thread alone (a best effort: at worst it keeps the usual one).
        (void)::setpriority(PRIO_PROCESS, id_t(::gettid()), 10);
        std::unique_ptr<openmpt_module, ModuleDestroy> decoder(Openmpt::get()->module_create_from_memory2(
            data.data(), data.size(), dropMessage, nullptr, ignoreError, nullptr, nullptr, nullptr, nullptr));
        if (!decoder)
            return; // a module the header check let through but that does not decode stays silent
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
    lib.gate.release(); // its builder is joined
    lib.modules.erase(found);
    return succeed();
}

bool MIDASstopBackgroundPlay()
{
    observe("MIDASstopBackgroundPlay()");
    waitForStarter();
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

void MIDASholdBackgroundWork()
{
    observe("MIDASholdBackgroundWork()");
    library().gate.hold(std::chrono::seconds(1));
}

void MIDASreleaseBackgroundWork()
{
    observe("MIDASreleaseBackgroundWork()");
    library().gate.release();
}

void MIDASsetCallObserver(std::function<void(const std::string& call)> observer)
{
    library().observer = std::move(observer);
}
