#include <gtest/gtest.h>
#include <wx/init.h>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // The logic runs inside the library's lifetime, as in the monitor.
    wxInitializer library;
    return RUN_ALL_TESTS();
}
