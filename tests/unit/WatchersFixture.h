#pragma once
#include <thread>

#include "supervisor/Supervisor.h"
#include "tests/unit/ChangeBatch.h"
#include "tests/unit/TestSupport.h"

// Both watchers wait with nothing to do: parked, no scan running.
inline bool Idle(const fake::Platform& p)
{
    return p.parkedWaits == 2 && p.runningScans == 0;
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

    // Delivers a batch and waits until the watchers are idle again.
    void Deliver(const std::wstring& root, const std::vector<unsigned char>& batch)
    {
        const int before = fake::TakenBatches();
        fake::DeliverBatch(root, batch);
        ASSERT_TRUE(fake::WaitUntil([&](const fake::Platform& p) { return p.takenBatches > before && Idle(p); }));
    }

    std::thread monitor;
};
