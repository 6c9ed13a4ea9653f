// The MPRIS2 service on a private session bus, seen from a client's connection, in front
// of a program whose state the test sets.
#include "desktop/mpris_service.h"

#include "desktop_test_support.h"
#include "private_bus.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <vector>

using namespace vornel::desktop;

namespace {

const QString kPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kRoot = QStringLiteral("org.mpris.MediaPlayer2");
const QString kPlayer = QStringLiteral("org.mpris.MediaPlayer2.Player");

// The program as the service sees it: state to read, and a record of what it was asked.
struct FakeProgram {
    PlaybackStatus status = PlaybackStatus::Playing;
    NowPlaying track{true,
                     7,
                     QStringLiteral("Track 03"),
                     {QStringLiteral("Demo Band")},
                     QStringLiteral("http://127.0.0.2/a/03.mp3"),
                     15000000};
    int64_t positionUs = 1000000;
    bool canPlay = true;
    bool canSeek = true;
    double volume = 1.0;
    std::map<std::string, int> actions;
    std::vector<int64_t> seeks;
    std::vector<double> volumes;

    MediaPlayerControls controls()
    {
        MediaPlayerControls c;
        c.status = [this] { return status; };
        c.nowPlaying = [this] { return track; };
        c.positionUs = [this] { return positionUs; };
        c.canPlay = [this] { return canPlay; };
        c.canSeek = [this] { return canSeek; };
        c.volume = [this] { return volume; };
        c.setVolume = [this](double v) {
            volumes.push_back(v);
            volume = v;
        };
        c.canGoNext = [] { return true; };
        c.canGoPrevious = [] { return false; };
        const std::pair<const char*, std::function<void()>*> handlers[] = {
            {"raise", &c.raise}, {"quit", &c.quit}, {"playPause", &c.playPause}, {"play", &c.play},
            {"pause", &c.pause}, {"stop", &c.stop}, {"next", &c.next},           {"previous", &c.previous}};
        for (const auto& [name, handler] : handlers)
            *handler = [this, name = name] { ++actions[name]; };
        c.seekTo = [this](int64_t us) {
            seeks.push_back(us);
            positionUs = us;
        };
        return c;
    }
};

class MprisServiceTest : public testing::Test {
protected:
    void SetUp() override
    {
        SKIP_WITHOUT_X_SESSION();
        ASSERT_TRUE(bus.connected()) << "the private dbus-daemon did not start";
        service = std::make_unique<MprisService>(program.controls());
        ASSERT_TRUE(service->publish(bus.bus()));
        client = std::make_unique<QDBusConnection>(bus.client());
        ASSERT_TRUE(client->isConnected());
    }

    void TearDown() override { service.reset(); }

    // A call from the client; the service answers from this thread's event loop.
    QDBusMessage call(const QString& interface, const QString& method, const QVariantList& arguments = {})
    {
        QDBusMessage message =
            QDBusMessage::createMethodCall(QString::fromLatin1(MprisService::kServiceName), kPath, interface, method);
        message.setArguments(arguments);
        QDBusPendingCallWatcher watcher(client->asyncCall(message, 5000));
        runEventsUntil([&] { return watcher.isFinished(); }, 6000);
        return watcher.reply();
    }

    QVariant property(const QString& interface, const QString& name)
    {
        const QDBusMessage reply =
            call(QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"), {interface, name});
        return reply.arguments().value(0).value<QDBusVariant>().variant();
    }

    static QVariantMap metadataOf(const QVariant& value)
    {
        QVariantMap map;
        if (value.canConvert<QDBusArgument>())
            value.value<QDBusArgument>() >> map;
        else
            map = value.toMap();
        return map;
    }

    QDBusMessage set(const QString& interface, const QString& name, const QVariant& value)
    {
        return call(QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Set"),
                    {interface, name, QVariant::fromValue(QDBusVariant(value))});
    }

    PrivateBus bus;
    FakeProgram program;
    std::unique_ptr<MprisService> service;
    std::unique_ptr<QDBusConnection> client;
};

// Catches the service's signals on the client's connection.
class SignalCatcher : public QObject {
    Q_OBJECT
public:
    std::vector<QVariantMap> changed;
    std::vector<qlonglong> seeked;
public slots:
    void propertiesChanged(const QString& interface, const QVariantMap& properties, const QStringList&)
    {
        if (interface == kPlayer)
            changed.push_back(properties);
    }
    void onSeeked(qlonglong position) { seeked.push_back(position); }
};

TEST_F(MprisServiceTest, TellsWhoItIsAndWhatPlays)
{
    EXPECT_EQ(property(kRoot, QStringLiteral("Identity")).toString(), QStringLiteral("VornelPlayer"));
    EXPECT_EQ(property(kRoot, QStringLiteral("DesktopEntry")).toString(), QStringLiteral("vornelplayer"));
    EXPECT_TRUE(property(kRoot, QStringLiteral("CanQuit")).toBool());
    EXPECT_TRUE(property(kRoot, QStringLiteral("CanRaise")).toBool());
    EXPECT_EQ(property(kPlayer, QStringLiteral("PlaybackStatus")).toString(), QStringLiteral("Playing"));
    EXPECT_EQ(property(kPlayer, QStringLiteral("Position")).toLongLong(), 1000000);
    EXPECT_EQ(property(kPlayer, QStringLiteral("Volume")).toDouble(), 1.0);
    EXPECT_EQ(property(kPlayer, QStringLiteral("Rate")).toDouble(), 1.0);
    EXPECT_TRUE(property(kPlayer, QStringLiteral("CanGoNext")).toBool());
    EXPECT_FALSE(property(kPlayer, QStringLiteral("CanGoPrevious")).toBool());
    for (const char* name : {"CanPlay", "CanPause", "CanControl", "CanSeek"})
        EXPECT_TRUE(property(kPlayer, QString::fromLatin1(name)).toBool()) << name;

    QVariantMap metadata = metadataOf(property(kPlayer, QStringLiteral("Metadata")));
    EXPECT_EQ(metadata.value(QStringLiteral("mpris:trackid")).value<QDBusObjectPath>().path(),
              QStringLiteral("/org/vornelplayer/track/7"));
    EXPECT_EQ(metadata.value(QStringLiteral("xesam:title")).toString(), QStringLiteral("Track 03"));
    EXPECT_EQ(metadata.value(QStringLiteral("xesam:artist")).toStringList(), QStringList{QStringLiteral("Demo Band")});
    EXPECT_EQ(metadata.value(QStringLiteral("xesam:url")).toString(), QStringLiteral("http://127.0.0.2/a/03.mp3"));
    EXPECT_EQ(metadata.value(QStringLiteral("mpris:length")).toLongLong(), 15000000);

    // GetAll, as panels read the player, gives the same.
    const QDBusMessage all =
        call(QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("GetAll"), {kPlayer});
    ASSERT_EQ(all.type(), QDBusMessage::ReplyMessage) << all.errorMessage().toStdString();
    QVariantMap properties;
    all.arguments().value(0).value<QDBusArgument>() >> properties;
    EXPECT_EQ(properties.value(QStringLiteral("PlaybackStatus")).toString(), QStringLiteral("Playing"));
    EXPECT_EQ(metadataOf(properties.value(QStringLiteral("Metadata"))), metadata);

    // Nothing playing and nothing to play.
    program.track = NowPlaying();
    program.status = PlaybackStatus::Stopped;
    program.canPlay = false;
    metadata = metadataOf(property(kPlayer, QStringLiteral("Metadata")));
    EXPECT_EQ(metadata.keys(), QStringList{QStringLiteral("mpris:trackid")});
    EXPECT_EQ(metadata.value(QStringLiteral("mpris:trackid")).value<QDBusObjectPath>().path(),
              QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack"));
    EXPECT_FALSE(property(kPlayer, QStringLiteral("CanPlay")).toBool());
    EXPECT_FALSE(property(kPlayer, QStringLiteral("CanPause")).toBool());
    // A paused track can be played whatever the list holds.
    program.status = PlaybackStatus::Paused;
    EXPECT_TRUE(property(kPlayer, QStringLiteral("CanPlay")).toBool());
}

TEST_F(MprisServiceTest, EachMethodRunsItsActionOnce)
{
    const std::vector<std::pair<QString, std::string>> methods = {
        {QStringLiteral("PlayPause"), "playPause"}, {QStringLiteral("Play"), "play"},
        {QStringLiteral("Pause"), "pause"},         {QStringLiteral("Stop"), "stop"},
        {QStringLiteral("Next"), "next"},           {QStringLiteral("Previous"), "previous"}};
    for (const auto& [method, action] : methods) {
        EXPECT_EQ(call(kPlayer, method).type(), QDBusMessage::ReplyMessage) << method.toStdString();
        runEventsUntil([&] { return program.actions[action] == 1; }, 2000);
    }
    EXPECT_EQ(call(kRoot, QStringLiteral("Raise")).type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(call(kRoot, QStringLiteral("Quit")).type(), QDBusMessage::ReplyMessage);
    processEventsFor(100);
    const std::map<std::string, int> once = {{"playPause", 1}, {"play", 1},     {"pause", 1}, {"stop", 1},
                                             {"next", 1},      {"previous", 1}, {"raise", 1}, {"quit", 1}};
    EXPECT_EQ(program.actions, once);
}

TEST_F(MprisServiceTest, ChangesAreAnnouncedWhenTheProgramSaysSoAndThePositionOnlyThroughSeeked)
{
    SignalCatcher catcher;
    ASSERT_TRUE(client->connect(QString(), kPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                QStringLiteral("PropertiesChanged"), &catcher,
                                SLOT(propertiesChanged(QString, QVariantMap, QStringList))));
    ASSERT_TRUE(
        client->connect(QString(), kPath, kPlayer, QStringLiteral("Seeked"), &catcher, SLOT(onSeeked(qlonglong))));
    processEventsFor(100);

    // Nothing looks at the program by itself ...
    program.status = PlaybackStatus::Paused;
    program.volume = 0.5;
    processEventsFor(500);
    EXPECT_TRUE(catcher.changed.empty());
    // ... until it says that something changed; a burst of changes makes one announcement.
    service->changed();
    service->changed();
    ASSERT_TRUE(runEventsUntil([&] { return !catcher.changed.empty(); }, 3000));
    processEventsFor(100);
    ASSERT_EQ(catcher.changed.size(), 1u);
    EXPECT_EQ(catcher.changed.back().value(QStringLiteral("PlaybackStatus")).toString(), QStringLiteral("Paused"));
    EXPECT_EQ(catcher.changed.back().value(QStringLiteral("Volume")).toDouble(), 0.5);
    EXPECT_EQ(catcher.changed.back().size(), 2);

    program.track.id = 8;
    program.track.title = QStringLiteral("Track 04");
    program.canPlay = false; // still true: a track is paused
    service->changed();
    ASSERT_TRUE(runEventsUntil([&] { return catcher.changed.size() >= 2; }, 3000));
    EXPECT_EQ(catcher.changed.back().keys(), QStringList{QStringLiteral("Metadata")});

    // A seek made elsewhere (the seek bar) is announced with Seeked, never as a property.
    program.positionUs = 9000000;
    service->seeked();
    ASSERT_TRUE(runEventsUntil([&] { return !catcher.seeked.empty(); }, 3000));
    EXPECT_EQ(catcher.seeked.back(), 9000000);

    program.status = PlaybackStatus::Stopped;
    program.track = NowPlaying();
    service->changed();
    ASSERT_TRUE(runEventsUntil([&] { return catcher.changed.size() >= 3; }, 3000));
    EXPECT_FALSE(catcher.changed.back().value(QStringLiteral("CanPlay")).toBool());
    EXPECT_FALSE(catcher.changed.back().value(QStringLiteral("CanPause")).toBool());
    for (const QVariantMap& change : catcher.changed)
        EXPECT_FALSE(change.contains(QStringLiteral("Position")));
    EXPECT_EQ(catcher.seeked.size(), 1u);
}

TEST_F(MprisServiceTest, VolumeIsSetWithinRangeAndRateZeroPauses)
{
    SignalCatcher catcher;
    ASSERT_TRUE(client->connect(QString(), kPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                QStringLiteral("PropertiesChanged"), &catcher,
                                SLOT(propertiesChanged(QString, QVariantMap, QStringList))));
    const std::pair<double, double> volumes[] = {{0.3, 0.3}, {-0.5, 0.0}, {1.5, 1.0}};
    for (const auto& [asked, applied] : volumes) {
        const size_t before = program.volumes.size();
        EXPECT_EQ(set(kPlayer, QStringLiteral("Volume"), asked).type(), QDBusMessage::ReplyMessage);
        ASSERT_TRUE(runEventsUntil([&] { return program.volumes.size() == before + 1; }, 2000)) << asked;
        EXPECT_EQ(program.volumes.back(), applied);
        EXPECT_EQ(property(kPlayer, QStringLiteral("Volume")).toDouble(), applied);
        ASSERT_TRUE(runEventsUntil(
            [&] { return !catcher.changed.empty() && catcher.changed.back().value("Volume") == applied; }, 2000))
            << "no PropertiesChanged for volume " << applied;
    }

    EXPECT_EQ(set(kPlayer, QStringLiteral("Rate"), 1.0).type(), QDBusMessage::ReplyMessage);
    processEventsFor(100);
    EXPECT_EQ(program.actions["pause"], 0);
    EXPECT_EQ(set(kPlayer, QStringLiteral("Rate"), 0.0).type(), QDBusMessage::ReplyMessage);
    EXPECT_TRUE(runEventsUntil([&] { return program.actions["pause"] == 1; }, 2000));
    EXPECT_EQ(property(kPlayer, QStringLiteral("Rate")).toDouble(), 1.0);
}

struct WrongWrite {
    const char* interface;
    const char* property;
    QVariant value;
    const char* error;
};

TEST_F(MprisServiceTest, AWriteOfTheWrongTypeOrToAReadOnlyPropertyIsRefusedByName)
{
    const QString invalidArgs = QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs");
    const WrongWrite cases[] = {
        {"org.mpris.MediaPlayer2.Player", "Volume", QStringLiteral("0.5"), "org.freedesktop.DBus.Error.InvalidArgs"},
        {"org.mpris.MediaPlayer2.Player", "Volume", QVariant::fromValue(int32_t(1)),
         "org.freedesktop.DBus.Error.InvalidArgs"},
        {"org.mpris.MediaPlayer2.Player", "Volume", std::nan(""), "org.freedesktop.DBus.Error.InvalidArgs"},
        {"org.mpris.MediaPlayer2.Player", "Rate", true, "org.freedesktop.DBus.Error.InvalidArgs"},
        {"org.mpris.MediaPlayer2.Player", "PlaybackStatus", QStringLiteral("Paused"),
         "org.freedesktop.DBus.Error.PropertyReadOnly"},
        {"org.mpris.MediaPlayer2.Player", "Loudness", 1.0, "org.freedesktop.DBus.Error.UnknownProperty"},
        {"org.mpris.MediaPlayer2.Elsewhere", "Volume", 1.0, "org.freedesktop.DBus.Error.UnknownInterface"},
    };
    for (const WrongWrite& c : cases) {
        const QDBusMessage reply = set(QString::fromLatin1(c.interface), QString::fromLatin1(c.property), c.value);
        EXPECT_EQ(reply.type(), QDBusMessage::ErrorMessage) << c.property;
        EXPECT_EQ(reply.errorName(), QString::fromLatin1(c.error)) << c.property << " " << c.value.typeName();
    }
    processEventsFor(100);
    EXPECT_TRUE(program.volumes.empty());
    EXPECT_TRUE(program.actions.empty());
    EXPECT_EQ(program.volume, 1.0);
}

TEST_F(MprisServiceTest, IntrospectionListsEachInterfaceOnceWithTheWritableProperties)
{
    const QDBusMessage reply =
        call(QStringLiteral("org.freedesktop.DBus.Introspectable"), QStringLiteral("Introspect"));
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage);
    const QString xml = reply.arguments().value(0).toString();
    for (const char* interface :
         {"org.mpris.MediaPlayer2\"", "org.mpris.MediaPlayer2.Player\"", "org.freedesktop.DBus.Properties\""})
        EXPECT_EQ(xml.count(QStringLiteral("<interface name=\"") + QString::fromLatin1(interface)), 1) << interface;
    EXPECT_TRUE(xml.contains(QStringLiteral("<property name=\"Volume\" type=\"d\" access=\"readwrite\"/>")));
    EXPECT_TRUE(xml.contains(QStringLiteral("<property name=\"Rate\" type=\"d\" access=\"readwrite\"/>")));
}

TEST_F(MprisServiceTest, SeekAndSetPositionMoveThroughTheProgramWithinTheTrack)
{
    const QDBusObjectPath track(QStringLiteral("/org/vornelplayer/track/7"));
    call(kPlayer, QStringLiteral("Seek"), {QVariant::fromValue(qlonglong(2000000))});
    ASSERT_TRUE(runEventsUntil([&] { return program.seeks.size() == 1; }, 2000));
    EXPECT_EQ(program.seeks.back(), 3000000);

    call(kPlayer, QStringLiteral("Seek"), {QVariant::fromValue(qlonglong(-9000000))});
    ASSERT_TRUE(runEventsUntil([&] { return program.seeks.size() == 2; }, 2000));
    EXPECT_EQ(program.seeks.back(), 0) << "before the start is the start";

    call(kPlayer, QStringLiteral("SetPosition"), {QVariant::fromValue(track), QVariant::fromValue(qlonglong(7000000))});
    ASSERT_TRUE(runEventsUntil([&] { return program.seeks.size() == 3; }, 2000));
    EXPECT_EQ(program.seeks.back(), 7000000);

    // Another track's id, a position past the end, and seeking while the program cannot:
    // nothing moves.
    call(kPlayer, QStringLiteral("SetPosition"),
         {QVariant::fromValue(QDBusObjectPath(QStringLiteral("/org/vornelplayer/track/6"))),
          QVariant::fromValue(qlonglong(1000000))});
    call(kPlayer, QStringLiteral("SetPosition"),
         {QVariant::fromValue(track), QVariant::fromValue(qlonglong(16000000))});
    program.canSeek = false;
    call(kPlayer, QStringLiteral("Seek"), {QVariant::fromValue(qlonglong(1000000))});
    processEventsFor(200);
    EXPECT_EQ(program.seeks.size(), 3u);

    // Past the end of the track is the next track.
    program.canSeek = true;
    call(kPlayer, QStringLiteral("Seek"), {QVariant::fromValue(qlonglong(60000000))});
    EXPECT_TRUE(runEventsUntil([&] { return program.actions["next"] == 1; }, 2000));
    EXPECT_EQ(program.seeks.size(), 3u);
}

TEST_F(MprisServiceTest, ASecondPlayerOnTheBusTakesAnInstanceName)
{
    FakeProgram other;
    MprisService second(other.controls());
    ASSERT_TRUE(second.publish(bus.client()));
    const QStringList names = bus.bus().interface()->registeredServiceNames().value();
    EXPECT_TRUE(names.contains(QString::fromLatin1(MprisService::kServiceName)));
    EXPECT_TRUE(std::any_of(names.begin(), names.end(), [](const QString& name) {
        return name.startsWith(QString::fromLatin1(MprisService::kServiceName) + QStringLiteral(".instance"));
    }));
}

TEST(MprisServiceWithoutBus, StaysUnpublishedWithoutASessionBus)
{
    SKIP_WITHOUT_X_SESSION();
    FakeProgram program;
    MprisService service(program.controls());
    // The test main points the session bus at a path where none listens.
    EXPECT_FALSE(service.publish(QDBusConnection::sessionBus()));
    service.refresh(); // nothing to announce to, and no harm
}

} // namespace

#include "mpris_service_test.moc"
