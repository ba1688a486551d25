#pragma once

class wxThread;

namespace platform {

// Called right after wxThread::Kill returned for a thread that was running.
// On Windows the thread is already gone; elsewhere cancellation is deferred
// and the thread must be joined before its object may be deleted.
void AwaitKilledThread(wxThread& thread);

// Last resort for the stop: if the process is still alive after
// `milliseconds`, it ends at once with exit status 0.
void ArmStopWatchdog(unsigned milliseconds);

} // namespace platform
