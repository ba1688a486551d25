#pragma once
#include <algorithm>
#include <cstdint>
#include <thread>

#include "supervisor/Supervisor.h"
#include "tests/unit/ChangeBatch.h"
#include "tests/unit/TestSupport.h"
#include "watch/ArrivedFiles.h"

// Both watchers wait with nothing to do: parked, no scan running.
inline bool Idle(const fake::Platform& p)
{
    return p.parkedWaits == 2 && p.runningScans == 0;
}

// Both watchers parked, and no wait's time-out has ended on the tests'
// clock: nothing that fell due is left undone, a running scan aside.
inline bool Parked(const fake::Platform& p)
{
    return p.parkedWaits == 2 && (p.parkedUntil.empty() || *p.parkedUntil.begin() > p.monotonicMs);
}

// Parked, and no scan running.
inline bool Settled(const fake::Platform& p)
{
    return Parked(p) && p.runningScans == 0;
}

// Lets `milliseconds` pass on the clock the watchers read, as real time
// would: stopping at each time-out that ends on the way until the watchers
// have done what fell due then. With no `milliseconds`, until no watcher
// waits with a time-out at all: every file set aside has been dealt with.
// Fails when that never comes (a writer still at work, a scanner that keeps
// failing). `duringScans`: scans the test holds run on meanwhile.
inline void Pass(uint64_t milliseconds = UINT64_MAX, bool duringScans = false)
{
    const uint64_t end = milliseconds == UINT64_MAX ? UINT64_MAX : fake::MillisecondsNow() + milliseconds;
    for (int step = 0; step < 100000; ++step) {
        uint64_t now = 0;
        uint64_t next = UINT64_MAX;
        ASSERT_TRUE(fake::WaitUntil([&](const fake::Platform& p) {
            if (!(duringScans ? Parked(p) : Settled(p)))
                return false;
            now = p.monotonicMs;
            if (!p.parkedUntil.empty())
                next = *p.parkedUntil.begin();
            return true;
        }));
        const uint64_t to = std::min(next, end);
        if (to == UINT64_MAX || to <= now)
            return;
        fake::AdvanceClock(to - now);
    }
    FAIL() << "the watchers still wait with a time-out";
}

// The whole road of an event through running watchers, with the service
// stopped at the end of each test.
class WatchersTest : public PlatformTest {
protected:
    void SetUp() override
    {
        PlatformTest::SetUp();
        WriteFile(ProductFolder() / "db" / "db6", "Downloads\r\n");
        monitor = std::thread([] { RunMonitor(); });
        ASSERT_TRUE(fake::WaitUntil([](const fake::Platform& p) { return p.parkedWaits == 2; }));
    }

    void TearDown() override
    {
        StopService();
        PlatformTest::TearDown();
    }

    void StopService()
    {
        if (!monitor.joinable())
            return;
        fake::SetServiceAnswers({fake::ServiceAnswer{fake::ServiceAnswer::None, 0, 1}});
        monitor.join();
    }

    // Delivers a batch and lets one look's interval pass, so that the new
    // files that stay quiet meanwhile are scanned; waits until the watchers
    // are settled again.
    void Deliver(const std::wstring& root, const std::vector<unsigned char>& batch)
    {
        const int before = fake::TakenBatches();
        fake::DeliverBatch(root, batch);
        ASSERT_TRUE(fake::WaitUntil([&](const fake::Platform& p) { return p.takenBatches > before && Settled(p); }));
        Pass(ArrivedFiles::kLookEveryMs);
    }

    // Delivers a batch while scans are held and lets one look's interval
    // pass: the first new file in it is found quiet and its scan starts,
    // and runs until the test releases it.
    void DeliverAndStartScan(const std::wstring& root, const std::vector<unsigned char>& batch)
    {
        const int before = fake::TakenBatches();
        fake::DeliverBatch(root, batch);
        ASSERT_TRUE(fake::WaitUntil([&](const fake::Platform& p) { return p.takenBatches > before && Settled(p); }));
        fake::AdvanceClock(ArrivedFiles::kLookEveryMs);
        ASSERT_TRUE(fake::WaitUntil([](const fake::Platform& p) { return p.runningScans == 1 && p.parkedWaits == 2; }));
    }

    std::thread monitor;
};
