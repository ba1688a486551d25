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

ArrivedFiles::ArrivedFiles(std::size_t byteLimit, uint64_t firstScanLimitMs, uint64_t watchForMs)
    : m_limit(byteLimit), m_firstScanLimitMs(firstScanLimitMs), m_watchForMs(watchForMs)
{
}

std::size_t ArrivedFiles::CostOf(const std::u16string& name)
{
    return NameCost(name) * 2;
}

bool ArrivedFiles::MakeRoomFor(const std::u16string& name, uint64_t nowMs)
{
    const std::size_t cost = CostOf(name);
    const auto fits = [&] { return m_bytes + cost <= m_limit || m_index.empty(); };
    while (!m_watched.empty() && (!fits() || nowMs - m_watched.front().arrivedMs >= m_watchForMs))
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
    File file;
    file.name = name;
    file.arrivedMs = nowMs;
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

ArrivedFiles::Held ArrivedFiles::HeldAs(const std::u16string& name, uint64_t nowMs) const
{
    const auto known = m_index.find(name);
    if (known == m_index.end())
        return Held::No;
    const File& file = *known->second;
    if (!file.setAside && nowMs - file.arrivedMs >= m_watchForMs)
        return Held::No; // too old to be watched: forgotten at the next chance
    return file.listed ? Held::ByListing : Held::ByRecord;
}

void ArrivedFiles::Changed(const std::u16string& name, uint64_t nowMs)
{
    const auto known = m_index.find(name);
    if (known == m_index.end())
        return;
    const List::iterator file = known->second;
    if (!file->setAside) {
        // Changes to files that arrived longer ago are not scanned.
        if (nowMs - file->arrivedMs >= m_watchForMs) {
            Forget(file);
            return;
        }
        file->setAside = true;
        file->nextLookMs = nowMs + kSettleMs;
        m_setAside.splice(m_setAside.end(), m_watched, file);
    }
    file->hasReference = false;
    file->settledFromMs = nowMs + kSettleMs;
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
        if (file->hasReference && SameContent(look, file->reference) && nowMs - file->referenceMs >= kLookEveryMs) {
            const bool news = !file->scanned || !SameContent(look, file->scannedLook);
            if (news) {
                name = file->name;
                file->scanned = true;
                file->scannedLook = look;
            }
            Watch(file);
            return news ? Step::Scan : Step::Looked;
        }
        if (!file->hasReference || !SameContent(look, file->reference)) {
            file->hasReference = nowMs >= file->settledFromMs;
            file->reference = look;
            file->referenceMs = nowMs;
        }
        break;
    }
    // A writer that never stops: scanned now all the same, and again once
    // it is quiet.
    const bool overdue = !file->scanned && nowMs - file->arrivedMs >= m_firstScanLimitMs;
    if (overdue) {
        name = file->name;
        file->scanned = true;
        file->scannedLook = look;
    }
    file->nextLookMs = nowMs < file->settledFromMs ? file->settledFromMs : nowMs + kLookEveryMs;
    if (!file->scanned)
        file->nextLookMs = std::min(file->nextLookMs, file->arrivedMs + m_firstScanLimitMs);
    return overdue ? Step::Scan : Step::Looked;
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
