#include "EndActions.h"

void RunEndActions()
{
}
