#pragma once
// Files in alice's Downloads folder, which the fixture's list monitors, and
// the records another program's work there makes, for tests of the road of
// files through running watchers.
#include <map>
#include <string>
#include <vector>

#include "tests/unit/WatchersFixture.h"

inline const std::string kDownloads = "C:\\users\\alice\\Downloads\\";

inline std::wstring Downloaded(const std::string& name)
{
    const std::string path = kDownloads + name;
    return std::wstring(path.begin(), path.end());
}

inline std::u16string Relative(const std::string& name)
{
    const std::string relative = "alice\\Downloads\\" + name;
    return std::u16string(relative.begin(), relative.end());
}

// Hands the watchers a batch and waits until they have taken it in and done
// what it asked for now; the clock stands still.
inline void Record(const std::vector<ChangeRecord>& records)
{
    const int before = fake::TakenBatches();
    fake::DeliverBatch(L"C:\\users", ChangeBatch(records));
    ASSERT_TRUE(fake::WaitUntil([&](const fake::Platform& p) { return p.takenBatches > before && Settled(p); }));
}

// Another process writes to the file, and the system says so.
inline void Write(const std::string& name, uint64_t size)
{
    fake::WriteTo(Downloaded(name), size);
    Record({{Modified, Relative(name)}});
}

// How many scans each file has had.
inline std::map<std::string, int> ScansByFile()
{
    std::map<std::string, int> scans;
    for (const std::string& path : ScannedFiles())
        ++scans[path.substr(kDownloads.size())];
    return scans;
}

