#include "platform/Sleep.h"

#include <windows.h>

namespace platform {

void SleepMilliseconds(unsigned milliseconds)
{
    Sleep(milliseconds);
}

} // namespace platform
