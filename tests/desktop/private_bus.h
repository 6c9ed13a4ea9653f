#pragma once

#include "desktop_test_support.h"
#include "tests/support/temp_folder.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>

#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// A session bus of the test's own, without service activation, and a connection to it.
class PrivateBus {
public:
    PrivateBus()
    {
        try {
            folder_.emplace("vornel-bus");
        } catch (const std::runtime_error&) {
            return;
        }
        address_ = "unix:path=" + folder_->path() + "/bus";
        std::ofstream(folder_->path() + "/bus.conf")
            << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
               " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
               "<busconfig><type>session</type><listen>"
            << address_
            << "</listen><auth>EXTERNAL</auth>"
               "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
               "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";
        daemon_ = startProgram("dbus-daemon", "--config-file=" + folder_->path() + "/bus.conf --nofork --nopidfile");
        // The socket file appears a moment before the daemon listens on it.
        runEventsUntil([&] { return connect(); }, 10000);
    }

    ~PrivateBus()
    {
        for (auto it = programs_.rbegin(); it != programs_.rend(); ++it)
            stopProgram(*it);
        QDBusConnection::disconnectFromBus(QStringLiteral("vornel-test"));
        QDBusConnection::disconnectFromBus(QStringLiteral("vornel-test-client"));
        stopProgram(daemon_);
    }

    bool connected() const { return connection_ && connection_->isConnected(); }

    bool connect()
    {
        connection_.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("vornel-test"));
        connection_ = QDBusConnection::connectToBus(QString::fromStdString(address_), QStringLiteral("vornel-test"));
        return connected();
    }
    QDBusConnection& bus() { return *connection_; }
    // A second connection to the same bus, as another program would have.
    QDBusConnection client()
    {
        return QDBusConnection::connectToBus(QString::fromStdString(address_), QStringLiteral("vornel-test-client"));
    }
    std::string folder() const { return folder_ ? folder_->path() : std::string(); }

    // Runs a program with this bus as its session bus.
    void start(const std::string& environment, const std::string& program, const std::string& arguments = "")
    {
        programs_.push_back(
            startProgram("env DBUS_SESSION_BUS_ADDRESS=" + address_ + " " + environment + " " + program, arguments));
    }

    bool hasName(const QString& name) { return bus().interface()->isServiceRegistered(name).value(); }

private:
    std::optional<vornel::test::TempFolder> folder_;
    std::string address_;
    pid_t daemon_ = -1;
    std::vector<pid_t> programs_;
    std::optional<QDBusConnection> connection_;
};
