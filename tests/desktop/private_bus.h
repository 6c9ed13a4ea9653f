#pragma once

#include "desktop_test_support.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

// A session bus of the test's own, without service activation, and a connection to it.
class PrivateBus {
public:
    PrivateBus()
    {
        std::string folder = (std::filesystem::temp_directory_path() / "vornel-bus-XXXXXX").string();
        if (::mkdtemp(folder.data()) == nullptr)
            return;
        folder_ = folder;
        address_ = "unix:path=" + folder_ + "/bus";
        std::ofstream(folder_ + "/bus.conf")
            << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
               " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
               "<busconfig><type>session</type><listen>"
            << address_
            << "</listen><auth>EXTERNAL</auth>"
               "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
               "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";
        daemon_ = startProgram("dbus-daemon", "--config-file=" + folder_ + "/bus.conf --nofork --nopidfile");
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
        if (!folder_.empty())
            std::filesystem::remove_all(folder_);
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
    const std::string& folder() const { return folder_; }

    // Runs a program with this bus as its session bus.
    void start(const std::string& environment, const std::string& program, const std::string& arguments = "")
    {
        programs_.push_back(
            startProgram("env DBUS_SESSION_BUS_ADDRESS=" + address_ + " " + environment + " " + program, arguments));
    }

    bool hasName(const QString& name) { return bus().interface()->isServiceRegistered(name).value(); }

private:
    std::string folder_;
    std::string address_;
    pid_t daemon_ = -1;
    std::vector<pid_t> programs_;
    std::optional<QDBusConnection> connection_;
};
