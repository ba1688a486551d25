#pragma once
// For the doubles alone: the shared state itself, and what one double needs
// of another. Tests go through FakePlatform.h.
#include <sys/stat.h>

#include "platform/FileAccess.h"
#include "platform/ScannerProcess.h"
#include "tests/doubles/FakePlatform.h"

namespace fake {

Platform& State();

// Runs `change` on the state under its lock and wakes the waiters.
template <typename Change> void Update(Change change)
{
    Platform& p = State();
    std::lock_guard<std::mutex> lock(p.mutex);
    change(p);
    p.changed.notify_all();
}

// One field of the state, read or written under its lock.
template <typename T> T Read(T PlatformData::*field)
{
    Platform& p = State();
    std::lock_guard<std::mutex> lock(p.mutex);
    return p.*field;
}

template <typename T, typename V> void Set(T PlatformData::*field, V value)
{
    Update([&](Platform& p) { p.*field = std::move(value); });
}

// With the state's lock held: no batch waits for any earlier watcher.
void ForgetRequests();
// A file's stamp from what the host says of it; times in FILETIME units.
platform::FileStamp StampOfHostFile(const std::wstring& path, const struct stat& info);
void ResetScanner();
// The descriptor that becomes readable when the scan ends.
int ProcessExitDescriptor(platform::ProcessHandle process);

} // namespace fake
