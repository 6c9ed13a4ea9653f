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
#include <map>
#include <string>
#include <vector>

namespace {

const QString kPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kRoot = QStringLiteral("org.mpris.MediaPlayer2");
const QString kPlayer = QStringLiteral("org.mpris.MediaPlayer2.Player");

// The program as the service sees it: state to read, and a record of what it was asked.
struct FakeProgram {
    PlaybackStatus status = PlaybackStatus::Playing;
    NowPlaying track{true, 2, QStringLiteral("Demo Band - Track 03"), QStringLiteral("http://127.0.0.2/a/03.mp3"),
                     15000000};
    int64_t positionUs = 1000000;
    bool canSeek = true;
    std::map<std::string, int> actions;
    std::vector<int64_t> seeks;

    MediaPlayerControls controls()
    {
        MediaPlayerControls c;
        c.status = [this] { return status; };
        c.nowPlaying = [this] { return track; };
        c.positionUs = [this] { return positionUs; };
        c.canSeek = [this] { return canSeek; };
        c.canGoNext = [] { return true; };
        c.canGoPrevious = [] { return false; };
        for (const char* name : {"raise", "quit", "playPause", "play", "pause", "stop", "next", "previous"}) {
            std::function<void()> action = [this, name] { ++actions[name]; };
            if (std::string(name) == "raise")
                c.raise = action;
            if (std::string(name) == "quit")
                c.quit = action;
            if (std::string(name) == "playPause")
                c.playPause = action;
            if (std::string(name) == "play")
                c.play = action;
            if (std::string(name) == "pause")
                c.pause = action;
            if (std::string(name) == "stop")
                c.stop = action;
            if (std::string(name) == "next")
                c.next = action;
            if (std::string(name) == "previous")
                c.previous = action;
        }
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
    EXPECT_TRUE(property(kPlayer, QStringLiteral("CanGoNext")).toBool());
    EXPECT_FALSE(property(kPlayer, QStringLiteral("CanGoPrevious")).toBool());
    for (const char* name : {"CanPlay", "CanPause", "CanControl", "CanSeek"})
        EXPECT_TRUE(property(kPlayer, QString::fromLatin1(name)).toBool()) << name;

    const QDBusArgument argument = property(kPlayer, QStringLiteral("Metadata")).value<QDBusArgument>();
    QVariantMap metadata;
    argument >> metadata;
    EXPECT_EQ(metadata.value(QStringLiteral("mpris:trackid")).value<QDBusObjectPath>().path(),
              QStringLiteral("/org/vornelplayer/track/2"));
    EXPECT_EQ(metadata.value(QStringLiteral("xesam:title")).toString(), QStringLiteral("Demo Band - Track 03"));
    EXPECT_EQ(metadata.value(QStringLiteral("xesam:url")).toString(), QStringLiteral("http://127.0.0.2/a/03.mp3"));
    EXPECT_EQ(metadata.value(QStringLiteral("mpris:length")).toLongLong(), 15000000);

    program.track = NowPlaying();
    program.status = PlaybackStatus::Stopped;
    const QDBusArgument none = property(kPlayer, QStringLiteral("Metadata")).value<QDBusArgument>();
    metadata.clear();
    none >> metadata;
    EXPECT_EQ(metadata.keys(), QStringList{QStringLiteral("mpris:trackid")});
    EXPECT_EQ(metadata.value(QStringLiteral("mpris:trackid")).value<QDBusObjectPath>().path(),
              QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack"));
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

TEST_F(MprisServiceTest, ChangesAreAnnouncedAndThePositionOnlyThroughSeeked)
{
    SignalCatcher catcher;
    ASSERT_TRUE(client->connect(QString(), kPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                QStringLiteral("PropertiesChanged"), &catcher,
                                SLOT(propertiesChanged(QString, QVariantMap, QStringList))));
    ASSERT_TRUE(
        client->connect(QString(), kPath, kPlayer, QStringLiteral("Seeked"), &catcher, SLOT(onSeeked(qlonglong))));
    processEventsFor(100);

    program.status = PlaybackStatus::Paused;
    ASSERT_TRUE(runEventsUntil([&] { return !catcher.changed.empty(); }, 3000));
    EXPECT_EQ(catcher.changed.back().value(QStringLiteral("PlaybackStatus")).toString(), QStringLiteral("Paused"));
    EXPECT_FALSE(catcher.changed.back().contains(QStringLiteral("Position")));

    program.track.entry = 3;
    program.track.title = QStringLiteral("Demo Band - Track 04");
    ASSERT_TRUE(runEventsUntil([&] { return catcher.changed.size() >= 2; }, 3000));
    EXPECT_TRUE(catcher.changed.back().contains(QStringLiteral("Metadata")));

    // Paused, the position stays; a jump of it is a seek made elsewhere (the seek bar).
    program.positionUs = 9000000;
    ASSERT_TRUE(runEventsUntil([&] { return !catcher.seeked.empty(); }, 3000));
    EXPECT_EQ(catcher.seeked.back(), 9000000);
    for (const QVariantMap& change : catcher.changed)
        EXPECT_FALSE(change.contains(QStringLiteral("Position")));
}

TEST_F(MprisServiceTest, SeekAndSetPositionMoveThroughTheProgramWithinTheTrack)
{
    const QDBusObjectPath track(QStringLiteral("/org/vornelplayer/track/2"));
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
         {QVariant::fromValue(QDBusObjectPath(QStringLiteral("/org/vornelplayer/track/5"))),
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
