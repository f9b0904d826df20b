#include "tests/support/FtpServer.h"

#include <filesystem>
#include <stdexcept>

#include "tests/support/Python.h"

namespace {

const char* const kScript = R"PY(
import logging, sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

port, home, user, password, log, login = sys.argv[1:7]
logging.basicConfig(filename=log, level=logging.DEBUG, format="%(message)s")
authorizer = DummyAuthorizer()
authorizer.add_user(user, password, home, perm="elradfmwMT")
class Handler(FTPHandler):
    def on_login(self, username):
        self.fs.cwd = "/" + login

handler = Handler
handler.authorizer = authorizer
FTPServer(("127.0.0.1", int(port)), handler).serve_forever()
)PY";

} // namespace

TFtpServer::TFtpServer(const std::string& ALoginFolder)
{
    const std::string python = RequirePythonWith("pyftpdlib");
    std::filesystem::create_directories(Home() + "/" + ALoginFolder);
    WriteTextFile(FDir.File("ftpserver.py"), kScript);
    FPort = FreeLoopbackPort();
    FProcess = std::make_unique<TChildProcess>(
        std::vector<std::string>{python, FDir.File("ftpserver.py"), std::to_string(FPort), Home(), User(),
                                 Password(), FDir.File("commands.log"), ALoginFolder},
        std::map<std::string, std::string>{}, FDir.File("stdout.log"));
    if (!WaitForPort(FPort, 10000))
        throw std::runtime_error("FTP server did not start: " + ReadTextFile(FDir.File("stdout.log")));
}

TFtpServer::~TFtpServer()
{
    FProcess->Stop();
}

std::string TFtpServer::CommandLog() const
{
    return ReadTextFile(FDir.File("commands.log"));
}
