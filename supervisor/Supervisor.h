#pragma once

// The whole life of the monitor: start the library, poll the companion
// service every 100 ms while it runs and keep both watchers started, then
// stop them and shut down. Returns the exit status, always 0.
int RunMonitor();
