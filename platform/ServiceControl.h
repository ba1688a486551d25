#pragma once
#include <cstdint>
#include "platform/Owned.h"

namespace platform {

// Handles of the Service Control Manager and of one service.
struct ScHandleTag;
using ScHandle = ScHandleTag*;

// Each call that can fail reports the system's error code of that call,
// taken at once, through `error`.
ScHandle OpenServiceManager(uint32_t& error);
ScHandle OpenServiceForStatus(ScHandle manager, const wchar_t* name, uint32_t& error);
bool QueryServiceCurrentState(ScHandle service, uint32_t& state, uint32_t& error);
void CloseScHandle(ScHandle handle);

// Closes the handle exactly once, whatever path leaves a probe.
using ScHandleOwner = Owned<ScHandle, CloseScHandle>;

} // namespace platform
