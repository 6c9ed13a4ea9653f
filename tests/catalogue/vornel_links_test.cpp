// The vornel-links tool run from a shell against a loopback page.
#include "tests/support/scripted_server.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cctype>
#include <string>

namespace {

using vornel::test::Route;
using vornel::test::ScriptedServer;

struct ToolRun {
    std::string out;
    int status = -1;
};

ToolRun runTool(const std::string& arguments)
{
    ToolRun run;
    const std::string command = std::string("'") + VORNEL_LINKS_TOOL + "' " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return run;
    std::array<char, 4096> buffer;
    size_t got;
    while ((got = fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        run.out.append(buffer.data(), got);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

Route page(const std::string& body, int status = 200)
{
    Route route;
    route.body = body;
    route.contentType = "text/html";
    route.status = status;
    return route;
}

TEST(VornelLinks, PrintsEveryPairWithEscapedBreaks)
{
    ScriptedServer server;
    server.addRoute("/", page("<a href=/a>one<br>two</a><a href='http://" VORNEL_FILE_HOST_MARKER
                              "/f/1'>File</a><a href=/b>c1\\c2</a>"));
    const ToolRun run = runTool("'" + server.url("/") + "'");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "http://127.0.0.1/a\tone\\ntwo\n"
                       "http://" VORNEL_FILE_HOST_MARKER "/f/1\tFile\n"
                       "http://127.0.0.1/b\tc1\\\\c2\n");
}

TEST(VornelLinks, FilterKeepsFileHostLinksInAnyCase)
{
    ScriptedServer server;
    std::string upper = VORNEL_FILE_HOST_MARKER;
    for (char& c : upper)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    server.addRoute("/",
                    page("<a href=/a>site</a><a href='http://x.example/?h=" + upper + "'>Loud</a><a href=/b>site</a>"));
    const ToolRun run = runTool("--filter '" + server.url("/") + "'");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "http://x.example/?h=" + upper + "\tLoud\n");
}

TEST(VornelLinks, FailureGoesToStderrWithStatusOne)
{
    ScriptedServer server;
    server.addRoute("/missing", page("<a href=/a>no</a>", 404));
    const ToolRun run = runTool("'" + server.url("/missing") + "'");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out.rfind("error: EIdHTTPProtocolException: ", 0), 0u) << run.out;
    EXPECT_EQ(runTool("").status, 2);
}

} // namespace
