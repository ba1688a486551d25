#include "watch/WatchLoop.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/CodePage.h"
#include "watch/ScanDispatch.h"
#include "watch/ScanFilters.h"

namespace {

constexpr uint32_t kFileActionAdded = 1;
// NextEntryOffset, Action and FileNameLength, each a DWORD.
constexpr std::size_t kRecordHeaderBytes = 12;

uint32_t ReadDword(const unsigned char* at)
{
    uint32_t value;
    std::memcpy(&value, at, sizeof(value));
    return value;
}

} // namespace

wxString ConvertRecordName(const char16_t* name, std::size_t units)
{
    const std::string ansi = platform::Utf16ToAnsiBestFit(name, units);
    std::wstring wide;
    if (!platform::AnsiToWide(ansi, wide))
        return wxString();
    return wxString(wide);
}

void WalkChangeRecords(const unsigned char* buffer, std::size_t bytes,
                       const std::function<void(const wxString&)>& offer)
{
    std::size_t offset = 0;
    std::vector<char16_t> name;
    while (offset + kRecordHeaderBytes <= bytes) {
        const unsigned char* record = buffer + offset;
        const uint32_t next = ReadDword(record);
        const uint32_t action = ReadDword(record + 4);
        const uint32_t nameBytes = ReadDword(record + 8);
        if (nameBytes > bytes - offset - kRecordHeaderBytes)
            break;

        name.resize(nameBytes / 2);
        if (!name.empty())
            std::memcpy(name.data(), record + kRecordHeaderBytes, name.size() * 2);
        const wxString candidate = ConvertRecordName(name.data(), name.size());
        // An empty candidate would make the scanner target the whole root.
        if (action == kFileActionAdded && !candidate.empty())
            offer(candidate);

        // The system lays records end to end; a next record that would
        // start inside this one is not a record.
        if (next == 0 || next < kRecordHeaderBytes + nameBytes || next > bytes - offset)
            break;
        offset += next;
    }
}

void OfferCandidate(const WatchContext& context, const wxString& candidate)
{
    if (context.kind == WatcherKind::Profiles && !IsInMonitoredFolderList(candidate))
        return;
    if (IsExcludedExtension(candidate))
        return;
    if (!context.cache.AdmitCandidate(candidate))
        return;
    DispatchScan(BuildScanCommand(context.programDataPath, context.watchRoot, candidate),
                 context.gate);
}

void RunWatchLoop(const WatchContext& context)
{
    const auto offer = [&context](const wxString& candidate) {
        OfferCandidate(context, candidate);
    };
    for (;;) {
        if (!platform::IssueChangeRequest(context.request, context.directory))
            return;
        if (context.thread.TestDestroy())
            return;

        context.gate.Park();
        platform::WaitForChangeRequest(context.request);
        context.gate.Unpark();

        if (context.thread.TestDestroy())
            return;
        // Only what the system actually wrote is walked: an overflow or an
        // error completes with nothing, and the loop simply asks again.
        const std::size_t bytes = platform::CompletedRequestBytes(context.request, context.directory);
        WalkChangeRecords(platform::RequestBuffer(context.request), bytes, offer);
    }
}
