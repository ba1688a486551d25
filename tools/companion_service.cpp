// Stand-in for the companion service: a minimal own-process Win32 service
// whose stop can be delayed, so tests can observe STOP_PENDING.
#include <windows.h>
#include <cstdio>
#include <cwchar>
#include <cstdlib>

namespace {

SERVICE_STATUS_HANDLE g_handle = nullptr;
SERVICE_STATUS g_status = {};
HANDLE g_stopEvent = nullptr;
DWORD g_stopDelayMs = 0;
DWORD g_checkPoint = 0;

void report(DWORD state, DWORD waitHintMs = 0) {
    g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    g_status.dwCurrentState = state;
    g_status.dwWin32ExitCode = NO_ERROR;
    // Controls are refused while a transition is in progress.
    g_status.dwControlsAccepted =
        (state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING || state == SERVICE_STOPPED)
            ? 0
            : SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE | SERVICE_ACCEPT_SHUTDOWN;
    bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING ||
                   state == SERVICE_PAUSE_PENDING || state == SERVICE_CONTINUE_PENDING;
    g_status.dwCheckPoint = pending ? ++g_checkPoint : 0;
    g_status.dwWaitHint = waitHintMs;
    SetServiceStatus(g_handle, &g_status);
}

// Picks up "--stop-delay-ms N" from either the binary path or the start arguments.
void parseArgs(DWORD argc, wchar_t** argv) {
    for (DWORD i = 0; i + 1 < argc; ++i)
        if (argv[i] && std::wcscmp(argv[i], L"--stop-delay-ms") == 0)
            g_stopDelayMs = static_cast<DWORD>(std::wcstoul(argv[i + 1], nullptr, 10));
}

DWORD WINAPI handler(DWORD control, DWORD, LPVOID, LPVOID) {
    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        report(SERVICE_STOP_PENDING, g_stopDelayMs + 1000);
        SetEvent(g_stopEvent);
        return NO_ERROR;
    case SERVICE_CONTROL_PAUSE:
        report(SERVICE_PAUSED);
        return NO_ERROR;
    case SERVICE_CONTROL_CONTINUE:
        report(SERVICE_RUNNING);
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        SetServiceStatus(g_handle, &g_status);
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI serviceMain(DWORD argc, LPWSTR* argv) {
    parseArgs(argc, argv);
    g_stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_handle = RegisterServiceCtrlHandlerExW(argc > 0 ? argv[0] : L"", handler, nullptr);
    if (!g_handle || !g_stopEvent) return;
    report(SERVICE_START_PENDING, 3000);
    report(SERVICE_RUNNING);
    WaitForSingleObject(g_stopEvent, INFINITE);
    // The delay runs here, not in the handler, so the dispatcher stays responsive
    // and STOP_PENDING is what callers see in the meantime.
    if (g_stopDelayMs) Sleep(g_stopDelayMs);
    report(SERVICE_STOPPED);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    parseArgs(static_cast<DWORD>(argc), argv);
    // Own-process services ignore the table name; an empty string is accepted.
    wchar_t name[] = L"";
    SERVICE_TABLE_ENTRYW table[] = {{name, serviceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(table)) {
        fwprintf(stderr, L"StartServiceCtrlDispatcherW failed: %lu\n", GetLastError());
        return 1;
    }
    return 0;
}
