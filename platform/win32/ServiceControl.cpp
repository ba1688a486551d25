#include "platform/ServiceControl.h"

#include <windows.h>

namespace platform {

ScHandle OpenServiceManager(uint32_t& error)
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager)
        error = GetLastError();
    return manager;
}

ScHandle OpenServiceForStatus(ScHandle manager, const wchar_t* name, uint32_t& error)
{
    SC_HANDLE service = OpenServiceW(static_cast<SC_HANDLE>(manager), name, SERVICE_QUERY_STATUS);
    if (!service)
        error = GetLastError();
    return service;
}

bool QueryServiceCurrentState(ScHandle service, uint32_t& state, uint32_t& error)
{
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(static_cast<SC_HANDLE>(service), SC_STATUS_PROCESS_INFO,
                              reinterpret_cast<LPBYTE>(&status), sizeof(status), &needed)) {
        error = GetLastError();
        return false;
    }
    state = status.dwCurrentState;
    return true;
}

void CloseScHandle(ScHandle handle)
{
    CloseServiceHandle(static_cast<SC_HANDLE>(handle));
}

} // namespace platform
