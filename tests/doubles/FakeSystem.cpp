#include <wx/thread.h>

#include <thread>

#include "platform/Clock.h"
#include "platform/KnownFolders.h"
#include "platform/PathCase.h"
#include "platform/UserProfiles.h"
#include "platform/ServiceControl.h"
#include "platform/Sleep.h"
#include "platform/SystemErrorText.h"
#include "platform/ThreadStop.h"
#include "tests/doubles/FakeState.h"

namespace platform {

bool GetProgramDataFolder(std::wstring& folder)
{
    fake::Platform& p = fake::State();
    std::lock_guard<std::mutex> lock(p.mutex);
    ++p.programDataLookups;
    if (!p.programDataOk)
        return false;
    folder = p.programData;
    return true;
}

bool GetProfilesRoot(std::wstring& root)
{
    fake::Platform& p = fake::State();
    std::lock_guard<std::mutex> lock(p.mutex);
    if (!p.profilesOk)
        return false;
    root = p.profilesRoot;
    return true;
}

namespace {
int managerToken;
int serviceToken;
const ScHandle kManager = reinterpret_cast<ScHandle>(&managerToken);
const ScHandle kService = reinterpret_cast<ScHandle>(&serviceToken);

const fake::ServiceAnswer& CurrentAnswer(fake::Platform& p)
{
    const std::size_t index = std::min(p.probes, p.serviceAnswers.size() - 1);
    return p.serviceAnswers[index];
}
} // namespace

ScHandle OpenServiceManager(uint32_t& error)
{
    fake::Platform& p = fake::State();
    std::lock_guard<std::mutex> lock(p.mutex);
    const fake::ServiceAnswer& answer = CurrentAnswer(p);
    if (answer.failing == fake::ServiceAnswer::Manager) {
        error = answer.error;
        ++p.probes;
        return nullptr;
    }
    ++p.openScHandles;
    return kManager;
}

ScHandle OpenServiceForStatus(ScHandle manager, const wchar_t* name, uint32_t& error)
{
    fake::Platform& p = fake::State();
    std::lock_guard<std::mutex> lock(p.mutex);
    const fake::ServiceAnswer& answer = CurrentAnswer(p);
    if (manager != kManager || std::wstring(name) != L"RavIROVA DeruDuzeda" ||
        answer.failing == fake::ServiceAnswer::Service) {
        error = answer.error;
        ++p.probes;
        return nullptr;
    }
    ++p.openScHandles;
    return kService;
}

bool QueryServiceCurrentState(ScHandle service, uint32_t& state, uint32_t& error)
{
    fake::Platform& p = fake::State();
    std::lock_guard<std::mutex> lock(p.mutex);
    const fake::ServiceAnswer answer = CurrentAnswer(p);
    ++p.probes;
    if (service != kService || answer.failing == fake::ServiceAnswer::Query) {
        error = answer.error;
        return false;
    }
    state = answer.state;
    return true;
}

void CloseScHandle(ScHandle handle)
{
    fake::Platform& p = fake::State();
    std::lock_guard<std::mutex> lock(p.mutex);
    if (handle == kManager || handle == kService)
        --p.openScHandles;
}

std::string FormatSystemMessage(uint32_t code)
{
    fake::Platform& p = fake::State();
    std::lock_guard<std::mutex> lock(p.mutex);
    const auto found = p.systemMessages.find(code);
    return found == p.systemMessages.end() ? std::string() : found->second;
}

void SleepMilliseconds(unsigned)
{
    {
        fake::Platform& p = fake::State();
        std::lock_guard<std::mutex> lock(p.mutex);
        ++p.sleeps;
    }
    // A token pause, so a monitor running beside a test does not spin.
    std::this_thread::sleep_for(std::chrono::microseconds(200));
}

ThreadEnd PrepareToAwaitEnd(wxThread&)
{
    return nullptr;
}

bool AwaitThreadEnd(ThreadEnd, wxThread& thread, unsigned)
{
    // pthread cancellation is deferred: the thread ends at its next
    // cancellation point, and joining waits for that.
    thread.Wait();
    return true;
}

void ReleaseThreadEnd(ThreadEnd) {}

bool EqualIgnoringCase(std::u16string_view a, std::u16string_view b)
{
    // ASCII folding stands in for the system's table.
    const auto upper = [](char16_t c) { return c >= u'a' && c <= u'z' ? char16_t(c - 32) : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](char16_t x, char16_t y) {
               return upper(x) == upper(y);
           });
}

FileTime CurrentFileTime()
{
    std::lock_guard<std::mutex> lock(fake::State().mutex);
    return fake::State().fileTime;
}

uint64_t MonotonicMilliseconds()
{
    std::lock_guard<std::mutex> lock(fake::State().mutex);
    return fake::State().monotonicMs;
}

void ArmStopWatchdog(unsigned)
{
    fake::Platform& p = fake::State();
    std::lock_guard<std::mutex> lock(p.mutex);
    p.watchdogArmed = true;
}

} // namespace platform
