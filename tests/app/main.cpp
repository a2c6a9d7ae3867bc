// The end-to-end tests start the real console; this process only installs ports,
// plays the applications and the network peers, and never shows a window.
#include <gtest/gtest.h>

int main(int argc, char* argv[])
{
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
