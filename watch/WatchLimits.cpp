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

// 32 MiB remembers about 180,000 names of typical length taken in since
// lost time began (128 bytes plus 2 per character each): 25 s of a flood of
// 7,000 new files a second. A window lasts from before one pass to the end
// of the next, which such a flood stretched beyond the 13 s that half of
// this held. Beyond it the oldest are forgotten, and a recovery may hand
// such a name back: a second scan at worst, and a longer pass, which makes
// the next window longer still.
#ifndef PELMON_TAKEN_BYTES
#define PELMON_TAKEN_BYTES (32u << 20)
#endif

// Files the scanner failed for, tried again when it works. While it fails,
// no new file is handed to it (they stay in the pending queue), so this
// holds the few that were being scanned as it began to fail: 1 MiB, some
// 3,000 names, is far more than that.
#ifndef PELMON_WAITING_BYTES
#define PELMON_WAITING_BYTES (1u << 20)
#endif

// Files the scanner could not read while it read others (held open by a
// program that shares nothing, say), each tried again alone. Such files are
// few; 1 MiB holds some 3,000 names.
#ifndef PELMON_RETRY_BYTES
#define PELMON_RETRY_BYTES (1u << 20)
#endif

// Files until they are quiet, and what the last scan of each saw, charged
// twice the cost of a pending name each: 4 MiB is some 11,000 names of
// typical length, more than a desktop makes in ten minutes outside a
// flood. The files scanned longest ago are forgotten first.
#ifndef PELMON_ARRIVED_BYTES
#define PELMON_ARRIVED_BYTES (4u << 20)
#endif

// A writer that never stops holds up its file's first scan this long.
#ifndef PELMON_FIRST_SCAN_LIMIT_MS
#define PELMON_FIRST_SCAN_LIMIT_MS 60000
#endif
// The scans of a file that keeps changing are never further apart than
// this, and once its spacing has grown to it no closer: some six scans an
// hour. One left alone this long after a scan starts its spacing over at
// its next change.
#ifndef PELMON_LONGEST_RESCAN_SPACING_MS
#define PELMON_LONGEST_RESCAN_SPACING_MS 600000
#endif

// A scanner call is ended once it has run this long: 2 minutes, the time
// clamd gives one file's scan before it gives up on it (its MaxScanTime by
// default), plus 5 s a file, in which clamd reads a file of its default
// size limit (100 MB) at 20 MB/s, for 64 files at most however many a call
// carries (see ScannerStage). A call so has 7 minutes 20 s at most; a
// client that hangs costs its watcher no more, while the watcher goes on
// gathering the next call.
#ifndef PELMON_CALL_BASE_MS
#define PELMON_CALL_BASE_MS 120000
#endif
#ifndef PELMON_CALL_PER_FILE_MS
#define PELMON_CALL_PER_FILE_MS 5000
#endif

const WatchLimits kWatchLimits{PELMON_NOTIFY_BUFFER_BYTES, PELMON_PENDING_BYTES,       PELMON_TAKEN_BYTES,
                               PELMON_WAITING_BYTES,       PELMON_RETRY_BYTES,         PELMON_ARRIVED_BYTES,
                               PELMON_FIRST_SCAN_LIMIT_MS, PELMON_LONGEST_RESCAN_SPACING_MS, PELMON_CALL_BASE_MS,
                               PELMON_CALL_PER_FILE_MS};
