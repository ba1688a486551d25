#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "watch/intake/ChangeRecords.h"

// Builds a buffer of FILE_NOTIFY_INFORMATION records as the system lays
// them out: DWORD-aligned, the last with NextEntryOffset 0.
inline std::vector<unsigned char> ChangeBatch(const std::vector<ChangeRecord>& records)
{
    std::vector<unsigned char> bytes;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const std::size_t start = bytes.size();
        const uint32_t nameBytes = static_cast<uint32_t>(records[i].name.size() * 2);
        const std::size_t length = (12 + nameBytes + 3) & ~std::size_t(3);
        bytes.resize(start + length, 0);
        const uint32_t next = i + 1 < records.size() ? static_cast<uint32_t>(length) : 0;
        const uint32_t header[3] = {next, records[i].action, nameBytes};
        std::copy(reinterpret_cast<const unsigned char*>(header),
                  reinterpret_cast<const unsigned char*>(header) + 12, bytes.begin() + start);
        std::copy(reinterpret_cast<const unsigned char*>(records[i].name.data()),
                  reinterpret_cast<const unsigned char*>(records[i].name.data()) + nameBytes,
                  bytes.begin() + start + 12);
    }
    return bytes;
}

// Short names of the product's actions, to keep batches readable.
inline constexpr uint32_t Added = kFileActionAdded;
inline constexpr uint32_t Removed = kFileActionRemoved;
inline constexpr uint32_t Modified = kFileActionModified;
inline constexpr uint32_t RenamedOld = kFileActionRenamedOldName;
inline constexpr uint32_t RenamedNew = kFileActionRenamedNewName;
