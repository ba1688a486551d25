#include "supervisor/ServiceProbe.h"

#include "log/LogEntry.h"
#include "product/ProductLayout.h"
#include "platform/ServiceControl.h"
#include "platform/SystemErrorText.h"

namespace {

void LogProbeFailure(const wchar_t* format, uint32_t error)
{
    std::string text;
    if (error != kErrorSuccess)
        GetSystemErrorText(error, text);
    WriteLogEntry(kErrorFunctionLogs, format, text.c_str());
}

} // namespace

void GetSystemErrorText(uint32_t code, std::string& text)
{
    text = platform::FormatSystemMessage(code);
}

uint32_t GetServiceStatusW(uint32_t& state)
{
    uint32_t error = kErrorSuccess;
    platform::ScHandle manager = platform::OpenServiceManager(error);
    if (!manager) {
        LogProbeFailure(L"In GetServiceStatusW: OpenSCManagerW failed with: %S", error);
        return error;
    }

    platform::ScHandle service = platform::OpenServiceForStatus(manager, ServiceName, error);
    if (!service) {
        platform::CloseScHandle(manager);
        LogProbeFailure(L"In GetServiceStatusW: OpenServiceW failed with: %S", error);
        return error;
    }

    uint32_t current = 0;
    const bool queried = platform::QueryServiceCurrentState(service, current, error);
    platform::CloseScHandle(service);
    platform::CloseScHandle(manager);

    if (queried) {
        state = current;
        return kErrorSuccess;
    }
    LogProbeFailure(L"In GetServiceStatusW: QueryServiceStatusEx failed with: %S", error);
    return error;
}
