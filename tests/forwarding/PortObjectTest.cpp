// The port object on its own: what a new port holds, and its handle on the driver.
#include <gtest/gtest.h>

#include "forwarding/PortObject.h"
#include "forwarding/PortObject.h"
#include "platform/base/Folders.h"
#include "support/Application.h"
#include "support/PortsHome.h"

using namespace qlntest;

namespace {

TEST(PortObjectTest, NewPortHasDefaults)
{
    CCriticalSection lock;
    CPortObject port(12, &lock);
    EXPECT_EQ(port.GetPortNumber(), 12);
    EXPECT_EQ(port.GetSendToNetDelayTime(), 0);
    EXPECT_EQ(port.GetReceiveFromNetDelayTime(), 0);
    EXPECT_EQ(port.GetLogMode(), 0);
    EXPECT_EQ(port.GetLogFilename(), "");
    EXPECT_TRUE(port.GetNetLinks().empty());
    EXPECT_EQ(port.ToNetQueued(), 0u);
    EXPECT_EQ(port.FromNetQueued(), 0u);
    EXPECT_EQ(port.GetDriverHandle(), INVALID_DRIVER_HANDLE);
    port.SetSendToNetDelayTime(-5);
    EXPECT_EQ(port.GetSendToNetDelayTime(), -5);
}

// The port holds one driver handle at most: closing twice closes once, and opening
// an open port keeps its handle (the driver would refuse a second one). The driver
// requests on the handle see the application come and go.
TEST(PortObjectTest, OpensTheDriverOnceAndSeesTheApplication)
{
    PortsHome home;
    ASSERT_EQ(PortDriver::Instance().AttachDevice(7, DeviceLinkFolder()).Text(), "");
    CCriticalSection lock;
    CPortObject port(7, &lock);
    CGuard held(lock); // the driver side takes no lock of its own: its callers hold it
    ASSERT_FALSE(port.OpenDriver());
    EXPECT_FALSE(IsOpenedByApplication(&port));
    {
        App app(PortDriver::Instance().LinkPath(7));
        ASSERT_TRUE(app.Ok());
        EXPECT_TRUE(IsOpenedByApplication(&port));
    }
    EXPECT_FALSE(IsOpenedByApplication(&port));

    port.CloseDriver();
    port.CloseDriver(); // twice closes once
    EXPECT_EQ(port.GetDriverHandle(), INVALID_DRIVER_HANDLE);
    PortStatus status {};
    EXPECT_FALSE(QueryStatus(&port, &status));
    EXPECT_FALSE(port.OpenDriver());
    EXPECT_FALSE(port.OpenDriver()) << "an open port is not opened again";
}

} // namespace
