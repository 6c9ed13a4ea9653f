// One running copy per session bus: the first start holds the media player's name, a later
// one asks it to Raise, also while the first is still starting.
#include "desktop/mpris_service.h"
#include "desktop/single_instance.h"

#include "desktop_test_support.h"
#include "private_bus.h"

#include <QDBusConnectionInterface>
#include <QTimer>

using namespace vornel::desktop;

namespace {

class SingleInstanceTest : public testing::Test {
protected:
    void SetUp() override
    {
        SKIP_WITHOUT_X_SESSION();
        ASSERT_TRUE(bus.connected()) << "the private dbus-daemon did not start";
        controls.raise = [this] { ++raised; };
    }

    QStringList names() { return bus.bus().interface()->registeredServiceNames().value(); }

    PrivateBus bus;
    MediaPlayerControls controls;
    int raised = 0;
};

TEST_F(SingleInstanceTest, TheFirstStartHoldsTheNameAndItsServiceKeepsIt)
{
    EXPECT_EQ(claimSingleInstance(bus.bus()), InstanceRole::First);
    MprisService service(controls);
    ASSERT_TRUE(service.publish(bus.bus()));
    EXPECT_TRUE(names().contains(QString::fromLatin1(MprisService::kServiceName)));
    EXPECT_FALSE(names().join(' ').contains(QStringLiteral(".instance")));
}

TEST_F(SingleInstanceTest, ALaterStartRaisesTheRunningCopy)
{
    ASSERT_EQ(claimSingleInstance(bus.bus()), InstanceRole::First);
    MprisService service(controls);
    ASSERT_TRUE(service.publish(bus.bus()));
    EXPECT_EQ(claimSingleInstance(bus.client()), InstanceRole::Another);
    EXPECT_TRUE(runEventsUntil([&] { return raised == 1; }, 5000));
    processEventsFor(100);
    EXPECT_EQ(raised, 1);
}

TEST_F(SingleInstanceTest, ALaterStartWaitsForACopyThatIsStillStarting)
{
    ASSERT_EQ(claimSingleInstance(bus.bus()), InstanceRole::First);
    // The first copy makes its window and its service a moment after it took the name.
    MprisService service(controls);
    QTimer::singleShot(300, [&] { service.publish(bus.bus()); });
    EXPECT_EQ(claimSingleInstance(bus.client()), InstanceRole::Another);
    EXPECT_TRUE(runEventsUntil([&] { return raised == 1; }, 5000));
}

TEST_F(SingleInstanceTest, ANameLetGoIsTakenByTheNextStart)
{
    ASSERT_EQ(claimSingleInstance(bus.client()), InstanceRole::First);
    bus.client().interface()->unregisterService(QString::fromLatin1(MprisService::kServiceName));
    EXPECT_EQ(claimSingleInstance(bus.bus()), InstanceRole::First);
}

TEST(SingleInstanceWithoutBus, RunsAloneWithoutASessionBus)
{
    SKIP_WITHOUT_X_SESSION();
    // The test main points the session bus at a path where none listens.
    EXPECT_EQ(claimSingleInstance(QDBusConnection::sessionBus()), InstanceRole::Alone);
}

} // namespace
