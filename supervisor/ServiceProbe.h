#pragma once
#include <cstdint>
#include <string>

#include "log/SystemErrorText.h"

// The companion service whose state decides whether the monitor runs.
inline constexpr const wchar_t* ServiceName = L"RavIROVA DeruDuzeda";

inline constexpr uint32_t kErrorSuccess = 0;
inline constexpr uint32_t kServiceRunning = 4;

// Reads the companion service's current state. Returns 0 and stores the
// state on success; otherwise logs the failing call to
// "ErrorFunctionLogs.txt" and returns its error code, leaving `state` as it
// was. A call that fails without an error code returns 0 as well, without
// storing a state.
uint32_t GetServiceStatusW(uint32_t& state);

