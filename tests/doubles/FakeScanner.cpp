#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <set>

#include "platform/ScannerProcess.h"
#include "tests/doubles/FakePlatform.h"

namespace {

// A scanner "process": its pipe becomes readable when it ends.
struct FakeProcess {
    int exit[2] = {-1, -1};
};

std::deque<FakeProcess*>& HeldScans()
{
    static std::deque<FakeProcess*> held;
    return held;
}

// Every process not yet closed; a watcher killed during a scan never closes
// its own. Never destroyed, so they stay reachable until the process ends.
std::set<FakeProcess*>& Running()
{
    static auto* running = new std::set<FakeProcess*>;
    return *running;
}

// A scanner's handle is the address of its fake process.
FakeProcess* ProcessOf(platform::ProcessHandle handle)
{
    return reinterpret_cast<FakeProcess*>(handle);
}

void End(FakeProcess& process)
{
    const char token = 1;
    [[maybe_unused]] const ssize_t put = ::write(process.exit[1], &token, 1);
}

} // namespace

namespace platform {

ProcessHandle StartScanner(const std::wstring& commandLine)
{
    fake::Platform& p = fake::State();
    std::lock_guard<std::mutex> lock(p.mutex);
    if (!p.scannerFound)
        return nullptr;
    auto* process = new FakeProcess;
    if (::pipe2(process->exit, O_NONBLOCK) != 0) {
        delete process;
        return nullptr;
    }
    p.scans.push_back(fake::Utf8Of(commandLine));
    ++p.runningScans;
    Running().insert(process);
    if (p.holdScans)
        HeldScans().push_back(process);
    else
        End(*process);
    p.changed.notify_all();
    return reinterpret_cast<ProcessHandle>(process);
}

bool ProcessExited(ProcessHandle process)
{
    pollfd fd{fake::ProcessExitDescriptor(process), POLLIN, 0};
    return ::poll(&fd, 1, 0) > 0;
}

bool ProcessExitCode(ProcessHandle, uint32_t& code)
{
    code = 0;
    return true;
}

void CloseProcess(ProcessHandle handle)
{
    FakeProcess* process = ProcessOf(handle);
    fake::Platform& p = fake::State();
    // Under the lock that ReleaseScans writes under: the close comes after.
    std::lock_guard<std::mutex> lock(p.mutex);
    ::close(process->exit[0]);
    ::close(process->exit[1]);
    Running().erase(process);
    delete process;
    --p.runningScans;
    p.changed.notify_all();
}

} // namespace platform

namespace fake {

int ProcessExitDescriptor(platform::ProcessHandle process)
{
    return ProcessOf(process)->exit[0];
}

void ReleaseScans()
{
    std::lock_guard<std::mutex> lock(State().mutex);
    if (HeldScans().empty())
        return;
    End(*HeldScans().front());
    HeldScans().pop_front();
}

void ResetScanner()
{
    // Scans held by a watcher that was killed are never closed.
    std::lock_guard<std::mutex> lock(State().mutex);
    HeldScans().clear();
}

} // namespace fake
