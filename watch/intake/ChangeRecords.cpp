#include "watch/intake/ChangeRecords.h"

#include <cstring>

#include "watch/Invariant.h"

namespace {

// NextEntryOffset, Action and FileNameLength, each a DWORD.
constexpr std::size_t kRecordHeaderBytes = 12;

uint32_t ReadDword(const unsigned char* at)
{
    uint32_t value;
    std::memcpy(&value, at, sizeof(value));
    return value;
}

} // namespace

void WalkChangeRecords(const unsigned char* buffer, std::size_t bytes,
                       const std::function<void(const ChangeRecord&)>& visit)
{
    std::size_t offset = 0;
    ChangeRecord record;
    while (offset + kRecordHeaderBytes <= bytes) {
        const unsigned char* at = buffer + offset;
        const uint32_t next = ReadDword(at);
        record.action = ReadDword(at + 4);
        const uint32_t nameBytes = ReadDword(at + 8);
        if (nameBytes > bytes - offset - kRecordHeaderBytes)
            break;

        PELMON_INVARIANT(offset + kRecordHeaderBytes + nameBytes <= bytes);
        record.name.resize(nameBytes / 2);
        if (!record.name.empty())
            std::memcpy(&record.name[0], at + kRecordHeaderBytes, record.name.size() * 2);
        visit(record);

        // The system lays records end to end; a next record that would
        // start inside this one is not a record.
        if (next == 0 || next < kRecordHeaderBytes + nameBytes || next > bytes - offset)
            break;
        offset += next;
    }
}
