#include <type_traits>
#include <utility>

#include "platform/ServiceControl.h"
#include "product/ProductLayout.h"
#include "supervisor/ServiceProbe.h"
#include "tests/unit/TestSupport.h"

// A copy would close the same handle twice.
static_assert(!std::is_copy_constructible_v<platform::ScHandleOwner> &&
              !std::is_copy_assignable_v<platform::ScHandleOwner>);

class ServiceProbeTest : public PlatformTest {
protected:
    void Answer(fake::ServiceAnswer::Failing failing, uint32_t error)
    {
        fake::State().serviceAnswers = {fake::ServiceAnswer{failing, error, 0}};
    }
};

TEST_F(ServiceProbeTest, RunningServiceIsReadWithoutAnyEntry)
{
    uint32_t state = 0;
    EXPECT_EQ(GetServiceStatusW(state), 0u);
    EXPECT_EQ(state, 4u);
    EXPECT_EQ(fake::State().openScHandles, 0);
    EXPECT_FALSE(LogExists(kErrorFunctionLogs));
}

TEST_F(ServiceProbeTest, EachFailingCallWritesItsEntryAndReturnsItsCode)
{
    struct Case {
        fake::ServiceAnswer::Failing failing;
        uint32_t error;
        const char* call;
    };
    const Case cases[] = {
        {fake::ServiceAnswer::Manager, 5, "OpenSCManagerW"},
        {fake::ServiceAnswer::Service, 1060, "OpenServiceW"},
        {fake::ServiceAnswer::Query, 6, "QueryServiceStatusEx"},
    };
    fake::State().systemMessages = {{5, "Access denied.\r\n"},
                                    {1060, "Service does not exist.\r\n"},
                                    {6, "Invalid handle.\r\n"}};
    std::string expected;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call);
        Answer(c.failing, c.error);
        uint32_t state = 77;
        EXPECT_EQ(GetServiceStatusW(state), c.error);
        EXPECT_EQ(state, 77u) << "the state is left unchanged";
        EXPECT_EQ(fake::State().openScHandles, 0) << "every opened handle is closed";
        expected += Entry(std::string("In GetServiceStatusW: ") + c.call + " failed with: " +
                          fake::State().systemMessages[c.error]);
        EXPECT_EQ(LogBytes(kErrorFunctionLogs), expected);
    }
}

TEST_F(ServiceProbeTest, CodeWithoutSystemMessageEndsTheEntryAfterTheColon)
{
    Answer(fake::ServiceAnswer::Service, 1234567);
    uint32_t state = 0;
    EXPECT_EQ(GetServiceStatusW(state), 1234567u);
    EXPECT_EQ(LogBytes(kErrorFunctionLogs), Entry("In GetServiceStatusW: OpenServiceW failed with: "));
}

TEST_F(ServiceProbeTest, FailureWithErrorCodeZeroLogsEmptyTextAndStoresNoState)
{
    // Code 0 has a system message ("The operation completed successfully."),
    // which must not be fetched.
    fake::State().systemMessages = {{0, "The operation completed successfully.\r\n"}};
    for (auto failing : {fake::ServiceAnswer::Manager, fake::ServiceAnswer::Service,
                         fake::ServiceAnswer::Query}) {
        Answer(failing, 0);
        uint32_t state = 0;
        EXPECT_EQ(GetServiceStatusW(state), 0u);
        EXPECT_EQ(state, 0u);
    }
    EXPECT_EQ(LogBytes(kErrorFunctionLogs),
              Entry("In GetServiceStatusW: OpenSCManagerW failed with: ") +
                  Entry("In GetServiceStatusW: OpenServiceW failed with: ") +
                  Entry("In GetServiceStatusW: QueryServiceStatusEx failed with: "));
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
        EXPECT_EQ(fake::State().openScHandles, 2);
        third = std::move(second); // closes the handle third held
        EXPECT_EQ(fake::State().openScHandles, 1);
        EXPECT_FALSE(second);
    }
    EXPECT_EQ(fake::State().openScHandles, 0) << "each closed once: none leaked, none twice";
}
