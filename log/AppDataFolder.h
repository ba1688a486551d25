#pragma once
#include <string>

// The machine-wide program-data folder, looked up afresh on every call.
// On failure it reports the failure to "ErrorFunctionLogs.txt" and yields
// an empty string; every caller goes on with that.
std::wstring GetAppDataFolderPath();
