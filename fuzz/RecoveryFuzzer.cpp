// libFuzzer target: the listing that recovers lost records. A small tree of
// folders, files, reparse points and unreadable folders, each entry with
// its three times before, inside or after the lost window, is listed a few
// entries a batch, in passes whose budget holds only a few names, and after
// each pass the caller takes only some of what was found, as a watcher with
// a nearly full queue does. Checked against a model written here: the names handed back
// over all the passes are exactly the entries reachable without entering a
// reparse point or an unreadable folder that have a time inside the window,
// each once, in path order; and each pass keeps to its budget.
//
// Input: a byte for the budget and the entries a batch, then three bytes per
// entry (parent and name, kind, times), then the bytes that decide how much
// each pass's caller takes.
#include <wx/init.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "tests/doubles/FakePlatform.h"
#include "watch/LossWindows.h"
#include "watch/PendingChanges.h"
#include "watch/RecoveryPass.h"

namespace {

const std::wstring kRoot = L"C:\\R";
constexpr uint64_t kStart = 100, kEnd = 200;

[[noreturn]] void Fail(const char* what)
{
    std::fprintf(stderr, "recovery model disagrees: %s\n", what);
    std::abort();
}

struct Entry {
    bool directory, reparse, unreadable;
    uint64_t times[3];
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    static wxInitializer library;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const std::size_t budget = 64 + (data[0] % 8) * 40;
    fake::SetListingBatch(1 + data[0] / 8 % 8);
    std::size_t at = 1;

    // The tree, by relative path; folders can be parents of later entries.
    std::map<std::u16string, Entry> tree;
    std::vector<std::u16string> folders{u""};
    for (; at + 3 <= size && tree.size() < 64; at += 3) {
        const std::u16string& parent = folders[data[at] % folders.size()];
        const std::u16string name = u"n" + std::u16string(1, char16_t(u'a' + data[at] / folders.size() % 6));
        const std::u16string path = parent.empty() ? name : parent + u'\\' + name;
        const uint8_t kind = data[at + 1];
        Entry entry{(kind & 1) != 0, (kind & 2) != 0, (kind & 4) != 0, {}};
        for (int i = 0, t = data[at + 2]; i < 3; ++i, t /= 3)
            entry.times[i] = t % 3 == 0 ? 50 : t % 3 == 1 ? 150 : 250;
        if (tree.emplace(path, entry).second && entry.directory)
            folders.push_back(path);
    }
    fake::ClearTree();
    for (const auto& [path, entry] : tree) {
        const std::wstring full = kRoot + L"\\" + std::wstring(path.begin(), path.end());
        fake::SetTreeEntry(full, fake::TreeEntry{entry.directory, entry.reparse, entry.times[0],
                                                 entry.times[1], entry.times[2]});
        if (entry.unreadable)
            fake::SetUnreadable(full);
    }

    // The model: reachable through folders that are listed and entered.
    std::vector<std::u16string> expected;
    for (const auto& [path, entry] : tree) {
        bool reachable = true;
        for (std::size_t cut = path.find(u'\\'); cut != std::u16string::npos && reachable;
             cut = path.find(u'\\', cut + 1)) {
            const auto parent = tree.find(path.substr(0, cut));
            reachable = parent != tree.end() && parent->second.directory && !parent->second.reparse &&
                        !parent->second.unreadable;
        }
        const bool inside = std::any_of(std::begin(entry.times), std::end(entry.times),
                                        [](uint64_t t) { return t >= kStart && t < kEnd; });
        if (reachable && inside)
            expected.push_back(path);
    }
    std::sort(expected.begin(), expected.end());

    LossWindows losses;
    losses.Schedule(kStart, kEnd);
    RecoveryPass pass;
    std::vector<std::u16string> handedBack;
    for (int passes = 0; losses.Pending(); ++passes) {
        if (passes > 200)
            Fail("the passes never end");
        pass.Begin(losses.BeginOldest(), budget);
        int steps = 0;
        while (!pass.Step(kRoot)) {
            if (++steps > 1000)
                Fail("a pass never ends");
        }
        const std::vector<std::u16string>& found = pass.Found();
        std::size_t bytes = 0;
        for (std::size_t i = 0; i < found.size(); ++i) {
            bytes += PendingChanges::CostOf(found[i]);
            if (i > 0 && !(found[i - 1] < found[i]))
                Fail("a pass's names are not in strict path order");
        }
        if (found.size() > 1 && bytes > budget)
            Fail("a pass found more than its budget holds");
        // The caller takes at least one name, when there is one.
        const uint8_t choice = at < size ? data[at++] : 255;
        const std::size_t taken = found.empty() ? 0 : 1 + choice % found.size();
        handedBack.insert(handedBack.end(), found.begin(), found.begin() + taken);
        losses.Advance(found, pass.More(), taken);
        pass.End();
    }
    if (handedBack != expected)
        Fail("the names handed back over all the passes");
    return 0;
}
