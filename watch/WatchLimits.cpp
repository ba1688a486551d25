#include "watch/WatchLimits.h"

// 64 KiB is the largest request that also works for network shares.
#ifndef PELMON_NOTIFY_BUFFER_BYTES
#define PELMON_NOTIFY_BUFFER_BYTES 65536
#endif
// 16 MiB holds about 200,000 pending names of typical length: a flood of
// that many new files during one scan is taken in whole. Beyond it the
// watcher finds what it had to refuse by listing its tree, which costs time
// but no memory.
#ifndef PELMON_PENDING_BYTES
#define PELMON_PENDING_BYTES (16u << 20)
#endif

const WatchLimits kWatchLimits{PELMON_NOTIFY_BUFFER_BYTES, PELMON_PENDING_BYTES};
