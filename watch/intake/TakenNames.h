#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <unordered_map>

#include "watch/intake/ClockMark.h"

// The names taken in lately, from change records or by a recovery, with
// when, so that a recovery does not hand back again what was taken in
// already. Bounded in bytes: beyond the bound the oldest are forgotten, and
// a recovery may then hand such a name back, to be scanned a second time.
class TakenNames {
public:
    explicit TakenNames(std::size_t byteLimit) : m_limit(byteLimit) {}

    // What one name is charged: its units plus what holding it costs.
    static std::size_t CostOf(const std::u16string& name);

    void Add(const ClockMark& takenAt, const std::u16string& name);
    // Forgets what was taken before this monotonic time.
    void ForgetBefore(uint64_t monotonicMs);
    // True when `name` was taken in and the entry has not changed since:
    // `latest`, its latest file time, is not after the wall time it was
    // taken at. A download renamed over a name taken in a moment earlier is
    // new again.
    bool TakenSince(const std::u16string& name, platform::FileTime latest) const;
    // The wall clock was set back `by` after this monotonic time. For a
    // name taken in before, a file time up to that much below the time it
    // was taken at may have been stamped after the step: such an entry
    // counts as changed since (a second scan at worst).
    void WallClockSetBack(uint64_t monotonicMs, platform::FileTime by);

    std::size_t Bytes() const { return m_bytes; }
    // Names forgotten to stay within the bound, ever.
    uint64_t ForgottenByBound() const { return m_forgottenByBound; }

private:
    struct Taken {
        std::size_t count = 0;
        ClockMark at; // when it was taken in last
    };
    struct Slot {
        uint64_t monotonicMs;
        const std::u16string* name; // the map's key, stable while it is there
    };

    void ForgetOldest();

    std::size_t m_limit;
    std::size_t m_bytes = 0;
    uint64_t m_forgottenByBound = 0;
    std::deque<Slot> m_order;
    std::unordered_map<std::u16string, Taken> m_names;
    uint64_t m_setBackAt = 0;
    platform::FileTime m_setBackBy = 0; // all steps back together
};
