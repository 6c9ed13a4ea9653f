// vornel-fetch: runs GETs through the player's HTTP client from a shell.
//
//   vornel-fetch [--client page|download|runtime] [--text] [--events] [--tls-folder DIR] URL...
//
// Fetches each URL in order on one client. Body bytes go to stdout (with --text the
// decoded text as UTF-8). stderr gets "status: <status line>" per reply, with --events
// the progress events ("begin <size>", "work <count>", "end"), and on a failure
// "error: <kind>: <message>" (CR and LF written as \r and \n), after which it exits 1.
// --tls-folder sets the folder that the TLS library is loaded from, as the player sets its
// own; when the TLS library cannot be loaded, a line "tls library: <why>" follows the error.
#include "http/http_client.h"
#include "http/tls_library.h"
#include "http/tls_session.h"

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

namespace {

using vornel::http::ClientSettings;
using vornel::http::HttpClient;
using vornel::http::HttpError;
using vornel::http::MemoryStream;

struct Options {
    std::string client = "page";
    bool text = false;
    bool events = false;
    std::string tlsFolder;
    std::vector<std::string> urls;
};

int usage()
{
    std::cerr << "usage: vornel-fetch [--client page|download|runtime] [--text] [--events] [--tls-folder DIR] "
                 "URL...\n";
    return 2;
}

bool parse(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--client" && i + 1 < argc)
            options.client = argv[++i];
        else if (arg == "--text")
            options.text = true;
        else if (arg == "--events")
            options.events = true;
        else if (arg == "--tls-folder" && i + 1 < argc)
            options.tlsFolder = argv[++i];
        else if (arg.rfind("--", 0) == 0)
            return false;
        else
            options.urls.push_back(arg);
    }
    const bool knownClient = options.client == "page" || options.client == "download" || options.client == "runtime";
    return knownClient && !options.urls.empty();
}

std::string escapeLineEnds(const std::string& text)
{
    std::string escaped;
    for (const char c : text) {
        if (c == '\r')
            escaped += "\\r";
        else if (c == '\n')
            escaped += "\\n";
        else
            escaped += c;
    }
    return escaped;
}

void writeOut(const std::string& bytes)
{
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!parse(argc, argv, options))
        return usage();

    vornel::http::setTlsLibraryFolder(options.tlsFolder);
    HttpClient client(options.client == "runtime" ? ClientSettings::runtime() : ClientSettings::configured());
    if (options.events) {
        client.OnWorkBegin = [](vornel::http::WorkMode, int64_t size) { std::cerr << "begin " << size << "\n"; };
        client.OnWork = [](vornel::http::WorkMode, int64_t count) { std::cerr << "work " << count << "\n"; };
        client.OnWorkEnd = [](vornel::http::WorkMode) { std::cerr << "end\n"; };
    }
    bool replied = false;
    client.OnHeaders = [&](const vornel::http::Response&) { replied = true; };

    for (const auto& url : options.urls) {
        replied = false;
        try {
            if (options.text) {
                const std::string text = client.GetAsText(url);
                std::cerr << "status: " << client.response().ResponseText << "\n";
                writeOut(text);
            } else {
                MemoryStream body;
                client.GetToStream(url, body);
                std::cerr << "status: " << client.response().ResponseText << "\n";
                writeOut(body.bytes());
            }
        } catch (const HttpError& error) {
            if (replied)
                std::cerr << "status: " << client.response().ResponseText << "\n";
            std::cerr << "error: " << error.kindName() << ": " << escapeLineEnds(error.what()) << "\n";
            if (error.kind() == vornel::http::FailureKind::OSSLCouldNotLoadSSLLibrary)
                std::cerr << "tls library: " << vornel::http::tlsLibraryFailure() << "\n";
            return 1;
        }
    }
    return 0;
}
