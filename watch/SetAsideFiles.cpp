#include "watch/SetAsideFiles.h"

#include <algorithm>

void SetAsideFiles::Add(const std::u16string& name, const wxString& candidate, uint64_t nowMs)
{
    m_files.push_back(File{name, candidate, nowMs, nowMs + kCheckEveryMs});
}

uint64_t SetAsideFiles::MillisecondsToNextCheck(uint64_t nowMs) const
{
    uint64_t next = UINT64_MAX;
    for (const File& file : m_files)
        next = std::min(next, file.nextCheckMs);
    return next <= nowMs ? 0 : next - nowMs;
}

bool SetAsideFiles::TakeReady(uint64_t nowMs,
                              const std::function<platform::ArrivalState(const std::u16string&)>& stateOf,
                              std::u16string& name, wxString& candidate)
{
    for (auto it = m_files.begin(); it != m_files.end();) {
        if (it->nextCheckMs > nowMs) {
            ++it;
            continue;
        }
        const platform::ArrivalState state = stateOf(it->name);
        if (state == platform::ArrivalState::Missing) {
            it = m_files.erase(it);
            continue;
        }
        if (state != platform::ArrivalState::BeingWritten || nowMs - it->setAsideMs >= kLongestWaitMs) {
            name = it->name;
            candidate = it->candidate;
            m_files.erase(it);
            return true;
        }
        it->nextCheckMs = nowMs + kCheckEveryMs;
        ++it;
    }
    return false;
}
