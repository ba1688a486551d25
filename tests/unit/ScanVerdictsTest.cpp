// What clamdscan printed is read only for the targets a call was given, each
// by the whole line that starts with it, so no file name can speak for
// another file.
#include <gtest/gtest.h>

#include "watch/scan/ScanVerdicts.h"

namespace {

using V = TargetVerdict;

} // namespace

TEST(ScanVerdictsTest, EachTargetIsJudgedByItsOwnLineAlone)
{
    const std::vector<std::string> targets{"C:\\d\\a.exe", "C:\\d\\b.exe", "C:\\d\\a.exe.bak"};
    const struct {
        const char* name;
        std::string printed;
        std::vector<V> verdicts;
    } cases[] = {
        {"one line each", "C:\\d\\a.exe: OK\nC:\\d\\b.exe: Win.Test.EICAR_HDB-1 FOUND\nC:\\d\\b.exe: moved to 'C:\\v\\b.exe'\n"
                          "C:\\d\\a.exe.bak: Can't open file or directory ERROR\n",
         {V::Clean, V::Found, V::Failed}},
        {"CR LF line ends, no last break", "C:\\d\\a.exe: OK\r\nC:\\d\\b.exe: OK\r\nC:\\d\\a.exe.bak: OK",
         {V::Clean, V::Clean, V::Clean}},
        {"a target without a line was not scanned", "C:\\d\\a.exe: OK\n\n----------- SCAN SUMMARY -----------\n",
         {V::Clean, V::Unreported, V::Unreported}},
        {"two lines for one target say nothing", "C:\\d\\a.exe: OK\nC:\\d\\a.exe: Eicar FOUND\n",
         {V::Unreported, V::Unreported, V::Unreported}},
        {"a prefix of a target is not the target", "C:\\d\\a.exe.bak: Eicar FOUND\n", {V::Unreported, V::Unreported, V::Found}},
        {"a line must start with the target", " C:\\d\\a.exe: OK\nx C:\\d\\b.exe: Eicar FOUND\n",
         {V::Unreported, V::Unreported, V::Unreported}},
        {"only OK is clean", "C:\\d\\a.exe: OKAY\nC:\\d\\b.exe: OK \n", {V::Unreported, V::Unreported, V::Unreported}},
        {"the client's own errors name no target", "ERROR: Could not connect to clamd\n",
         {V::Unreported, V::Unreported, V::Unreported}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ReadVerdicts(c.printed, targets), c.verdicts);
    }
}

TEST(ScanVerdictsTest, NamesThatCouldForgeALineNeverShareACall)
{
    const struct {
        std::wstring target;
        bool alone;
    } cases[] = {
        {L"C:\\d\\a.exe", false},
        {L"C:\\d\\caf\u00e9 (1).exe", false},
        {L"C:\\d\\x.exe\r\nC:\\d\\a.exe: OK", true},
        {L"C:\\d\\x\n.exe", true},
        {L"C:\\d\\x\u0085.exe", true},
        {L"C:\\d\\x\u007f.exe", true},
        {L"C:\\d\\x.exe: Eicar FOUND", true},
        {L"C:\\d\\x:stream.exe", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MustGoAlone(c.target), c.alone) << std::string(c.target.begin(), c.target.end());
}

TEST(ScanVerdictsTest, AFoldersDetectionsAreTheFilesBelowItReportedFound)
{
    const std::string printed = "C:\\d\\sub\\v.exe: Eicar FOUND\n"
                                "C:\\d\\sub\\v.exe: moved to 'C:\\v\\v.exe'\n"
                                "C:\\d\\sub\\c.exe: OK\n"
                                "C:\\d\\subway\\w.exe: Eicar FOUND\n"
                                "C:\\d\\sub\\deep\\x.exe: Eicar FOUND\n"
                                "C:\\d\\sub\\bell\x07.exe: Eicar FOUND\n";
    EXPECT_EQ(FoundBelow(printed, "C:\\d\\sub"),
              (std::vector<std::string>{"C:\\d\\sub\\v.exe", "C:\\d\\sub\\deep\\x.exe"}));
}
