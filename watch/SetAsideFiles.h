#pragma once
#include <wx/string.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>

#include "platform/FileAccess.h"

// Files whose turn to be scanned came while another process still had them
// open for writing: scanning them then would see part of their content and
// never look again. Each is looked at again every quarter of a second and
// scanned as soon as its writer has closed it, or a minute after it was set
// aside whatever its state, so no file is scanned later than that. One that
// disappears is dropped: its new name, if it has one, comes with a record
// of its own.
class SetAsideFiles {
public:
    // Beyond this many, files are scanned at once, written to or not.
    static constexpr std::size_t kCapacity = 64;
    static constexpr uint64_t kCheckEveryMs = 250;
    static constexpr uint64_t kLongestWaitMs = 60000;

    bool Empty() const { return m_files.empty(); }
    bool Full() const { return m_files.size() >= kCapacity; }

    // `name` as the system reports it, to look at the file; `candidate` as
    // the scanner is to be given it.
    void Add(const std::u16string& name, const wxString& candidate, uint64_t nowMs);

    // How long until the next look is due; 0 when one is due now.
    uint64_t MillisecondsToNextCheck(uint64_t nowMs) const;

    // Looks at each file whose look is due, oldest first, and takes out the
    // first one to scan now: false when there is none yet.
    bool TakeReady(uint64_t nowMs,
                   const std::function<platform::ArrivalState(const std::u16string&)>& stateOf,
                   std::u16string& name, wxString& candidate);

private:
    struct File {
        std::u16string name;
        wxString candidate;
        uint64_t setAsideMs;
        uint64_t nextCheckMs;
    };
    std::deque<File> m_files;
};
