// The driver package: the shipped one loads, damaged ones do not.
#include <gtest/gtest.h>

#include "platform/devices/DriverPackage.h"
#include "support/DeviceState.h"

using namespace qlntest;

namespace {

class DriverPackageTest : public DeviceStateTest {};

TEST_F(DriverPackageTest, TheShippedPackageIsValidAndDamagedOnesAreNot)
{
    const std::string good = FileText(CopyPackage());
    DriverPackage package;
    ASSERT_TRUE(DriverPackage::Load(CopyPackage(), "QUILLON", package));
    EXPECT_EQ(package.ServiceName, "QUILLON");
    EXPECT_EQ(package.DriverFile, "quillon.sys");
    EXPECT_EQ(package.DeviceDescription, "Quillon");
    EXPECT_TRUE(DriverPackage::Load(CopyPackage(), "quillon", package)); // ids ignore case
    EXPECT_FALSE(DriverPackage::Load(CopyPackage(), "OTHER", package));
    EXPECT_FALSE(DriverPackage::Load(Root + "/missing.inf", "QUILLON", package));

    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string text = good;
        size_t at = text.rfind(from); // the last: the comment at the top names them too
        EXPECT_NE(at, std::string::npos) << from;
        if (at != std::string::npos)
            text.replace(at, from.size(), to);
        return text;
    };
    const std::pair<const char*, std::string> damaged[] = {
        {"empty", ""},
        {"binary", std::string("\0\1\2", 3)},
        {"wrong signature", replaced("\"$Windows NT$\"", "\"$Linux$\"")},
        {"wrong class", replaced("Class       = Ports", "Class       = Modem")},
        {"no manufacturer", replaced("[Manufacturer]", "[Makers]")},
        {"hardware id missing", replaced("Quillon_Install, QUILLON", "Quillon_Install, OTHER")},
        {"no services section", replaced("[Quillon_Install.Services]", "[Quillon_Install.Svc]")},
        {"no service binary", replaced("ServiceBinary", "Binary")},
        {"binary outside the drivers folder", replaced("%12%\\quillon.sys", "%11%\\quillon.sys")},
        {"binary climbing out", replaced("%12%\\quillon.sys", "%12%\\..")},
        {"binary in a subfolder", replaced("%12%\\quillon.sys", "%12%\\x/quillon.sys")},
    };
    for (const auto& [what, text] : damaged) {
        WriteFileText(Root + "/bad.inf", text);
        EXPECT_FALSE(DriverPackage::Load(Root + "/bad.inf", "QUILLON", package)) << what;
    }
}

} // namespace
