#include "tests/services/ScriptedHttpServer.h"

#include <cstdio>
#include <stdexcept>

#include "tests/support/Python.h"

namespace {

const char* const kScript = R"PY(
import os, sys, time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

port, folder = int(sys.argv[1]), sys.argv[2]
answers = {}
with open(os.path.join(folder, "answers.txt"), encoding="utf-8") as table:
    for line in table.read().splitlines():
        path, status, body = line.split("\t")
        with open(os.path.join(folder, body), "rb") as f:
            answers[path] = (int(status), f.read())

class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"
    def do_GET(self):
        with open(os.path.join(folder, "requests.log"), "a", encoding="latin-1") as log:
            log.write(self.requestline + "\n" + str(self.headers) + "\x1e\n")
        while os.path.exists(os.path.join(folder, "hold")):
            time.sleep(0.02)
        status, body = answers.get(self.path, (404, b"<html><body><h1>404 Not Found</h1></body></html>"))
        self.send_response(status)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
    def log_message(self, *args):
        pass

ThreadingHTTPServer(("127.0.0.1", port), Handler).serve_forever()
)PY";

} // namespace

TScriptedHttpServer::TScriptedHttpServer(const std::map<std::string, THttpAnswer>& AAnswers)
{
    const std::string python = RequirePythonWith("http.server");
    std::string table;
    int index = 0;
    for (const auto& [path, answer] : AAnswers) {
        const std::string body = "body" + std::to_string(index++);
        WriteTextFile(FDir.File(body), answer.Body);
        table += path + "\t" + std::to_string(answer.Status) + "\t" + body + "\n";
    }
    WriteTextFile(FDir.File("answers.txt"), table);
    WriteTextFile(FDir.File("server.py"), kScript);
    FPort = FreeLoopbackPort();
    FProcess = std::make_unique<TChildProcess>(
        std::vector<std::string>{python, FDir.File("server.py"), std::to_string(FPort), FDir.Path()},
        std::map<std::string, std::string>{}, FDir.File("stdout.log"));
    if (!WaitForPort(FPort, 10000))
        throw std::runtime_error("HTTP server did not start: " + ReadTextFile(FDir.File("stdout.log")));
}

TScriptedHttpServer::~TScriptedHttpServer()
{
    Release();
    FProcess->Stop();
}

std::string TScriptedHttpServer::Url(const std::string& APath) const
{
    return "http://127.0.0.1:" + std::to_string(FPort) + APath;
}

std::vector<std::string> TScriptedHttpServer::Requests() const
{
    const std::string log = ReadTextFile(FDir.File("requests.log"));
    std::vector<std::string> requests;
    size_t start = 0;
    for (size_t end; (end = log.find("\x1e\n", start)) != std::string::npos; start = end + 2)
        requests.push_back(log.substr(start, end - start));
    return requests;
}

void TScriptedHttpServer::Hold()
{
    WriteTextFile(FDir.File("hold"), "");
}

void TScriptedHttpServer::Release()
{
    std::remove(FDir.File("hold").c_str());
}
