#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

enum : uint32_t {
    kFileActionAdded = 1,
    kFileActionRemoved = 2,
    kFileActionModified = 3,
    kFileActionRenamedOldName = 4,
    kFileActionRenamedNewName = 5,
};

// One FILE_NOTIFY_INFORMATION record: its action and its name, UTF-16 units
// relative to the watched root, exactly as the system wrote them.
struct ChangeRecord {
    uint32_t action;
    std::u16string name;
};

// Walks the records of one completed request in buffer order. Records that
// do not lie wholly inside the `bytes` that the system wrote are not read,
// nor is a record that would start inside the one before.
void WalkChangeRecords(const unsigned char* buffer, std::size_t bytes,
                       const std::function<void(const ChangeRecord&)>& visit);
