// Background music: started first in the main window's creation handler,
// stopped by its close handler.
#pragma once

#include <QString>

// Raises EInOutError when the module's temporary copy cannot be written; a
// resource failure shows its notice and returns false (the caller's set-up
// then ends); a music library failure ends the program.
bool StartMusic(const QString& resource);
void StopMusic();
