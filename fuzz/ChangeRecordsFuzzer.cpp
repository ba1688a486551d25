// libFuzzer target: the walk over the FILE_NOTIFY_INFORMATION records of one
// completed change request. The input is what the system wrote. Every
// record walked must lie wholly inside those bytes, in buffer order, each
// record's header its own, so at most one per 12 bytes; and every such
// record must be walked, with its action and its name unit for unit.
// Records are followed from the first along NextEntryOffset. Each name must
// come back unchanged from the text the filters and the scanner see.
#include <wx/init.h>
#include <wx/string.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "watch/intake/ChangeRecords.h"
#include "watch/names/Utf16.h"

namespace {

[[noreturn]] void Fail(const char* what)
{
    std::fprintf(stderr, "change-record model disagrees: %s\n", what);
    std::abort();
}

uint32_t Dword(const uint8_t* at)
{
    return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

struct Record {
    std::size_t offset;
    uint32_t action;
    std::vector<char16_t> name;
};

// The records a reader may trust: each lies wholly inside the bytes, and
// the next starts at or beyond the end of this one's name.
std::vector<Record> ModelRecords(const uint8_t* data, std::size_t size)
{
    std::vector<Record> records;
    std::size_t offset = 0;
    for (;;) {
        if (size - offset < 12)
            break;
        const uint8_t* at = data + offset;
        const std::size_t end = offset + 12 + std::size_t(Dword(at + 8));
        if (end > size)
            break;
        Record record{offset, Dword(at + 4), {}};
        for (std::size_t i = offset + 12; i + 1 < end; i += 2)
            record.name.push_back(char16_t(data[i] | data[i + 1] << 8));
        records.push_back(record);
        const std::size_t next = offset + Dword(at);
        if (next == offset || next < end || next > size)
            break;
        offset = next;
    }
    return records;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    static wxInitializer library;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    // libFuzzer's buffer holds exactly these bytes: the address sanitizer
    // catches any read past what the system wrote.
    std::vector<Record> walked;
    WalkChangeRecords(data, size, [&](const ChangeRecord& record) {
        walked.push_back(Record{0, record.action, std::vector<char16_t>(record.name.begin(), record.name.end())});
        // The candidate is the name, unit for unit, lone surrogates too.
        if (UnitsOf(TextOfUnits(record.name)) != record.name)
            Fail("a name changed on its way to a candidate");
    });

    if (walked.size() > size / 12)
        Fail("more records than 12-byte headers fit in the bytes");
    const std::vector<Record> expected = ModelRecords(data, size);
    if (walked.size() != expected.size())
        Fail("the number of records walked");
    for (std::size_t i = 0; i < walked.size(); ++i) {
        if (walked[i].action != expected[i].action || walked[i].name != expected[i].name)
            Fail("a record walked");
    }
    return 0;
}
