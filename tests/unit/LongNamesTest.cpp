// Short (8.3) aliases in recorded names are made long before the filters
// see them.
#include "tests/unit/TestSupport.h"
#include "watch/names/LongNames.h"

class LongNamesTest : public PlatformTest {};

TEST_F(LongNamesTest, AliasesAreMadeLongOnlyForAnExistingFileUnderTheRoot)
{
    const std::wstring root = L"C:\\users";
    fake::SetShortPath(L"C:\\users\\alice\\Downloads", L"C:\\users\\alice\\DOWNLO~1");
    fake::SetShortPath(L"C:\\users\\alice\\Downloads\\setup for \u00e9t\u00e9.exe",
                       L"C:\\users\\alice\\DOWNLO~1\\SETUPF~1.EXE");
    fake::SetShortPath(L"C:\\users\\bob\\Downloads", L"C:\\users\\bob\\DOWNLO~1");
    fake::SetShortPath(L"C:\\Users\\carol\\Downloads", L"C:\\users\\carol\\DOWNLO~1");
    fake::SetShortPath(L"D:\\elsewhere", L"C:\\users\\dave\\ELSEWH~1");
    fake::SetShortPath(L"C:\\users\\erin\\a long name.exe", L"C:\\users\\erin\\ALONGN.EXE");
    for (const wchar_t* existing :
         {L"C:\\users\\alice\\Downloads\\x.exe", L"C:\\users\\alice\\Downloads\\setup for \u00e9t\u00e9.exe",
          L"C:\\Users\\carol\\Downloads\\x.exe", L"D:\\elsewhere\\x.exe", L"C:\\users\\erin\\a long name.exe",
          L"C:\\users\\frank\\not~short.exe"})
        fake::SetTreeEntry(existing, fake::TreeEntry{});
    const struct {
        std::u16string recorded;
        std::u16string offered;
    } cases[] = {
        {u"alice\\DOWNLO~1\\x.exe", u"alice\\Downloads\\x.exe"},                               // short folder
        {u"alice\\DOWNLO~1\\SETUPF~1.EXE", u"alice\\Downloads\\setup for \u00e9t\u00e9.exe"},  // short file
        {u"bob\\DOWNLO~1\\gone.exe", u"bob\\DOWNLO~1\\gone.exe"},                              // gone already
        {u"carol\\DOWNLO~1\\x.exe", u"carol\\DOWNLO~1\\x.exe"}, // the root spelt otherwise
        {u"dave\\ELSEWH~1\\x.exe", u"dave\\ELSEWH~1\\x.exe"},   // outside the root
        {u"erin\\ALONGN.EXE", u"erin\\ALONGN.EXE"},             // no "~": not looked up
        {u"frank\\not~short.exe", u"frank\\not~short.exe"},     // its own long name
    };
    for (const auto& c : cases)
        EXPECT_EQ(LongNameOf(root, c.recorded), c.offered) << fake::Utf8Of(std::wstring(c.recorded.begin(), c.recorded.end()));
}
