// A folder that arrives is listed, and what it holds offered file by file,
// as new files that arrived the way the folder did: never handed over
// itself, no excluded file handed over, no file handed over twice.
#include <algorithm>
#include <map>

#include "tests/unit/WatchersFixture.h"
#include "watch/WatcherState.h"

namespace {

constexpr uint64_t kHour = 3600ull * 1000 * fake::kTicksPerMillisecond;

std::wstring Wide(const std::u16string& units)
{
    return std::wstring(units.begin(), units.end());
}

std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

// A tree below `folder` (full path): files of each kind, a subtree two
// levels deep and a junction. Its times are `time`.
void PutTree(const std::wstring& folder, uint64_t time)
{
    const auto put = [&](const std::wstring& relative, bool directory, bool reparse = false) {
        fake::SetTreeEntry(relative.empty() ? folder : folder + L"\\" + relative,
                           fake::TreeEntry{directory, reparse, time, time, time, false, 68});
    };
    put(L"", true);
    put(L"a.exe", false);
    put(L"notes.txt", false);
    put(L"sub", true);
    put(L"sub\\b.exe", false);
    put(L"sub\\pic.jpg", false);
    put(L"sub\\deep", true);
    put(L"sub\\deep\\c.exe", false);
    put(L"sub\\deep\\run.log", false);
    put(L"link", true, true);
    put(L"link\\behind-a-junction.exe", false);
}

// The eligible files of PutTree, as scanned below `folder`.
Paths EligibleOf(const std::wstring& folder)
{
    Paths paths;
    for (const char* file : {"a.exe", "sub\\b.exe", "sub\\deep\\c.exe"})
        paths.push_back(Narrow(folder) + "\\" + file);
    return paths;
}

Paths Sorted(Paths paths)
{
    std::sort(paths.begin(), paths.end());
    return paths;
}

} // namespace

TEST_F(WatchersTest, AFolderThatArrivesIsListedAndEachEligibleFileInItHandedOverOnce)
{
    struct Case {
        const char* name;
        std::wstring root;
        std::u16string folder;
        std::vector<ChangeRecord> records;
        bool listed;
    };
    const std::u16string created = u"alice\\Downloads\\tree";
    const std::u16string moved = u"App\\moved";
    const Case cases[] = {
        // xcopy: the folder and, in the same batch, records of some of its
        // files; the listing does not hand those back.
        {"created in a listed profile folder, with records of its own files", L"C:\\users", created,
         {{Added, created}, {Added, created + u"\\a.exe"}, {Added, created + u"\\sub"},
          {Added, created + u"\\sub\\deep\\c.exe"}, {Added, created + u"\\notes.txt"}},
         true},
        // A move within the volume: one record for the whole tree, whose
        // files are an hour old.
        {"moved in whole", L"C:\\ProgramData", moved, {{RenamedNew, moved}}, true},
        // Named like a file the filters turn away: the name must not hide
        // what the folder holds.
        {"moved in whole under an excluded extension", L"C:\\ProgramData", u"App\\pack.tmp",
         {{RenamedNew, u"App\\pack.tmp"}}, true},
        {"the vault itself", L"C:\\ProgramData", u"Pelorin\\Vault", {{Added, u"Pelorin\\Vault"}}, false},
        {"a folder in the vault", L"C:\\ProgramData", u"pelorin\\VAULT\\tree", {{RenamedNew, u"pelorin\\VAULT\\tree"}},
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring folder = c.root + L"\\" + Wide(c.folder);
        PutTree(folder, fake::FileTimeNow() - (c.records.front().action == RenamedNew ? kHour : 0));
        fake::AdvanceClock(1);
        const std::size_t scansBefore = ScannedFiles().size();
        const int listingsBefore = fake::Listings();
        Deliver(c.root, ChangeBatch(c.records));
        Pass();

        const Paths all = ScannedFiles();
        const Paths scans(all.begin() + static_cast<std::ptrdiff_t>(scansBefore), all.end());
        EXPECT_EQ(Sorted(scans), c.listed ? Sorted(EligibleOf(folder)) : Paths{});
        if (c.listed)
            EXPECT_GT(fake::Listings(), listingsBefore);
        else
            EXPECT_EQ(fake::Listings(), listingsBefore);
    }
    EXPECT_EQ(StateOf(WatcherKind::Profiles).stats.recoveryPasses, 0u);
}

TEST_F(WatchersTest, AFileInANewFolderIsScannedOnceForEachContentWhicheverNamesItFirst)
{
    // Files made in a folder just after it was renamed in have records of
    // their own; the folder's first read is slow, so its listing comes
    // after them.
    const std::wstring root = L"C:\\ProgramData";
    const std::wstring folder = root + L"\\renamed";
    fake::SetTreeEntry(folder, fake::TreeEntry{true, false, 0, 0, 0});
    fake::WriteTo(folder + L"\\made-after.exe", 100);
    fake::WriteTo(folder + L"\\came-with-it.exe", 100);
    fake::SetBeingWritten(folder + L"\\still-written.exe", true);
    fake::HoldFirstReads(true);
    fake::AdvanceClock(1);
    Deliver(root, ChangeBatch({{RenamedNew, u"renamed"}, {Added, u"renamed\\made-after.exe"}}));
    Pass();
    ASSERT_EQ(ScannedFiles(), Paths{"C:\\ProgramData\\renamed\\made-after.exe"});
    // Written again: a new content, scanned again; the listing now finds
    // the file changed since its record was taken in.
    fake::WriteTo(folder + L"\\made-after.exe", 200);
    Deliver(root, ChangeBatch({{Modified, u"renamed\\made-after.exe"}}));
    Pass();
    ASSERT_EQ(ScannedFiles().size(), 2u);

    fake::HoldFirstReads(false);
    ASSERT_TRUE(fake::WaitUntil([](const fake::Platform& p) { return p.listingBatches > 0; }));
    Pass(2000);
    // A file still being written is set aside, as any new file.
    EXPECT_EQ(ScannedFiles(), (Paths{"C:\\ProgramData\\renamed\\made-after.exe",
                                     "C:\\ProgramData\\renamed\\made-after.exe",
                                     "C:\\ProgramData\\renamed\\came-with-it.exe"}));
    fake::WriteTo(folder + L"\\still-written.exe", 300);
    fake::SetBeingWritten(folder + L"\\still-written.exe", false);
    // Its own record comes late, after its listing.
    Deliver(root, ChangeBatch({{Added, u"renamed\\still-written.exe"}, {Modified, u"renamed\\still-written.exe"}}));
    Pass();
    const Paths scans = ScannedFiles();
    EXPECT_EQ(std::count(scans.begin(), scans.end(), "C:\\ProgramData\\renamed\\still-written.exe"), 1);
    EXPECT_EQ(scans.size(), 4u);
}

TEST_F(WatchersTest, AStopIsAnsweredInTheMiddleOfABigNewFolder)
{
    constexpr int kEntries = 20000, kPerBatch = 500;
    const std::wstring root = L"C:\\ProgramData";
    std::map<std::wstring, fake::TreeEntry> big{{root + L"\\big", {true, false, 1, 1, 1}}};
    for (int i = 0; i < kEntries; ++i)
        big.emplace(root + L"\\big\\f" + std::to_wstring(100000 + i) + L".exe", fake::TreeEntry{});
    fake::SetTreeEntries(std::move(big));
    fake::SetListingBatch(kPerBatch);
    fake::SetListingDelay(20000); // most of a second for the whole folder
    fake::DeliverBatch(root, ChangeBatch({{RenamedNew, u"big"}}));
    ASSERT_TRUE(fake::WaitUntil([](const fake::Platform& p) { return p.listingBatches >= 3; }));
    ASSERT_EQ(fake::ParksMidListing(), 0);
    StopService();
    EXPECT_GE(fake::ParksMidListing(), 1) << "the watcher did not park inside the folder";
    EXPECT_LT(fake::ListingBatches(), kEntries / kPerBatch) << "the folder was read to its end";
    EXPECT_TRUE(ScannedFiles().empty()) << "the folder itself was handed over";
}
