// libFuzzer target: the listing that recovers lost records. A small tree of
// folders, files, reparse points and unreadable folders, each entry with
// its three times before the lost window, inside it, inside it close to its
// end, or after it, is listed a few entries a batch, in passes whose budget
// holds only a few names; after each pass the caller takes only some of
// what was found, as a watcher with a nearly full queue does, and at some
// step a second loss may widen the window. Checked against a model written
// here: the spans the passes listed for cover the lost time; the names
// handed back over all the passes are exactly the entries, reachable
// without entering a reparse point or an unreadable folder, that are new in
// one of those spans (a file with a time in it; a folder created in it and
// holding no entry older than it, or moved in then: changed in it, last
// written before it), each once, in path order within a pass and over all
// of them while the window did not widen; and each pass keeps to its
// budget.
//
// Input: a byte for the budget and the entries a batch, the step before
// which the window widens (255: never), then three bytes per entry (parent
// and name, kind, times), then the bytes that decide how much each pass's
// caller takes.
#include <wx/init.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/doubles/FakePlatform.h"
#include "watch/intake/LossWindows.h"
#include "watch/names/NameCost.h"
#include "watch/intake/PendingChanges.h"
#include "watch/intake/RecoveryPass.h"
#include "watch/intake/TakenNames.h"

namespace {

const std::wstring kRoot = L"C:\\R";
// Times in milliseconds of the wall clock: the window is [1000, 2000), a
// later loss widens it to 3000, and a pass's follow-up starts the clock's
// slack (100) before the end it listed to.
constexpr uint64_t kStart = 1000, kEnd = 2000, kWidenedEnd = 3000;
constexpr uint64_t kTimes[4] = {500, 1500, 1950, 2500};

[[noreturn]] void Fail(const char* what)
{
    std::fprintf(stderr, "recovery model disagrees: %s\n", what);
    std::abort();
}

platform::FileTime Ticks(uint64_t ms)
{
    return ms * kFileTicksPerMs;
}

// Readings of both clocks that agree, as when the clock is not set.
ClockMark At(uint64_t ms)
{
    return ClockMark{Ticks(ms), ms};
}

struct Entry {
    bool directory, reparse, unreadable;
    uint64_t created, written, changed;
};

struct Span {
    uint64_t start, end;
    bool Holds(uint64_t time) const { return time >= start && time < end; }
};

using Tree = std::map<std::u16string, Entry>;

bool Reachable(const Tree& tree, const std::u16string& path)
{
    for (std::size_t cut = path.find(u'\\'); cut != std::u16string::npos; cut = path.find(u'\\', cut + 1)) {
        const auto parent = tree.find(path.substr(0, cut));
        if (parent == tree.end() || !parent->second.directory || parent->second.reparse ||
            parent->second.unreadable)
            return false;
    }
    return true;
}

// What is new in one span, by the rules alone.
std::set<std::u16string> NewIn(const Tree& tree, const Span& span)
{
    std::set<std::u16string> found;
    for (const auto& [path, entry] : tree) {
        if (!Reachable(tree, path))
            continue;
        if (!entry.directory) {
            if (span.Holds(entry.created) || span.Holds(entry.written) || span.Holds(entry.changed))
                found.insert(path);
            continue;
        }
        const bool moved = span.Holds(entry.changed) && !span.Holds(entry.written);
        bool created = span.Holds(entry.created);
        if (created && !moved && !entry.reparse && !entry.unreadable) {
            const std::u16string prefix = path + u'\\';
            for (auto child = tree.upper_bound(prefix);
                 child != tree.end() && child->first.rfind(prefix, 0) == 0; ++child) {
                const Entry& c = child->second;
                if (child->first.find(u'\\', prefix.size()) == std::u16string::npos && c.created < span.start &&
                    c.written < span.start && c.changed < span.start)
                    created = false; // an older entry: the folder was there before
            }
        }
        if (created || moved)
            found.insert(path);
    }
    return found;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    static wxInitializer library;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    const std::size_t budget = 64 + (data[0] % 8) * 40;
    fake::SetListingBatch(1 + data[0] / 8 % 8);
    const int widenBeforeStep = data[1] == 255 ? -1 : data[1];
    std::size_t at = 2;

    // The tree, by relative path; folders can be parents of later entries.
    Tree tree;
    std::vector<std::u16string> folders{u""};
    for (; at + 3 <= size && tree.size() < 64; at += 3) {
        const std::u16string& parent = folders[data[at] % folders.size()];
        const std::u16string name = u"n" + std::u16string(1, char16_t(u'a' + data[at] / folders.size() % 6));
        const std::u16string path = parent.empty() ? name : parent + u'\\' + name;
        const uint8_t kind = data[at + 1];
        const uint8_t times = data[at + 2];
        const Entry entry{(kind & 1) != 0, (kind & 2) != 0,        (kind & 4) != 0,
                          kTimes[times % 4], kTimes[times / 4 % 4], kTimes[times / 16 % 4]};
        if (tree.emplace(path, entry).second && entry.directory)
            folders.push_back(path);
    }
    fake::ClearTree();
    for (const auto& [path, entry] : tree) {
        const std::wstring full = kRoot + L"\\" + std::wstring(path.begin(), path.end());
        fake::SetTreeEntry(full, fake::TreeEntry{entry.directory, entry.reparse, Ticks(entry.created),
                                                 Ticks(entry.written), Ticks(entry.changed)});
        if (entry.unreadable)
            fake::SetUnreadable(full);
    }

    // A loss between two requests issued the slack after the window's start
    // and at its end; the second loss's requests come after those.
    LossWindows losses;
    losses.Widen(At(kStart + kClockSlackMs), At(kEnd));
    bool widened = false;
    const auto widen = [&] {
        losses.Widen(At(kEnd + kClockSlackMs), At(kWidenedEnd));
        widened = true;
    };
    TakenNames taken(1 << 20);
    RecoveryPass pass;
    std::vector<Span> spans;
    std::vector<std::u16string> handedBack;
    int steps = 0;
    for (int passes = 0;; ++passes) {
        if (!losses.Pending()) {
            if (widened || widenBeforeStep < 0)
                break;
            widen(); // after the passes over the first loss
        }
        if (passes > 200)
            Fail("the passes never end");
        const LossWindow& window = losses.BeginPass();
        spans.push_back(Span{window.start.wall / kFileTicksPerMs, window.end.wall / kFileTicksPerMs});
        pass.Begin(window, budget);
        for (int passSteps = 0;; ++passSteps) {
            if (!widened && steps == widenBeforeStep)
                widen();
            ++steps;
            if (pass.Step(kRoot, taken))
                break;
            if (passSteps > 10000)
                Fail("a pass never ends");
        }
        const std::vector<RecoveredEntry>& found = pass.Found();
        std::size_t bytes = 0;
        for (std::size_t i = 0; i < found.size(); ++i) {
            bytes += NameCost(found[i].path);
            if (i > 0 && !(found[i - 1].path < found[i].path))
                Fail("a pass's names are not in strict path order");
        }
        if (found.size() > 1 && bytes > budget)
            Fail("a pass found more than its budget holds");
        // The caller takes at least one name, when there is one, and
        // remembers what it took.
        const uint8_t choice = at < size ? data[at++] : 255;
        const std::size_t count = found.empty() ? 0 : 1 + choice % found.size();
        for (std::size_t i = 0; i < count; ++i) {
            handedBack.push_back(found[i].path);
            taken.Add(At(10000), found[i].path);
        }
        losses.EndPass(found, pass.More(), count);
        pass.End();
    }

    // The spans cover the lost time, however the passes were cut.
    std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.start < b.start; });
    uint64_t covered = kStart;
    for (const Span& span : spans) {
        if (span.start > covered)
            Fail("a part of the lost time was listed for by no pass");
        covered = std::max(covered, span.end);
    }
    if (covered < (widened ? kWidenedEnd : kEnd))
        Fail("the end of the lost time was listed for by no pass");

    std::set<std::u16string> expected;
    for (const Span& span : spans) {
        const std::set<std::u16string> found = NewIn(tree, span);
        expected.insert(found.begin(), found.end());
    }
    const std::set<std::u16string> unique(handedBack.begin(), handedBack.end());
    if (unique.size() != handedBack.size())
        Fail("a name was handed back twice");
    if (unique != expected)
        Fail("the names handed back over all the passes");
    if (!widened && !std::is_sorted(handedBack.begin(), handedBack.end()))
        Fail("the passes over one window did not go on in path order");
    return 0;
}
