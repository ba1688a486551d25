// The recovery's pacing against the watcher's other work, on the doubles'
// clock: each batch of a listing takes kBatchMs of it.
#include "platform/WatcherWait.h"
#include "tests/unit/TestSupport.h"
#include "watch/intake/ChangeIntake.h"
#include "watch/intake/ClockMark.h"
#include "watch/intake/Recovery.h"

namespace {

const std::wstring kRoot = L"C:\\ProgramData";
constexpr uint64_t kBatchMs = 10;

class RecoveryPacingTest : public PlatformTest {
protected:
    void SetUp() override
    {
        PlatformTest::SetUp();
        fake::SetListingBatch(1);
        fake::SetListingBatchMilliseconds(kBatchMs);
    }

    // A file made while the system lost its records.
    void LoseNewFile(const std::wstring& name)
    {
        const ClockMark from = ReadClocks();
        fake::AdvanceClock(1);
        const uint64_t now = fake::FileTimeNow();
        fake::SetTreeEntry(kRoot + L"\\" + name, fake::TreeEntry{false, false, now, now, now});
        fake::AdvanceClock(1);
        intake.Losses().Widen(from, ReadClocks());
    }

    // Steps until the pass has handed its result over; the time it listed.
    uint64_t FinishPass()
    {
        const int batches = fake::ListingBatches();
        do
            EXPECT_TRUE(recovery.Step());
        while (recovery.Active() && !HasFailure());
        return (fake::ListingBatches() - batches) * kBatchMs;
    }

    // Only the bookkeeping of the intake is used: no request is issued.
    platform::ChangeRequest& request = *platform::CreateChangeRequest(platform::InvalidDirHandle(), 0);
    WatchStats stats;
    ChangeIntake intake{request, 2048, 2048, stats};
    Recovery recovery{intake, kRoot, stats};
};

} // namespace

TEST_F(RecoveryPacingTest, WhileNamesWaitAStepComesOnceANameWasOfferedAndAsLongAfterTheLastAsItTook)
{
    LoseNewFile(L"a.exe");
    LoseNewFile(L"b.exe");
    LoseNewFile(L"c.exe");
    // With nothing else to do, a step is taken at once.
    ASSERT_TRUE(recovery.Step());
    const uint64_t ended = fake::MillisecondsNow();
    ASSERT_EQ(fake::ListingBatches(), 1);

    EXPECT_FALSE(recovery.StepWhileNamesWait(ended + 100 * kBatchMs)) << "no name was offered since";
    recovery.NameOffered();
    EXPECT_FALSE(recovery.StepWhileNamesWait(ended + kBatchMs - 1)) << "the step took kBatchMs";
    EXPECT_EQ(fake::ListingBatches(), 1);
    EXPECT_TRUE(recovery.StepWhileNamesWait(ended + kBatchMs));
    EXPECT_EQ(fake::ListingBatches(), 2);
    EXPECT_FALSE(recovery.StepWhileNamesWait(ended + 100 * kBatchMs)) << "the names' turn again";
    EXPECT_EQ(fake::ListingBatches(), 2);
}

TEST_F(RecoveryPacingTest, APassForLostTimeThatFollowsAnotherRestsAsLongAsThatOneListed)
{
    LoseNewFile(L"a.exe");
    LoseNewFile(L"b.exe");
    ASSERT_TRUE(recovery.Step());
    // Lost while the pass lists: the next pass's.
    LoseNewFile(L"c.exe");
    const uint64_t listed = kBatchMs + FinishPass();
    ASSERT_EQ(stats.recoveryPasses, 1u);
    EXPECT_EQ(recovery.WaitFor(fake::MillisecondsNow()).milliseconds, listed);

    const int listings = fake::Listings();
    fake::AdvanceClock(listed - 1);
    EXPECT_FALSE(recovery.Step());
    EXPECT_EQ(fake::Listings(), listings);
    EXPECT_EQ(recovery.WaitFor(fake::MillisecondsNow()).milliseconds, 1u);
    fake::AdvanceClock(1);
    EXPECT_TRUE(recovery.Step());
    EXPECT_EQ(fake::Listings(), listings + 1);
}

TEST_F(RecoveryPacingTest, TimeParkedForAFolderFirstReadCountsTowardThePass)
{
    constexpr uint64_t kParkedMs = 70;
    fake::HoldFirstReads(true);
    LoseNewFile(L"a.exe");
    EXPECT_FALSE(recovery.Step()) << "the first read still runs";
    const Recovery::Wait wait = recovery.WaitFor(fake::MillisecondsNow());
    ASSERT_NE(wait.reading, nullptr);
    EXPECT_EQ(wait.milliseconds, platform::kWaitForever) << "a pass runs: none rests";

    fake::AdvanceClock(kParkedMs);
    recovery.ParkedOnFirstRead(kParkedMs);
    fake::HoldFirstReads(false);
    LoseNewFile(L"b.exe");
    const uint64_t listed = FinishPass();
    ASSERT_EQ(stats.recoveryPasses, 1u);
    EXPECT_EQ(recovery.WaitFor(fake::MillisecondsNow()).milliseconds, kParkedMs + listed);
    EXPECT_EQ(stats.recoveryMilliseconds, kParkedMs + listed);
}
