#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "platform/FileAccess.h"
#include "watch/RescanSpacing.h"

// New files until they are quiet, and every file the watcher has scanned
// since, for what its last scan saw. A file is scanned once it is quiet: no
// writer holds it open as far as can be told without refusing one, and two
// looks at least a quarter of a second apart find the same size and
// last-write time, with no change reported for it in between. A file that
// is not quiet is set aside and looked at again; one that never becomes
// quiet is scanned a minute after it arrived all the same, and stays set
// aside. After its scan a file is watched: a change reported for it sets
// it aside again, and it is scanned again once it is quiet, when its size
// or last-write time differ from what its last scan saw, with its scans
// spaced out while it goes on changing (see RescanSpacing). A change to a
// file not held here (one that was there before the watch began, or was
// forgotten) sets it aside too: content replaced in place is new content.
// So a writer that pauses, closes and reopens, or writes for longer than a
// minute, has its final content scanned; reading it (the scanner does)
// changes nothing.
//
// Bounded in bytes like the pending queue. A file that does not fit first
// makes the watched files go, those scanned longest ago first (what is
// written to them later is scanned as a change to a file not held), then
// files set aside again after their scan; a file not yet scanned is never
// dropped, so a file that still does not fit waits, and so does everything
// behind it.
class ArrivedFiles {
public:
    // Looks at a file set aside for the first scan of a run this often;
    // at one that waits for a longer quiet, as often as that needs.
    static constexpr uint64_t kLookEveryMs = 250;
    // After a reported change, the first of two looks waits this long, so a
    // writer pausing up to about half a second between parts is one burst.
    static constexpr uint64_t kSettleMs = 350;
    static_assert(kLookEveryMs == RescanSpacing::kFirstQuietMs, "a new file's quiet is one look's interval");

    // `firstScanLimitMs`: when a file that never becomes quiet is scanned;
    // `longestSpacingMs`: the longest spacing of the scans of a file that
    // keeps changing (see RescanSpacing).
    ArrivedFiles(std::size_t byteLimit, uint64_t firstScanLimitMs, uint64_t longestSpacingMs);
    ArrivedFiles(const ArrivedFiles&) = delete;
    ArrivedFiles& operator=(const ArrivedFiles&) = delete;

    // What one file is charged: its name in the list and in the index.
    static std::size_t CostOf(const std::u16string& name);

    // Makes room for a file by this name if it can; false when every place
    // is taken by a file not yet scanned. (The time is no longer needed.)
    bool MakeRoomFor(const std::u16string& name, uint64_t nowMs);

    // A new file, after MakeRoomFor, with the first look at it: set aside
    // until it is quiet. A file already known by the name starts over.
    // `since`: that of the change that named it (see PendingChange).
    // `listed`: found by listing a folder that arrived.
    void Arrived(const std::u16string& name, const platform::ArrivalLook& look, uint64_t nowMs,
                 platform::FileTime since, bool listed = false);

    // Whether a file by this name is set aside or watched, and how it came:
    // by a record of its own, or listed with its folder.
    enum class Held { No, ByRecord, ByListing };
    Held HeldAs(const std::u16string& name) const;

    // The system reported a change to the content of `name`. False when no
    // file by that name is held here.
    bool Changed(const std::u16string& name, uint64_t nowMs);
    // The same for a file not held here, after MakeRoomFor, with the first
    // look at it: set aside until it is quiet, as a new file; its scan is a
    // rescan. `since` as Arrived's.
    void ChangedUnheld(const std::u16string& name, const platform::ArrivalLook& look, uint64_t nowMs,
                       platform::FileTime since);

    bool SetAside() const { return !m_setAside.empty(); }
    // Files set aside that were never scanned; counted, for reports only.
    std::size_t NotYetScanned() const;
    std::size_t SetAsideCount() const { return m_setAside.size(); }
    // How long until the next look is due; only while files are set aside.
    uint64_t MillisecondsToNextLook(uint64_t nowMs) const;

    enum class Step { None, Looked, Scan, Rescan, Folder };
    // Takes the due look that comes first in the order the files were set
    // aside. Scan: `name` is to be scanned now, a new file. Rescan: `name`
    // is to be scanned now for a change, behind every new file. Folder: a
    // folder now has the name `name`, and is forgotten here. None: no look
    // is due. With Scan, Rescan and Folder, `since` is the file's.
    Step LookAtNext(uint64_t nowMs, const std::function<platform::ArrivalLook(const std::u16string&)>& lookAt,
                    std::u16string& name, platform::FileTime& since);

    // The earliest `since` of the files set aside, whose content is still
    // to be scanned; `none` when there is none. A watched file's content
    // was scanned: it holds nothing back.
    platform::FileTime OldestSince(platform::FileTime none) const;

    std::size_t Bytes() const { return m_bytes; }

private:
    struct File {
        File(std::u16string fileName, RescanSpacing fileSpacing)
            : name(std::move(fileName)), spacing(fileSpacing)
        {
        }
        std::u16string name;
        platform::FileTime since = 0; // kept when it is set aside again: earlier is safe
        bool listed = false;
        bool changedInPlace = false; // offered for a change, not an arrival
        bool setAside = true;
        bool scanned = false;
        uint64_t nextLookMs = 0;
        // No look before this counts as the first of two: a change was
        // reported just before it.
        uint64_t settledFromMs = 0;
        bool hasReference = false;
        platform::ArrivalLook reference; // the first of the two looks
        uint64_t referenceMs = 0;
        platform::ArrivalLook scannedLook; // what the last scan saw
        RescanSpacing spacing;
    };
    using List = std::list<File>;

    void Forget(List::iterator file);
    void Watch(List::iterator file);
    Step HandOver(File& file, const platform::ArrivalLook& look, uint64_t nowMs, std::u16string& name);

    std::size_t m_limit;
    uint64_t m_firstScanLimitMs;
    uint64_t m_longestSpacingMs;
    std::size_t m_bytes = 0;
    List m_setAside; // in the order they were set aside
    List m_watched;  // in the order they were scanned
    // By name; the keys are views of the names in the lists' nodes.
    std::unordered_map<std::u16string_view, List::iterator> m_index;
};
