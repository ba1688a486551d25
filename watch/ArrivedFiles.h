#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/FileAccess.h"

// New files from their arrival until some minutes after it. A file is
// scanned once it is quiet: no writer holds it open as far as can be told
// without refusing one, and two looks at least a quarter of a second apart
// find the same size and last-write time, with no change reported for it in
// between. A file that is not quiet is set aside and looked at again every
// quarter of a second; one that never becomes quiet is scanned a minute
// after it arrived all the same, and stays set aside. After its scan a file
// is watched: a change reported for it while it is young sets it aside
// again, and it is scanned again once it is quiet, when its size or
// last-write time differ from what its last scan saw. So a writer that
// pauses, closes and reopens, or writes for longer than a minute, has its
// final content scanned; reading it (the scanner does) changes nothing.
//
// Bounded in bytes like the pending queue. A new file that does not fit
// first makes the watched files go, those scanned longest ago first (what is
// written to them later is then not scanned), then files set aside again
// after their scan; a file not yet scanned is never dropped, so a new file
// that still does not fit waits, and so does everything behind it.
class ArrivedFiles {
public:
    // Looks at a file set aside, this often.
    static constexpr uint64_t kLookEveryMs = 250;
    // After a reported change, the first of two looks waits this long, so a
    // writer pausing up to about half a second between parts is one burst.
    static constexpr uint64_t kSettleMs = 350;

    // `firstScanLimitMs`: when a file that never becomes quiet is scanned;
    // `watchForMs`: how long after its arrival a change to it is scanned.
    ArrivedFiles(std::size_t byteLimit, uint64_t firstScanLimitMs, uint64_t watchForMs);
    ArrivedFiles(const ArrivedFiles&) = delete;
    ArrivedFiles& operator=(const ArrivedFiles&) = delete;

    // What one file is charged: its name in the list and in the index.
    static std::size_t CostOf(const std::u16string& name);

    // Makes room for a new file by this name if it can; false when every
    // place is taken by a file not yet scanned.
    bool MakeRoomFor(const std::u16string& name, uint64_t nowMs);

    // A new file, after MakeRoomFor, with the first look at it: set aside
    // until it is quiet. A file already known by the name starts over.
    // `since`: that of the change that named it (see PendingChange).
    // `listed`: found by listing a folder that arrived.
    void Arrived(const std::u16string& name, const platform::ArrivalLook& look, uint64_t nowMs,
                 platform::FileTime since, bool listed = false);

    // Whether a file by this name is set aside, or watched while young, and
    // how it came: by a record of its own, or listed with its folder.
    enum class Held { No, ByRecord, ByListing };
    Held HeldAs(const std::u16string& name, uint64_t nowMs) const;

    // The system reported a change to the content of `name`.
    void Changed(const std::u16string& name, uint64_t nowMs);

    bool SetAside() const { return !m_setAside.empty(); }
    std::size_t SetAsideCount() const { return m_setAside.size(); }
    // How long until the next look is due; only while files are set aside.
    uint64_t MillisecondsToNextLook(uint64_t nowMs) const;

    enum class Step { None, Looked, Scan, Folder };
    // Takes the due look that comes first in the order the files were set
    // aside. Scan: `name` is to be scanned now. Folder: a folder now has
    // the name `name`, and is forgotten here. None: no look is due. With
    // Scan and Folder, `since` is the file's.
    Step LookAtNext(uint64_t nowMs, const std::function<platform::ArrivalLook(const std::u16string&)>& lookAt,
                    std::u16string& name, platform::FileTime& since);

    // The earliest `since` of the files set aside, whose content is still
    // to be scanned; `none` when there is none. A watched file's content
    // was scanned: it holds nothing back.
    platform::FileTime OldestSince(platform::FileTime none) const;

    std::size_t Bytes() const { return m_bytes; }

private:
    struct File {
        std::u16string name;
        uint64_t arrivedMs = 0;
        platform::FileTime since = 0; // kept when it is set aside again: earlier is safe
        bool listed = false;
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
    };
    using List = std::list<File>;

    void Forget(List::iterator file);
    void Watch(List::iterator file);

    std::size_t m_limit;
    uint64_t m_firstScanLimitMs;
    uint64_t m_watchForMs;
    std::size_t m_bytes = 0;
    List m_setAside; // in the order they were set aside
    List m_watched;  // in the order they were scanned
    // By name; the keys are views of the names in the lists' nodes.
    std::unordered_map<std::u16string_view, List::iterator> m_index;
};
