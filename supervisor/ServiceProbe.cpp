#include "supervisor/ServiceProbe.h"

#include "log/LogEntry.h"
#include "product/ProductLayout.h"
#include "platform/ServiceControl.h"

namespace {

void LogProbeFailure(const wchar_t* format, uint32_t error)
{
    std::string text;
    if (error != kErrorSuccess)
        GetSystemErrorText(error, text);
    WriteLogEntry(kErrorFunctionLogs, format, text.c_str());
}

// The three calls of a probe. Returns the entry of the call that failed, or
// null; both handles are closed on return, before anything is logged.
const wchar_t* ReadServiceState(uint32_t& current, uint32_t& error)
{
    const platform::ScHandleOwner manager(platform::OpenServiceManager(error));
    if (!manager)
        return L"In GetServiceStatusW: OpenSCManagerW failed with: %S";

    const platform::ScHandleOwner service(
        platform::OpenServiceForStatus(manager.Get(), ServiceName, error));
    if (!service)
        return L"In GetServiceStatusW: OpenServiceW failed with: %S";

    if (!platform::QueryServiceCurrentState(service.Get(), current, error))
        return L"In GetServiceStatusW: QueryServiceStatusEx failed with: %S";
    return nullptr;
}

} // namespace

uint32_t GetServiceStatusW(uint32_t& state)
{
    uint32_t error = kErrorSuccess;
    uint32_t current = 0;
    if (const wchar_t* failure = ReadServiceState(current, error)) {
        LogProbeFailure(failure, error);
        return error;
    }
    state = current;
    return kErrorSuccess;
}
