// The result codes and volume-callback modes of the RAR library, which the
// archive layer hands on to its callers unchanged. Qt-free.
#pragma once

#include <functional>

// Result codes.
constexpr int ERAR_SUCCESS = 0;
constexpr int ERAR_END_ARCHIVE = 10;
constexpr int ERAR_NO_MEMORY = 11;
constexpr int ERAR_BAD_DATA = 12;
constexpr int ERAR_BAD_ARCHIVE = 13;
constexpr int ERAR_UNKNOWN_FORMAT = 14;
constexpr int ERAR_EOPEN = 15;
constexpr int ERAR_ECREATE = 16;
constexpr int ERAR_ECLOSE = 17;
constexpr int ERAR_EREAD = 18;
constexpr int ERAR_EWRITE = 19;

// Modes of the change-volume callback.
constexpr int RAR_VOL_ASK = 0;    // the next volume is missing: 1 retries it, 0 gives up
constexpr int RAR_VOL_NOTIFY = 1; // a new volume has been opened

// Called with the path of a volume (a buffer of RAR_VOLUME_PATH_SIZE bytes
// that the callback may change to point elsewhere) and a mode.
constexpr int RAR_VOLUME_PATH_SIZE = 4096;
using RarVolumeCallback = std::function<int(char* volumePath, int mode)>;
