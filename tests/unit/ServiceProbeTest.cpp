#include <type_traits>
#include <utility>

#include "platform/ServiceControl.h"
#include "product/ProductLayout.h"
#include "supervisor/ServiceProbe.h"
#include "tests/unit/TestSupport.h"

// A copy would close the same handle twice.
static_assert(!std::is_copy_constructible_v<platform::ScHandleOwner> &&
              !std::is_copy_assignable_v<platform::ScHandleOwner>);

class ServiceProbeTest : public PlatformTest {};

TEST_F(ServiceProbeTest, RunningServiceIsReadWithoutAnyEntry)
{
    uint32_t state = 0;
    EXPECT_EQ(GetServiceStatusW(state), 0u);
    EXPECT_EQ(state, 4u);
    EXPECT_EQ(fake::OpenScHandles(), 0);
    EXPECT_FALSE(LogExists(kErrorFunctionLogs));
}

TEST_F(ServiceProbeTest, EachFailingCallWritesItsEntryAndReturnsItsCode)
{
    using F = fake::ServiceAnswer;
    // Code 0 has a system message ("The operation completed successfully."),
    // which must not be fetched; nor can a code without one.
    // The system's texts end in CR LF and may break lines inside: an entry
    // holds them as one line.
    fake::SetSystemMessages({{5, "Access denied.\r\n"},
                             {1060, "Service does not exist.\r\n"},
                             {6, "Invalid handle.\r\nTry again\rlater.\n\r\n"},
                             {0, "The operation completed successfully.\r\n"}});
    const struct {
        F::Failing failing;
        uint32_t error;
        const char* entry;
    } cases[] = {
        {F::Manager, 5, "OpenSCManagerW failed with: Access denied."},
        {F::Service, 1060, "OpenServiceW failed with: Service does not exist."},
        {F::Query, 6, "QueryServiceStatusEx failed with: Invalid handle. Try again later."},
        {F::Service, 1234567, "OpenServiceW failed with: "},
        {F::Manager, 0, "OpenSCManagerW failed with: "},
        {F::Service, 0, "OpenServiceW failed with: "},
        {F::Query, 0, "QueryServiceStatusEx failed with: "},
    };
    std::string expected;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entry);
        fake::SetServiceAnswers({F{c.failing, c.error}});
        uint32_t state = 77;
        EXPECT_EQ(GetServiceStatusW(state), c.error);
        EXPECT_EQ(state, 77u) << "the state is left unchanged";
        EXPECT_EQ(fake::OpenScHandles(), 0) << "every opened handle is closed";
        expected += Entry(std::string("In GetServiceStatusW: ") + c.entry);
        EXPECT_EQ(LogBytes(kErrorFunctionLogs), expected);
    }
}

TEST_F(ServiceProbeTest, OwnerClosesItsHandleOnceWhereverItIsMoved)
{
    uint32_t error = 0;
    {
        platform::ScHandleOwner first(platform::OpenServiceManager(error));
        platform::ScHandleOwner second(std::move(first));
        EXPECT_FALSE(first) << "a moved-from owner holds nothing";
        ASSERT_TRUE(second);
        platform::ScHandleOwner third(platform::OpenServiceManager(error));
        EXPECT_EQ(fake::OpenScHandles(), 2);
        third = std::move(second); // closes the handle third held
        EXPECT_EQ(fake::OpenScHandles(), 1);
        EXPECT_FALSE(second);
    }
    EXPECT_EQ(fake::OpenScHandles(), 0) << "each closed once: none leaked, none twice";
}
