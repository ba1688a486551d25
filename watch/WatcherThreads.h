#pragma once
#include <wx/thread.h>

#include "platform/DirectoryChanges.h"

// Directory handles published by the watchers for the supervisor to close
// at stop. Null until the watcher has tried to open its root; then the
// result of the open, INVALID_HANDLE_VALUE included.
extern platform::DirHandle hMonitorDir1;
extern platform::DirHandle hMonitorDir2;

// Watches the machine-wide program-data folder.
class ThreadMonitorDir1 : public wxThread {
public:
    ThreadMonitorDir1() : wxThread(wxTHREAD_JOINABLE) {}

protected:
    ExitCode Entry() override;
};

// Watches the root folder of all user profiles.
class ThreadMonitorDir2 : public wxThread {
public:
    ThreadMonitorDir2() : wxThread(wxTHREAD_JOINABLE) {}

protected:
    ExitCode Entry() override;
};
