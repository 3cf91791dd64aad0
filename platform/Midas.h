// The music library the installer plays its module with: the MIDAS calls the
// installer makes, over libopenmpt (decoding MOD and the other tracker
// formats it reads) and SDL2 audio (playing on SDL's own audio thread).
//
// Call from one thread only. Results follow the library's conventions: a
// false truth value or a zero handle means failure, and MIDASgetLastError()
// then says why. Output is 44100 Hz, 16-bit signed, stereo.
//
// When the sound device cannot be opened (a machine without one) the music
// plays to SDL's silent "dummy" output instead, so the program still runs.
// An audio driver named in SDL_AUDIODRIVER is honoured as given: when it
// cannot be started, MIDASinit fails rather than quietly playing elsewhere.
// Without one nothing can fail, and the sound system starts on a thread of
// its own (SDL is loaded then, not with the program): MIDASinit and
// MIDASstartBackgroundPlay return at once, and should not even the silent
// output open, nothing is heard.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

using MIDASmodule = void*;                     // zero: no module
using MIDASmodulePlayHandle = std::uint32_t;   // zero: not playing

// Error codes of MIDASgetLastError().
enum MIDASerror : int {
    MIDAS_OK = 0,
    MIDAS_ERR_NOT_INITIALISED,
    MIDAS_ERR_SOUND_SYSTEM,
    MIDAS_ERR_SOUND_DEVICE,
    MIDAS_ERR_NO_BACKGROUND_PLAY,
    MIDAS_ERR_FILE_OPEN,
    MIDAS_ERR_FILE_READ,
    MIDAS_ERR_INVALID_MODULE,
    MIDAS_ERR_INVALID_HANDLE,
    MIDAS_ERR_OUT_OF_MEMORY,
};

// Resets the library's settings; call before MIDASinit.
bool MIDASstartup();
// Starts the sound system.
bool MIDASinit();
// Opens the output and starts pulling audio on the background thread;
// `pollRate` is buffers per second, 0 for the library's default.
bool MIDASstartBackgroundPlay(unsigned pollRate);
// Reads a module file and checks from its header that it is a module the
// decoder reads; the file is not needed afterwards. The decoding itself
// goes on in the background, and the module plays silence until it is done
// (for good, should the decoding fail after the check).
MIDASmodule MIDASloadModule(const char* fileName);
// Starts playing `module` from its beginning, repeating forever when
// `loopSong` is set.
MIDASmodulePlayHandle MIDASplayModule(MIDASmodule module, bool loopSong);
bool MIDASstopModule(MIDASmodulePlayHandle playHandle);
bool MIDASfreeModule(MIDASmodule module);
bool MIDASstopBackgroundPlay();
// Stops everything and releases every module still loaded. Harmless when
// the library was never initialised.
bool MIDASclose();

int MIDASgetLastError();
// English text for an error code; for the last error it also carries the
// detail the sound system or decoder gave. Valid until the next call.
const char* MIDASgetErrorMessage(int errorCode);

// The sound system's start and the modules' decoding run on threads of
// their own, which on a machine with few cores take CPU time from whatever
// the program does meanwhile. From MIDASholdBackgroundWork() that work
// waits until MIDASreleaseBackgroundWork(), a second at most; stopping the
// output, freeing a module or closing releases it at once.
void MIDASholdBackgroundWork();
void MIDASreleaseBackgroundWork();

// Sees every call as "name(arguments)", so tests can check the order the
// program calls the library in. An empty function stops it.
void MIDASsetCallObserver(std::function<void(const std::string& call)> observer);
