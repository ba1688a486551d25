#pragma once
#include <wx/thread.h>

#include "watch/WatcherState.h" // hMonitorDir1 and hMonitorDir2

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
