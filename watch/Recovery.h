#pragma once
#include <cstddef>
#include <deque>
#include <functional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/DirectoryListing.h"

// The names taken in from change records lately, with when, so that a
// recovery does not offer a second time what the records delivered.
class TakenNames {
public:
    explicit TakenNames(std::size_t capacity) : m_capacity(capacity) {}

    // Beyond the capacity the oldest names are forgotten: at worst such a
    // name meets the recent-name cache a second time.
    void Add(platform::FileTime takenAt, const std::u16string& name);
    void ForgetBefore(platform::FileTime time);
    bool Contains(const std::u16string& name) const;

private:
    void ForgetOldest();

    std::size_t m_capacity;
    std::deque<std::pair<platform::FileTime, std::u16string>> m_order;
    std::unordered_map<std::u16string, std::size_t> m_counts;
};

// Finds what a watcher missed when the system lost change records. The
// lost records cover a window of time; every entry of the tree whose
// creation, last write or last change lies in that window is found by
// listing the tree, as Microsoft documents for this case, and handed back
// in path order. Reparse points are listed but never entered, and folders
// that cannot be read are skipped.
class Recovery {
public:
    // Records of changes from `start` up to `end` may be missing. Windows
    // are handled oldest first; one that adjoins a window not yet begun is
    // merged into it, and no time is covered twice.
    void ScheduleLoss(platform::FileTime start, platform::FileTime end);

    bool Pending() const { return !m_windows.empty(); }
    // The start of the oldest window still to be recovered; the largest
    // time when there is none.
    platform::FileTime EarliestStart() const;

    struct Pass {
        std::vector<std::u16string> found; // in path order
        bool more = false;                 // the budget cut the list short
        std::size_t listed = 0;            // entries looked at
    };

    // Lists the tree below `root` for the oldest window and collects, in
    // path order, the first names past what earlier passes handed back,
    // as many as `budgetBytes` of pending names hold (at least one).
    // `keepGoing` runs before each folder; when it answers false the pass
    // is abandoned and nothing changes.
    bool Collect(const std::wstring& root, std::size_t budgetBytes,
                 const std::function<bool()>& keepGoing, Pass& pass);

    // After the caller has dealt with the first `taken` names of the pass:
    // the window is done, or the next pass goes on after the last of them.
    void Advance(const Pass& pass, std::size_t taken);

private:
    struct Window {
        platform::FileTime start;
        platform::FileTime end;
        std::u16string after; // names up to this one were handed back
        bool begun = false;   // a pass has looked at it: it no longer grows
    };
    std::deque<Window> m_windows;
    platform::FileTime m_coveredUntil = 0;
};
