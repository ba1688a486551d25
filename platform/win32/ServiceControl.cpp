#include "platform/ServiceControl.h"

#include <windows.h>

namespace platform {

namespace {

// SC_HANDLE is a pointer type of its own under STRICT.
ScHandle FromSc(SC_HANDLE handle)
{
    return reinterpret_cast<ScHandle>(handle);
}

SC_HANDLE ToSc(ScHandle handle)
{
    return reinterpret_cast<SC_HANDLE>(handle);
}

} // namespace

ScHandle OpenServiceManager(uint32_t& error)
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager)
        error = GetLastError();
    return FromSc(manager);
}

ScHandle OpenServiceForStatus(ScHandle manager, const wchar_t* name, uint32_t& error)
{
    SC_HANDLE service = OpenServiceW(ToSc(manager), name, SERVICE_QUERY_STATUS);
    if (!service)
        error = GetLastError();
    return FromSc(service);
}

bool QueryServiceCurrentState(ScHandle service, uint32_t& state, uint32_t& error)
{
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(ToSc(service), SC_STATUS_PROCESS_INFO,
                              reinterpret_cast<LPBYTE>(&status), sizeof(status), &needed)) {
        error = GetLastError();
        return false;
    }
    state = status.dwCurrentState;
    return true;
}

void CloseScHandle(ScHandle handle)
{
    CloseServiceHandle(ToSc(handle));
}

} // namespace platform
