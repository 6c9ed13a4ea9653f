// When the TLS library is loaded: only by the first https connection, never for plain http;
// and what a TLS library that cannot be loaded gives. Each fetch runs in a process of its own
// (the vornel-fetch tool), since this test program links OpenSSL for its servers.
#include "tests/support/scripted_server.h"
#include "tls_test_server.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using namespace std::chrono_literals;
using vornel::test::ConnectionScript;
using vornel::test::ScriptedServer;
using vornel::test::TlsTestServer;

const std::string kHead = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 10\r\n\r\n";

// vornel-fetch with --events, its stderr read line by line while it runs.
class FetchProcess {
public:
    explicit FetchProcess(std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), {VORNEL_FETCH_PATH, "--events"});
        std::vector<char*> argv;
        for (std::string& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        int pipeFds[2];
        if (::pipe(pipeFds) != 0)
            return;
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&files, pipeFds[1], STDERR_FILENO);
        posix_spawn_file_actions_addclose(&files, pipeFds[0]);
        if (posix_spawn(&pid_, argv[0], &files, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&files);
        ::close(pipeFds[1]);
        errFd_ = pipeFds[0];
    }

    ~FetchProcess()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (errFd_ >= 0)
            ::close(errFd_);
    }

    // Reads stderr until a line starts with prefix; false when stderr ends first.
    bool waitForLine(const std::string& prefix)
    {
        for (;;) {
            const size_t end = err_.find('\n', scanned_);
            if (end != std::string::npos) {
                const bool found = err_.compare(scanned_, prefix.size(), prefix) == 0;
                scanned_ = end + 1;
                if (found)
                    return true;
                continue;
            }
            if (!readMore())
                return false;
        }
    }

    // The libraries mapped into the process now.
    std::string maps() const
    {
        std::ifstream in("/proc/" + std::to_string(pid_) + "/maps");
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    // Waits for the exit; the exit status, with all of stderr in err().
    int finish()
    {
        while (readMore()) {}
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    bool started() const { return pid_ > 0; }
    const std::string& err() const { return err_; }

private:
    bool readMore()
    {
        char buffer[4096];
        const ssize_t n = ::read(errFd_, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        err_.append(buffer, static_cast<size_t>(n));
        return true;
    }

    pid_t pid_ = -1;
    int errFd_ = -1;
    std::string err_;
    size_t scanned_ = 0;
};

bool mapsTlsLibrary(const std::string& maps)
{
    return maps.find("/libssl.so") != std::string::npos || maps.find("/libcrypto.so") != std::string::npos;
}

// A TLS server that sends the head and half the body, then the rest once released.
class HalvingTlsServer {
public:
    HalvingTlsServer()
        : server_([this](SSL* ssl, int) {
              vornel::test::readRequestHead(ssl);
              vornel::test::writeAll(ssl, kHead + "hello");
              for (int i = 0; i < 1000 && !released_; ++i)
                  std::this_thread::sleep_for(10ms);
              vornel::test::writeAll(ssl, "world");
              SSL_shutdown(ssl);
          })
    {}
    std::string url() const { return "https://127.0.0.1:" + std::to_string(server_.port()) + "/"; }
    void release() { released_ = true; }

private:
    std::atomic<bool> released_{false};
    TlsTestServer server_;
};

TEST(TlsLoading, PlainHttpNeverMapsTheTlsLibrary)
{
    ScriptedServer server;
    // The rest of the body never comes while the test looks; the process is killed at the end.
    server.addConnection(ConnectionScript().expectHead().send(kHead + "hello").wait(30000ms).send("world"));
    FetchProcess fetch({server.url("/")});
    ASSERT_TRUE(fetch.started());
    ASSERT_TRUE(fetch.waitForLine("begin 10")) << fetch.err();
    const std::string maps = fetch.maps();
    ASSERT_NE(maps.find("/libc.so"), std::string::npos) << "the maps were read while it ran";
    EXPECT_FALSE(mapsTlsLibrary(maps)) << maps;
}

TEST(TlsLoading, TheFirstHttpsConnectionLoadsIt)
{
    HalvingTlsServer secure;
    ScriptedServer plain;
    plain.addConnection(ConnectionScript().reply200("plain"));
    FetchProcess fetch({plain.url("/"), secure.url()});
    ASSERT_TRUE(fetch.started());
    ASSERT_TRUE(fetch.waitForLine("begin 10")) << fetch.err();
    const std::string maps = fetch.maps();
    secure.release();
    EXPECT_NE(maps.find("/libssl.so.3"), std::string::npos) << maps;
    EXPECT_NE(maps.find("/libcrypto.so.3"), std::string::npos) << maps;
    EXPECT_EQ(fetch.finish(), 0) << fetch.err();
}

struct UnloadableCase {
    const char* what;
    std::string folder;
    std::string why; // what the failure records
};

std::ostream& operator<<(std::ostream& out, const UnloadableCase& c)
{
    return out << c.what;
}

class UnloadableTlsLibrary : public testing::TestWithParam<UnloadableCase> {};

TEST_P(UnloadableTlsLibrary, FailsHttpsWithItsOwnFailureAndLeavesPlainHttpAlone)
{
    const UnloadableCase& c = GetParam();
    HalvingTlsServer secure;
    secure.release();
    ScriptedServer plain;
    plain.addConnection(ConnectionScript().reply200("plain"));
    // Plain http first: it never looks at the folder.
    FetchProcess fetch({"--tls-folder", c.folder, plain.url("/"), secure.url()});
    ASSERT_TRUE(fetch.started());
    EXPECT_EQ(fetch.finish(), 1);
    EXPECT_EQ(fetch.err(), "begin 5\nwork 5\nend\nstatus: HTTP/1.1 200 OK\n"
                           "error: EIdOSSLCouldNotLoadSSLLibrary: Could not load SSL library.\n"
                           "tls library: " +
                               c.why + "\n");
}

INSTANTIATE_TEST_SUITE_P(Folders, UnloadableTlsLibrary,
                         testing::Values(UnloadableCase{"a file that does not load", VORNEL_TLS_BROKEN_FOLDER,
                                                        "Failed to load " VORNEL_TLS_BROKEN_FOLDER "/libcrypto.so.3."},
                                         UnloadableCase{
                                             "libraries without the entry points", VORNEL_TLS_STUB_FOLDER,
                                             "Missing entry points: ERR_get_error ERR_peek_error ERR_clear_error "
                                             "ERR_error_string_n OPENSSL_init_ssl TLS_client_method SSL_CTX_new "
                                             "SSL_CTX_free SSL_CTX_ctrl SSL_CTX_set_options SSL_CTX_set_verify "
                                             "SSL_CTX_set_security_level SSL_CTX_set_cipher_list SSL_new SSL_free "
                                             "SSL_set_ex_data SSL_set_fd SSL_ctrl SSL_connect SSL_read SSL_write "
                                             "SSL_pending SSL_get_error SSL_shutdown"}));

} // namespace
