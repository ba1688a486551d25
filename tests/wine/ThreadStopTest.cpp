// The wait for a killed watcher's real end, with the Win32 adapter.
// TerminateThread may return before the thread has ended, so the stop waits
// on a handle of its own (the library closes the thread's own in Kill);
// here a thread that ends only when the test lets it stands for such a
// kill, so nothing depends on how long anything takes.
#include <gtest/gtest.h>
#include <windows.h>
#include <wx/thread.h>

#include <atomic>

#include "platform/ThreadStop.h"

namespace {

// Long enough for any thread that can end to do so: it only turns a hang
// into a failure.
constexpr DWORD kHangMilliseconds = 10000;

// Blocks until `release` is set, and then ends.
class EndsWhenReleased : public wxThread {
public:
    EndsWhenReleased() : wxThread(wxTHREAD_JOINABLE) {}
    ~EndsWhenReleased() override
    {
        CloseHandle(started);
        CloseHandle(release);
    }

    const HANDLE started = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> ended{false};

protected:
    ExitCode Entry() override
    {
        SetEvent(started);
        WaitForSingleObject(release, INFINITE);
        ended = true; // its very last act
        return nullptr;
    }
};

// Lets the thread go and joins it, however the test ends.
struct Joined {
    EndsWhenReleased& thread;
    ~Joined()
    {
        SetEvent(thread.release);
        thread.Wait();
    }
};

} // namespace

TEST(Win32ThreadStopTest, WaitsUntilTheThreadHasReallyEndedAndNoLonger)
{
    EndsWhenReleased thread;
    ASSERT_NE(thread.started, nullptr);
    ASSERT_NE(thread.release, nullptr);
    ASSERT_EQ(thread.Create(), wxTHREAD_NO_ERROR);
    ASSERT_EQ(thread.Run(), wxTHREAD_NO_ERROR);
    const Joined joined{thread};
    ASSERT_EQ(WaitForSingleObject(thread.started, kHangMilliseconds), WAIT_OBJECT_0);

    // Blocked, it cannot end by itself: the wait runs out, whatever its bound.
    const platform::ThreadEnd blocked = platform::PrepareToAwaitEnd(thread);
    ASSERT_NE(blocked, nullptr);
    EXPECT_FALSE(platform::AwaitThreadEnd(blocked, thread, 50));
    EXPECT_FALSE(thread.ended);

    // A handle of the test's own, to see for itself whether the thread ended.
    HANDLE own = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), static_cast<HANDLE>(thread.MSWGetHandle()),
                                GetCurrentProcess(), &own, SYNCHRONIZE, FALSE, 0));
    const platform::ThreadEnd released = platform::PrepareToAwaitEnd(thread);
    ASSERT_NE(released, nullptr);
    SetEvent(thread.release);
    EXPECT_TRUE(platform::AwaitThreadEnd(released, thread, kHangMilliseconds));
    // Returned only once the thread had ended, not merely been let go.
    EXPECT_EQ(WaitForSingleObject(own, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(thread.ended);
    CloseHandle(own);
}
