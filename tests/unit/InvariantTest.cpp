// The invariants that a kill, a buffer or a bound could break are checked
// in the builds the tests and sanitizers run; were they compiled out, every
// other test would pass without them.
#include <gtest/gtest.h>

#include "watch/KillGate.h"
#include "watch/intake/PendingChanges.h"

TEST(InvariantDeathTest, BrokenInvariantsStopTheTestBuild)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            KillGate gate;
            gate.Park();
            gate.Park();
        },
        "invariant broken: !m_parked");
    EXPECT_DEATH(
        {
            PendingChanges queue(100);
            queue.Push(PendingChange{u"a.exe", Arrival::Added});
            queue.Push(PendingChange{std::u16string(100, u'x'), Arrival::Added});
        },
        "invariant broken");
}
