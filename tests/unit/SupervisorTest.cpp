#include <type_traits>

#include "platform/DirectoryChanges.h"
#include "platform/ScannerProcess.h"
#include "platform/ServiceControl.h"
#include "platform/ThreadStop.h"
#include "product/ProductLayout.h"
#include "supervisor/Supervisor.h"
#include "tests/unit/TestSupport.h"
#include "watch/WatcherThreads.h"

namespace {

// The supervisor holds every kind of handle at some point of a stop: none
// may be passed for another, nor a raw system handle for any of them.
template <typename A, typename B>
constexpr bool kMixable = std::is_convertible_v<A, B> || std::is_convertible_v<B, A>;
static_assert(!kMixable<platform::DirHandle, platform::ProcessHandle>);
static_assert(!kMixable<platform::DirHandle, platform::ScHandle>);
static_assert(!kMixable<platform::DirHandle, platform::ThreadEnd>);
static_assert(!kMixable<platform::ProcessHandle, platform::ScHandle>);
static_assert(!kMixable<platform::ProcessHandle, platform::ThreadEnd>);
static_assert(!kMixable<platform::ScHandle, platform::ThreadEnd>);
static_assert(!std::is_convertible_v<void*, platform::DirHandle> &&
              !std::is_convertible_v<void*, platform::ProcessHandle> &&
              !std::is_convertible_v<void*, platform::ScHandle> &&
              !std::is_convertible_v<void*, platform::ThreadEnd>);

fake::ServiceAnswer Running()
{
    return fake::ServiceAnswer{};
}

fake::ServiceAnswer InState(uint32_t state)
{
    return fake::ServiceAnswer{fake::ServiceAnswer::None, 0, state};
}

bool Closed(platform::DirHandle handle)
{
    const std::vector<platform::DirHandle> closed = fake::ClosedDirectories();
    return std::find(closed.begin(), closed.end(), handle) != closed.end();
}

const std::string kAppDataAnnouncement = Entry("PELMON: AppData Dir Path: C:\\ProgramData");
const std::string kProfileAnnouncement = Entry("PELMON: Profile Dir Path: C:\\users");

} // namespace

class SupervisorTest : public PlatformTest {};

TEST_F(SupervisorTest, AnythingButRunningAtStartCreatesNoWatcher)
{
    std::vector<std::pair<fake::ServiceAnswer, std::string>> cases;
    for (uint32_t state : {1u, 2u, 3u, 5u, 6u, 7u, 0u, 99u})
        cases.push_back({InState(state), ""});
    // Not installed: one entry, and still status 0.
    cases.push_back({fake::ServiceAnswer{fake::ServiceAnswer::Service, 1060, 0},
                     Entry("In GetServiceStatusW: OpenServiceW failed with: Service does not exist.")});
    for (const auto& [answer, error] : cases) {
        SCOPED_TRACE(testing::Message() << "state " << answer.state << ", error " << answer.error);
        fake::Reset(scratch);
        std::filesystem::remove(ProductFolder() / kErrorFunctionLogs);
        fake::SetServiceAnswers({answer});
        fake::SetSystemMessages({{1060, "Service does not exist.\r\n"}});
        EXPECT_EQ(RunMonitor(), 0);
        EXPECT_EQ(fake::Probes(), 1u);
        EXPECT_EQ(fake::Sleeps(), 0);
        EXPECT_TRUE(fake::OpenedRoots().empty());
        EXPECT_EQ(hMonitorDir1, nullptr);
        EXPECT_EQ(hMonitorDir2, nullptr);
        EXPECT_FALSE(LogExists(kSuccessAppConLogs));
        EXPECT_EQ(LogExists(kErrorFunctionLogs), !error.empty());
        EXPECT_EQ(LogBytes(kErrorFunctionLogs), error);
    }
}

TEST_F(SupervisorTest, EveryStateButRunningAndAFailedProbeStopRunningWatchers)
{
    std::vector<std::pair<fake::ServiceAnswer, std::string>> cases;
    for (uint32_t state : {1u, 2u, 3u, 5u, 6u, 7u})
        cases.push_back({InState(state), ""});
    cases.push_back({fake::ServiceAnswer{fake::ServiceAnswer::Query, 6, 0},
                     Entry("In GetServiceStatusW: QueryServiceStatusEx failed with: The handle is invalid.")});
    for (const auto& [answer, error] : cases) {
        SCOPED_TRACE(testing::Message() << "state " << answer.state << ", error " << answer.error);
        fake::Reset(scratch);
        std::filesystem::remove(ProductFolder() / kSuccessAppConLogs);
        std::filesystem::remove(ProductFolder() / kErrorFunctionLogs);
        hMonitorDir1 = hMonitorDir2 = nullptr;
        fake::SetServiceAnswers({Running(), Running(), Running(), answer});
        fake::SetSystemMessages({{6, "The handle is invalid.\r\n"}});

        EXPECT_EQ(RunMonitor(), 0);

        EXPECT_EQ(fake::Probes(), 4u);
        EXPECT_EQ(fake::Sleeps(), 3);
        // Each watcher announced its root once, in either order.
        const std::string log = LogBytes(kSuccessAppConLogs);
        EXPECT_TRUE(log == kAppDataAnnouncement + kProfileAnnouncement ||
                    log == kProfileAnnouncement + kAppDataAnnouncement)
            << log;
        ASSERT_EQ(fake::OpenedRoots().size(), 2u) << "each watcher created once";
        EXPECT_TRUE(Closed(hMonitorDir1));
        EXPECT_TRUE(Closed(hMonitorDir2));
        EXPECT_EQ(fake::ClosedDirectories().size(), 2u);
        EXPECT_TRUE(fake::WatchdogArmed());
        EXPECT_EQ(LogBytes(kErrorFunctionLogs), error);
    }
}

TEST_F(SupervisorTest, WatcherWhoseRootCannotBeOpenedPublishesInvalidHandleAndEnds)
{
    fake::SetOpenableRoots({L"C:\\ProgramData"});
    fake::SetServiceAnswers({Running(), Running(), InState(1)});
    EXPECT_EQ(RunMonitor(), 0);
    EXPECT_EQ(hMonitorDir2, platform::InvalidDirHandle());
    EXPECT_FALSE(Closed(hMonitorDir2)) << "nothing is closed for a root that never opened";
    EXPECT_TRUE(Closed(hMonitorDir1));
    EXPECT_EQ(fake::ClosedDirectories().size(), 1u);
    EXPECT_NE(LogBytes(kSuccessAppConLogs).find(kProfileAnnouncement), std::string::npos);
}

TEST_F(SupervisorTest, UnresolvableProgramDataStopsOnlyTheProgramDataWatcher)
{
    fake::SetProgramDataFound(false);
    std::filesystem::create_directories(scratch / "Pelorin");
    fake::SetServiceAnswers({Running(), Running(), InState(1)});
    EXPECT_EQ(RunMonitor(), 0);

    EXPECT_EQ(hMonitorDir1, platform::InvalidDirHandle());
    EXPECT_TRUE(Closed(hMonitorDir2)) << "the profiles watcher kept running";
    const std::string log = FallbackLogBytes(kSuccessAppConLogs);
    EXPECT_NE(log.find(Entry("PELMON: AppData Dir Path: ")), std::string::npos);
    EXPECT_NE(log.find(kProfileAnnouncement), std::string::npos);
}

TEST_F(SupervisorTest, ProfilesRootThatCannotBeReadIsAnnouncedEmpty)
{
    fake::SetProfilesRootFound(false);
    fake::SetServiceAnswers({Running(), InState(7)});
    EXPECT_EQ(RunMonitor(), 0);
    EXPECT_NE(LogBytes(kSuccessAppConLogs).find(Entry("PELMON: Profile Dir Path: ")),
              std::string::npos);
    EXPECT_EQ(hMonitorDir2, platform::InvalidDirHandle());
}

TEST_F(SupervisorTest, WatcherWhoseLoopEndedEarlyIsStoppedAndItsHandleClosed)
{
    // A refused change request ends the loop; the watcher is finished, not
    // parked, when the service stops, and is neither restarted nor killed.
    fake::RefuseChangeRequests();
    fake::SetSystemMessages({{5, "Access is denied.\r\n"}});
    fake::SetServiceAnswers({Running(), Running(), Running(), InState(1)});
    EXPECT_EQ(RunMonitor(), 0);
    EXPECT_EQ(fake::OpenedRoots().size(), 2u);
    EXPECT_TRUE(Closed(hMonitorDir1));
    EXPECT_TRUE(Closed(hMonitorDir2));
    // Each says so, with the system's text.
    const std::string log = LogBytes(L"ErrorFunctionLogs.txt");
    for (const char* root : {"C:\\ProgramData", "C:\\users"})
        EXPECT_NE(log.find(Entry(std::string("In ReadDirectoryChangesW: the watch of \"") + root +
                                 "\" ended: Access is denied; new files there are not scanned.")),
                  std::string::npos)
            << log;
}

TEST_F(SupervisorTest, MonitorCanBeRunAgainAfterAStop)
{
    // The kill gates return to their initial state once a watcher is gone.
    for (int run = 0; run < 3; ++run) {
        fake::Reset(scratch);
        fake::SetServiceAnswers({Running(), InState(1)});
        EXPECT_EQ(RunMonitor(), 0);
        EXPECT_EQ(fake::ClosedDirectories().size(), 2u);
    }
}
