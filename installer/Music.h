// Background music: started first in the main window's creation handler,
// stopped by its close handler.
#pragma once

#include <QString>

// Plays the module held in the resource `resource` in a loop. A resource
// failure shows its notice and returns false (the caller's set-up then
// ends). A music library failure shows the library's error, ends the program
// through TerminateInstaller() and returns false. Raises EInOutError when
// the module's temporary copy cannot be written.
bool StartMusic(const QString& resource);
// Stops the music; harmless when it never started.
void StopMusic();
// The music's start (the sound system, the module's decoding) keeps off
// the machine from HoldMusicStart() until ReleaseMusicStart(): the main
// window's first frame comes first. It never waits more than a second.
void HoldMusicStart();
void ReleaseMusicStart();
