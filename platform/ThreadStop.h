#pragma once

class wxThread;

namespace platform {

// What it takes to wait for a thread's real end after wxThread::Kill, which
// may return before the thread has ended (TerminateThread is asynchronous)
// and, on Windows, closes the thread's own handle. Taken just before Kill.
struct ThreadEndTag;
using ThreadEnd = ThreadEndTag*;
ThreadEnd PrepareToAwaitEnd(wxThread& thread);

// After Kill: waits until the thread has really ended, at most
// `milliseconds`, and releases `end`. False when it had not ended by then.
bool AwaitThreadEnd(ThreadEnd end, wxThread& thread, unsigned milliseconds);

// Releases `end` without waiting, when the thread was not running.
void ReleaseThreadEnd(ThreadEnd end);

// Last resort for the stop: if the process is still alive after
// `milliseconds`, it ends at once with exit status 0.
void ArmStopWatchdog(unsigned milliseconds);

} // namespace platform
