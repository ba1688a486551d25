#pragma once
#include <thread>

#include "supervisor/Supervisor.h"
#include "tests/unit/ChangeBatch.h"
#include "tests/unit/TestSupport.h"

// The whole road of an event through running watchers, with the service
// stopped at the end of each test.
class WatchersTest : public PlatformTest {
protected:
    void SetUp() override
    {
        PlatformTest::SetUp();
        WriteFile(ProductFolder() / "db" / "db6", "Downloads\r\n");
        monitor = std::thread([] { RunMonitor(); });
        ASSERT_TRUE(fake::WaitUntil([](fake::Platform& p) { return p.parkedWaits == 2; }));
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
        {
            std::lock_guard<std::mutex> lock(fake::State().mutex);
            fake::State().serviceAnswers = {fake::ServiceAnswer{fake::ServiceAnswer::None, 0, 1}};
        }
        monitor.join();
    }

    // Both watchers wait with nothing to do: parked, no scan running.
    static bool Idle(const fake::Platform& p) { return p.parkedWaits == 2 && p.runningScans == 0; }

    // Delivers a batch and waits until the watchers are idle again.
    void Deliver(const std::wstring& root, const std::vector<unsigned char>& batch)
    {
        const int before = fake::State().takenBatches;
        fake::DeliverBatch(root, batch);
        ASSERT_TRUE(fake::WaitUntil([&](fake::Platform& p) { return p.takenBatches > before && Idle(p); }));
    }

    std::vector<std::string> Scans()
    {
        std::lock_guard<std::mutex> lock(fake::State().mutex);
        return fake::State().scans;
    }

    // The command line for a candidate under a root.
    static std::string Scan(const std::string& root, const std::string& candidate)
    {
        return "clamdscan.exe --move=\"C:\\ProgramData\\Pelorin\\Vault\" \"" + root + "\\" +
               candidate + "\"";
    }

    std::thread monitor;
};
