// Service control tool for test scripts. Unlike `net`/`sc` under Wine it waits
// for the requested state, supports pause/continue and reports exact errors.
//
//   svcctl [--timeout-ms N] [--no-wait] <verb> <name> [args...]
//   verbs: create <binpath...> | start [args...] | stop | pause | continue | delete | query
// Exit: 0 ok, 1 API failure or timeout, 2 usage.
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

DWORD g_timeoutMs = 10000;
bool g_noWait = false;

int apiFail(const wchar_t* call) {
    DWORD err = GetLastError();
    fwprintf(stderr, L"svcctl: %ls failed: error %lu\n", call, err);
    return 1;
}

int usage() {
    fwprintf(stderr, L"usage: svcctl [--timeout-ms N] [--no-wait] "
                     L"create|start|stop|pause|continue|delete|query <name> [args...]\n");
    return 2;
}

// Closes service handles on every return path.
struct Handle {
    SC_HANDLE h;
    explicit Handle(SC_HANDLE x) : h(x) {}
    ~Handle() { if (h) CloseServiceHandle(h); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
};

bool queryState(SC_HANDLE svc, DWORD& state) {
    SERVICE_STATUS_PROCESS sp{};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(svc, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&sp),
                              sizeof sp, &needed))
        return false;
    state = sp.dwCurrentState;
    return true;
}

// Polls until `target`; an unexpected STOPPED ends the wait early as a failure.
int waitFor(SC_HANDLE svc, DWORD target) {
    if (g_noWait) return 0;
    const ULONGLONG deadline = GetTickCount64() + g_timeoutMs;
    DWORD state = 0;
    for (;;) {
        if (!queryState(svc, state)) return apiFail(L"QueryServiceStatusEx");
        if (state == target) return 0;
        if (state == SERVICE_STOPPED) {
            fwprintf(stderr, L"svcctl: service stopped while waiting for state %lu\n", target);
            return 1;
        }
        if (GetTickCount64() >= deadline) {
            fwprintf(stderr, L"svcctl: timeout after %lu ms waiting for state %lu (current %lu)\n",
                     g_timeoutMs, target, state);
            return 1;
        }
        Sleep(20);
    }
}

int control(SC_HANDLE svc, DWORD code, DWORD target) {
    SERVICE_STATUS st{};
    if (!ControlService(svc, code, &st)) return apiFail(L"ControlService");
    return waitFor(svc, target);
}

std::wstring joinArgs(int from, int argc, wchar_t** argv) {
    std::wstring s;
    for (int i = from; i < argc; ++i) {
        if (!s.empty()) s += L' ';
        s += argv[i];
    }
    return s;
}

int create(SC_HANDLE scm, const wchar_t* name, const std::wstring& binPath) {
    Handle svc(CreateServiceW(scm, name, name, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                              SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, binPath.c_str(),
                              nullptr, nullptr, nullptr, nullptr, nullptr));
    if (svc.h) return 0;
    if (GetLastError() != ERROR_SERVICE_EXISTS) return apiFail(L"CreateServiceW");
    Handle existing(OpenServiceW(scm, name, SERVICE_CHANGE_CONFIG));
    if (!existing.h) return apiFail(L"OpenServiceW");
    if (!ChangeServiceConfigW(existing.h, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                              SERVICE_ERROR_NORMAL, binPath.c_str(), nullptr, nullptr, nullptr,
                              nullptr, nullptr, nullptr))
        return apiFail(L"ChangeServiceConfigW");
    return 0;
}

int removeService(SC_HANDLE scm, const wchar_t* name) {
    Handle svc(OpenServiceW(scm, name, DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS));
    if (!svc.h) return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST ? 0 : apiFail(L"OpenServiceW");
    DWORD state = 0;
    if (!queryState(svc.h, state)) return apiFail(L"QueryServiceStatusEx");
    if (state != SERVICE_STOPPED) {
        SERVICE_STATUS st{};
        // Already stopping or just stopped on its own: only the wait matters.
        if (!ControlService(svc.h, SERVICE_CONTROL_STOP, &st) &&
            GetLastError() != ERROR_SERVICE_NOT_ACTIVE &&
            GetLastError() != ERROR_SERVICE_CANNOT_ACCEPT_CTRL)
            return apiFail(L"ControlService");
        bool noWait = g_noWait;
        g_noWait = false;  // deleting a running service would leave it orphaned
        int rc = waitFor(svc.h, SERVICE_STOPPED);
        g_noWait = noWait;
        if (rc) return rc;
    }
    if (!DeleteService(svc.h) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE)
        return apiFail(L"DeleteService");
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    int i = 1;
    for (; i < argc && std::wcsncmp(argv[i], L"--", 2) == 0; ++i) {
        if (std::wcscmp(argv[i], L"--no-wait") == 0) {
            g_noWait = true;
        } else if (std::wcscmp(argv[i], L"--timeout-ms") == 0 && i + 1 < argc) {
            g_timeoutMs = static_cast<DWORD>(std::wcstoul(argv[++i], nullptr, 10));
        } else {
            return usage();
        }
    }
    if (argc - i < 2) return usage();
    const std::wstring verb = argv[i];
    const wchar_t* name = argv[i + 1];
    const int rest = i + 2;

    const DWORD scmAccess = verb == L"create" ? SC_MANAGER_CREATE_SERVICE : SC_MANAGER_CONNECT;
    Handle scm(OpenSCManagerW(nullptr, nullptr, scmAccess));
    if (!scm.h) return apiFail(L"OpenSCManagerW");

    if (verb == L"create") {
        if (rest >= argc) return usage();
        return create(scm.h, name, joinArgs(rest, argc, argv));
    }
    if (verb == L"delete") return removeService(scm.h, name);

    Handle svc(OpenServiceW(scm.h, name, SERVICE_START | SERVICE_STOP | SERVICE_PAUSE_CONTINUE |
                                             SERVICE_QUERY_STATUS));
    if (!svc.h) return apiFail(L"OpenServiceW");

    if (verb == L"start") {
        std::vector<const wchar_t*> args(argv + rest, argv + argc);
        if (!StartServiceW(svc.h, static_cast<DWORD>(args.size()), args.empty() ? nullptr : args.data()))
            return apiFail(L"StartServiceW");
        return waitFor(svc.h, SERVICE_RUNNING);
    }
    if (verb == L"stop") return control(svc.h, SERVICE_CONTROL_STOP, SERVICE_STOPPED);
    if (verb == L"pause") return control(svc.h, SERVICE_CONTROL_PAUSE, SERVICE_PAUSED);
    if (verb == L"continue") return control(svc.h, SERVICE_CONTROL_CONTINUE, SERVICE_RUNNING);
    if (verb == L"query") {
        DWORD state = 0;
        if (!queryState(svc.h, state)) return apiFail(L"QueryServiceStatusEx");
        _setmode(_fileno(stdout), _O_BINARY);  // "4\n", not "4\r\n", for shell callers
        std::printf("%lu\n", state);
        return 0;
    }
    return usage();
}
