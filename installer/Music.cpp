#include "Music.h"

bool StartMusic(const QString&)
{
    return true;
}

void StopMusic()
{
}
