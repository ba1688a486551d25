#include "watch/ArrivedFiles.h"
#include "watch/names/NameCost.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "watch/Invariant.h"
#include "watch/intake/PendingChanges.h"

namespace {

bool SameContent(const platform::ArrivalLook& a, const platform::ArrivalLook& b)
{
    return a.size == b.size && a.lastWrite == b.lastWrite;
}

} // namespace

ArrivedFiles::ArrivedFiles(std::size_t byteLimit, uint64_t firstScanLimitMs, uint64_t longestSpacingMs)
    : m_limit(byteLimit), m_firstScanLimitMs(firstScanLimitMs), m_longestSpacingMs(longestSpacingMs)
{
}

std::size_t ArrivedFiles::CostOf(const std::u16string& name)
{
    return NameCost(name) * 2;
}

// Forgets by room alone, not by time: what a file's last scan saw spares a
// scan of it for as long as it is remembered.
bool ArrivedFiles::MakeRoomFor(const std::u16string& name, uint64_t)
{
    const std::size_t cost = CostOf(name);
    const auto fits = [&] { return m_bytes + cost <= m_limit || m_index.empty(); };
    while (!m_watched.empty() && !fits())
        Forget(m_watched.begin());
    for (auto it = m_setAside.begin(); it != m_setAside.end() && !fits();) {
        const auto next = std::next(it);
        if (it->scanned)
            Forget(it);
        it = next;
    }
    return fits();
}

void ArrivedFiles::Arrived(const std::u16string& name, const platform::ArrivalLook& look, uint64_t nowMs,
                           platform::FileTime since, bool listed)
{
    const auto known = m_index.find(name);
    if (known != m_index.end())
        Forget(known->second);
    File file(name, RescanSpacing(m_firstScanLimitMs, m_longestSpacingMs));
    file.spacing.Changed(nowMs); // a minute from now it is scanned, quiet or not
    file.since = since;
    file.listed = listed;
    file.nextLookMs = nowMs + std::min(kLookEveryMs, m_firstScanLimitMs);
    file.hasReference = look.state != platform::ArrivalState::BeingWritten;
    file.reference = look;
    file.referenceMs = nowMs;
    m_setAside.push_back(std::move(file));
    const auto added = std::prev(m_setAside.end());
    m_index.emplace(added->name, added);
    m_bytes += CostOf(name);
    // Only a name that alone exceeds the bound is let in beyond it.
    PELMON_INVARIANT(m_bytes <= m_limit || m_index.size() == 1);
}

ArrivedFiles::Held ArrivedFiles::HeldAs(const std::u16string& name) const
{
    const auto known = m_index.find(name);
    if (known == m_index.end())
        return Held::No;
    return known->second->listed ? Held::ByListing : Held::ByRecord;
}

bool ArrivedFiles::Changed(const std::u16string& name, uint64_t nowMs)
{
    const auto known = m_index.find(name);
    if (known == m_index.end())
        return false;
    const List::iterator file = known->second;
    file->spacing.Changed(nowMs);
    if (!file->setAside) {
        file->setAside = true;
        m_setAside.splice(m_setAside.end(), m_watched, file);
    }
    file->hasReference = false;
    file->settledFromMs = nowMs + kSettleMs;
    // The first of the two looks: a writer that goes on puts it off, and
    // is not looked at while it writes, up to when its scan is overdue.
    file->nextLookMs = std::min(file->settledFromMs, file->spacing.OverdueAtMs());
    return true;
}

void ArrivedFiles::ChangedUnheld(const std::u16string& name, const platform::ArrivalLook& look, uint64_t nowMs,
                                 platform::FileTime since)
{
    Arrived(name, look, nowMs, since);
    m_index.at(name)->changedInPlace = true;
    Changed(name, nowMs);
}

uint64_t ArrivedFiles::MillisecondsToNextLook(uint64_t nowMs) const
{
    PELMON_INVARIANT(!m_setAside.empty());
    uint64_t next = UINT64_MAX;
    for (const File& file : m_setAside)
        next = std::min(next, file.nextLookMs);
    return next <= nowMs ? 0 : next - nowMs;
}

ArrivedFiles::Step ArrivedFiles::LookAtNext(uint64_t nowMs,
                                            const std::function<platform::ArrivalLook(const std::u16string&)>& lookAt,
                                            std::u16string& name, platform::FileTime& since)
{
    auto file = m_setAside.begin();
    while (file != m_setAside.end() && file->nextLookMs > nowMs)
        ++file;
    if (file == m_setAside.end())
        return Step::None;
    const platform::ArrivalLook look = lookAt(file->name);
    const bool news = !file->scanned || !SameContent(look, file->scannedLook);
    Step step = Step::Looked;
    since = file->since;
    switch (look.state) {
    case platform::ArrivalState::Missing:
        // Its new name, if it has one, comes with a record of its own.
        Forget(file);
        return Step::Looked;
    case platform::ArrivalState::Folder:
        // A folder now has the name: what it holds is listed, as for any
        // folder that arrives.
        name = file->name;
        Forget(file);
        return Step::Folder;
    case platform::ArrivalState::BeingWritten:
        file->hasReference = false;
        break;
    case platform::ArrivalState::NoWriter:
    case platform::ArrivalState::WriterUnknown:
        if (file->hasReference && SameContent(look, file->reference) &&
            nowMs - file->referenceMs >= file->spacing.QuietMs()) {
            if (!news) {
                // Read, not written: what the last scan saw is still there.
                file->spacing.Unchanged();
                Watch(file);
                return Step::Looked;
            }
            if (nowMs >= file->spacing.EarliestMs()) {
                step = HandOver(*file, look, nowMs, name);
                Watch(file);
                return step;
            }
            // Quiet, but scanned too lately: looked at again once the
            // spacing allows, and scanned then if it is still as it is.
            file->nextLookMs = file->spacing.EarliestMs();
            return Step::Looked;
        }
        if (!file->hasReference || !SameContent(look, file->reference)) {
            file->hasReference = nowMs >= file->settledFromMs;
            file->reference = look;
            file->referenceMs = nowMs;
        }
        break;
    }
    // A writer that never stops: scanned now all the same, and again once
    // it is quiet. A file held open but no longer written waits for its
    // writer with no scan.
    if (nowMs >= file->spacing.OverdueAtMs()) {
        if (news)
            step = HandOver(*file, look, nowMs, name);
        else
            file->spacing.Unchanged();
    }
    // A file that waits for a long quiet is looked at when that could have
    // passed, and while a writer holds it, a quarter of that often.
    const uint64_t quiet = file->spacing.QuietMs();
    if (nowMs < file->settledFromMs)
        file->nextLookMs = file->settledFromMs;
    else if (file->hasReference)
        file->nextLookMs = std::max(nowMs + kLookEveryMs, file->referenceMs + quiet);
    else
        file->nextLookMs = nowMs + std::max(kLookEveryMs, quiet / 4);
    file->nextLookMs = std::min(file->nextLookMs, file->spacing.OverdueAtMs());
    return step;
}

ArrivedFiles::Step ArrivedFiles::HandOver(File& file, const platform::ArrivalLook& look, uint64_t nowMs,
                                          std::u16string& name)
{
    const bool rescan = file.scanned || file.changedInPlace;
    name = file.name;
    file.scanned = true;
    file.scannedLook = look;
    file.spacing.Scanned(nowMs);
    return rescan ? Step::Rescan : Step::Scan;
}

platform::FileTime ArrivedFiles::OldestSince(platform::FileTime none) const
{
    for (const File& file : m_setAside)
        none = std::min(none, file.since);
    return none;
}

void ArrivedFiles::Watch(List::iterator file)
{
    file->setAside = false;
    file->hasReference = false;
    m_watched.splice(m_watched.end(), m_setAside, file);
}

void ArrivedFiles::Forget(List::iterator file)
{
    m_index.erase(file->name);
    m_bytes -= CostOf(file->name);
    (file->setAside ? m_setAside : m_watched).erase(file);
}

std::size_t ArrivedFiles::NotYetScanned() const
{
    return static_cast<std::size_t>(
        std::count_if(m_setAside.begin(), m_setAside.end(), [](const File& file) { return !file.scanned; }));
}
