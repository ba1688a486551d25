// The wait for a killed watcher's real end, with the Win32 adapter.
// TerminateThread may return before the thread has ended, so the stop waits
// on a handle of its own (the library closes the thread's own in Kill);
// here a thread that ends by itself a little later stands for such a kill.
#include <gtest/gtest.h>
#include <windows.h>
#include <wx/thread.h>

#include <atomic>

#include "platform/ThreadStop.h"

namespace {

class EndsLater : public wxThread {
public:
    explicit EndsLater(DWORD milliseconds) : wxThread(wxTHREAD_JOINABLE), m_milliseconds(milliseconds) {}
    std::atomic<bool> ended{false};

protected:
    ExitCode Entry() override
    {
        Sleep(m_milliseconds);
        ended = true;
        return nullptr;
    }

private:
    DWORD m_milliseconds;
};

} // namespace

TEST(Win32ThreadStopTest, WaitsUntilTheThreadHasEndedWithinItsBound)
{
    EndsLater soon(300);
    ASSERT_EQ(soon.Create(), wxTHREAD_NO_ERROR);
    ASSERT_EQ(soon.Run(), wxTHREAD_NO_ERROR);
    EXPECT_TRUE(platform::AwaitThreadEnd(platform::PrepareToAwaitEnd(soon), soon, 5000));
    EXPECT_TRUE(soon.ended);
    soon.Wait();

    EndsLater late(1000);
    ASSERT_EQ(late.Create(), wxTHREAD_NO_ERROR);
    ASSERT_EQ(late.Run(), wxTHREAD_NO_ERROR);
    EXPECT_FALSE(platform::AwaitThreadEnd(platform::PrepareToAwaitEnd(late), late, 50));
    EXPECT_FALSE(late.ended);
    late.Wait();
}
