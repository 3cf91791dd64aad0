#include "FontConfiguration.h"

#include <fontconfig/fontconfig.h>

void FontConfiguration::load()
{
    // A configuration that fails to load is left to Qt, which reports it.
    FcInit();
}
