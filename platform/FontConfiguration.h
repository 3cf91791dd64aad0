// The system's font configuration (fontconfig). Loading it parses some fifty
// XML files; Qt would do that at the first text measurement, on the thread
// that builds the windows.
#pragma once

namespace FontConfiguration {

// Loads it now on the calling thread, any thread; Qt's own load then finds
// it loaded. Does nothing when it is loaded already.
void load();

}
