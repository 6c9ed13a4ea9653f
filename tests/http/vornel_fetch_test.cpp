// The vornel-fetch tool's output against the scripted server.
#include "tests/http/wire_helpers.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

using namespace vornel::test;

struct ToolRun {
    int exitCode;
    std::string out;
    std::string err;
};

std::string slurp(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

ToolRun runFetch(const std::string& arguments)
{
    const vornel::test::TempFolder folder("vornel-fetch-test");
    const std::filesystem::path dir = folder.path();
    const std::string command = std::string(VORNEL_FETCH_PATH) + " " + arguments + " >" + (dir / "out").string() +
                                " 2>" + (dir / "err").string();
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(dir / "out"), slurp(dir / "err")};
}

TEST(VornelFetch, PrintsBodiesStatusAndEventsForEachUrl)
{
    ScriptedServer server;
    server.addConnection(ConnectionScript().reply200("first").reply200("second"));
    const ToolRun run = runFetch("--events " + server.url("/a") + " " + server.url("/b"));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "firstsecond");
    EXPECT_EQ(run.err,
              "begin 5\nwork 5\nend\nstatus: HTTP/1.1 200 OK\nbegin 6\nwork 6\nend\nstatus: HTTP/1.1 200 OK\n");
    EXPECT_EQ(server.connectionCount(), 1u);
}

TEST(VornelFetch, ReportsAFailureWithEscapedLineEnds)
{
    ScriptedServer server;
    server.addConnection(ConnectionScript().expectHead().send(lengthReply("HTTP/1.1 404 Not Found", "gone")));
    const ToolRun protocol = runFetch("--client runtime --text " + server.url("/x"));
    EXPECT_EQ(protocol.exitCode, 1);
    EXPECT_EQ(protocol.err,
              "status: HTTP/1.1 404 Not Found\nerror: EIdHTTPProtocolException: HTTP/1.1 404 Not Found\n");
    const ToolRun refused = runFetch("http://127.0.0.1:1/");
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.err, "error: EIdSocketError: Socket Error # 10061\\r\\nConnection refused.\n");
}

} // namespace
