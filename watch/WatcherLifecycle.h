#pragma once
#include "watch/WatcherState.h"

// Starting and stopping the watcher threads. The supervisor decides when;
// how a watcher is started, and stopped without ever hanging the stop, is
// decided here.

// Creates and starts the watcher of this kind, unless it has been created
// before in this process: a watcher whose thread ended is never restarted.
// Its recent-name cache starts empty.
void StartWatcher(WatcherKind kind);

// Stops the watcher if it was created. Once its kill gate is taken it is
// parked in its one blocking wait, or its Entry has returned; it is then
// killed (or joined), its published directory handle is closed, and its
// thread object deleted. A scan it started runs on to its own end.
void StopWatcher(WatcherKind kind);
