#include "service/driverhost/driver_context.h"
#include "tests/support/host_services.h"

#include <gtest/gtest.h>

namespace qor {
namespace {

TEST(DriverContextTest, HandsOutTheHostInterfacesByExactNameOnly) {
    test::TestHostServices host;
    ImplQorDriverContext context([](std::unique_ptr<SystemEntry>) { return true; }, host.Services());
    IQorDriverContext& driverSide = context;
    int32_t error = -5;
    EXPECT_EQ(driverSide.GetGenericInterface("IQorServerDriverHost_001", &error),
              static_cast<IQorServerDriverHost*>(&context.Manager()));
    EXPECT_EQ(error, kDriverOk);
    error = -5;
    void* manager = driverSide.GetGenericInterface("IQorDriverManager_000", &error);
    EXPECT_EQ(manager, static_cast<IQorDriverManager*>(&context.Manager()));
    EXPECT_EQ(error, kDriverOk);
    EXPECT_NE(manager, driverSide.GetGenericInterface("IQorServerDriverHost_001", nullptr));  // distinct bases
    EXPECT_EQ(driverSide.GetGenericInterface("IQorInputDevice_000", nullptr),
              static_cast<IQorInputDevice*>(&context.InputDevice()));

    for (const char* name : {"iqorinputdevice_000", "IQorInputDevice_001", "IServerDeviceProvider_000", "",
                             static_cast<const char*>(nullptr)}) {
        error = 0;
        EXPECT_EQ(driverSide.GetGenericInterface(name, &error), nullptr) << (name ? name : "null");
        EXPECT_EQ(error, kDriverUnknownInterface);
        EXPECT_EQ(driverSide.GetGenericInterface(name, nullptr), nullptr);
    }
}

}  // namespace
}  // namespace qor
