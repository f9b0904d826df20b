#include "tests/support/IcecastServer.h"

#include <csignal>

#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

TIcecastServer::TIcecastServer(bool ATls, bool AIpv6)
    : FTls(ATls), FIpv6(AIpv6)
{
    RequireProgram("icecast2");
    FPort = FreeLoopbackPort(2);
    const std::string logDir = FDir.File("log");
    std::filesystem::create_directory(logDir);
    const bool root = geteuid() == 0;
    if (root) {
        // icecast2 drops to nobody before it opens its logs.
        chmod(FDir.Path().c_str(), 0755);
        RunCommand("chown nobody:nogroup " + ShellQuote(logDir));
    }
    std::string tlsSocket, tlsPath;
    if (FTls) {
        RequireProgram("openssl");
        const std::string key = FDir.File("key.pem");
        int code = -1;
        RunCommand("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 "
                   "-addext subjectAltName=IP:127.0.0.1 -keyout " + ShellQuote(key) + " -out " +
                       ShellQuote(CertificateFile()) + " 2>&1",
                   &code);
        if (code != 0)
            throw std::runtime_error("openssl could not make the test certificate");
        // icecast2 wants the certificate and its key in one file.
        WriteTextFile(FDir.File("server.pem"), ReadTextFile(CertificateFile()) + ReadTextFile(key));
        chmod(FDir.File("server.pem").c_str(), 0644);
        tlsSocket = "<ssl>1</ssl>";
        tlsPath = "<ssl-certificate>" + FDir.File("server.pem") + "</ssl-certificate>";
    }
    const std::string p = std::to_string(FPort);
    const std::string p1 = std::to_string(FPort + 1);
    std::string xml =
        "<icecast>\n"
        " <location>test</location><admin>test@localhost</admin>\n"
        " <limits><clients>100</clients><sources>20</sources><queue-size>1048576</queue-size>"
        "<client-timeout>30</client-timeout><header-timeout>15</header-timeout>"
        "<source-timeout>10</source-timeout><burst-on-connect>1</burst-on-connect>"
        "<burst-size>65535</burst-size></limits>\n"
        " <authentication><source-password>hackme</source-password>"
        "<relay-password>hackme</relay-password><admin-user>admin</admin-user>"
        "<admin-password>adminpass</admin-password></authentication>\n"
        " <hostname>127.0.0.1</hostname>\n"
        " <listen-socket><port>" + p + "</port><bind-address>" + Host() + "</bind-address>" + tlsSocket +
        "</listen-socket>\n"
        " <listen-socket><port>" + p1 + "</port><bind-address>" + Host() + "</bind-address>"
        "<shoutcast-compat>1</shoutcast-compat></listen-socket>\n"
        " <shoutcast-mount>/stream</shoutcast-mount>\n"
        " <mount type=\"normal\"><mount-name>/stream</mount-name><charset>UTF-8</charset></mount>\n"
        " <fileserve>1</fileserve>\n"
        " <paths><basedir>/usr/share/icecast2</basedir><logdir>" + logDir + "</logdir>"
        "<webroot>/usr/share/icecast2/web</webroot><adminroot>/usr/share/icecast2/admin</adminroot>" +
        tlsPath + "</paths>\n"
        " <logging><accesslog>access.log</accesslog><errorlog>error.log</errorlog>"
        "<loglevel>3</loglevel></logging>\n"
        " <security><chroot>0</chroot>" +
        std::string(root ? "<changeowner><user>nobody</user><group>nogroup</group></changeowner>" : "") +
        "</security>\n"
        "</icecast>\n";
    WriteTextFile(FDir.File("icecast.xml"), xml);
    Start();
}

TIcecastServer::~TIcecastServer()
{
    Stop();
}

void TIcecastServer::Start()
{
    if (Running())
        return;
    FProcess = std::make_unique<TChildProcess>(
        std::vector<std::string>{"icecast2", "-c", FDir.File("icecast.xml")},
        std::map<std::string, std::string>{}, FDir.File("stdout.log"));
    if (!WaitForPort(FPort, 10000, FIpv6) || !WaitForPort(FPort + 1, 5000, FIpv6))
        throw std::runtime_error("icecast2 did not start: " + ReadTextFile(FDir.File("stdout.log")) +
                                 ErrorLog());
}

void TIcecastServer::Freeze()
{
    if (FProcess)
        kill(FProcess->Pid(), SIGSTOP);
}

void TIcecastServer::Thaw()
{
    if (FProcess)
        kill(FProcess->Pid(), SIGCONT);
}

void TIcecastServer::Stop()
{
    // A frozen server would not see its SIGTERM before the SIGKILL.
    Thaw();
    if (FProcess)
        FProcess->Stop();
    FProcess.reset();
}

std::string TIcecastServer::StatusJson() const
{
    return RunCommand("curl -s --max-time 3 " + CurlTrust() + ShellQuote(BaseUrl() + "/status-json.xsl"));
}

std::string TIcecastServer::CurlTrust() const
{
    return FTls ? "--cacert " + ShellQuote(CertificateFile()) + " " : "";
}

std::string TIcecastServer::ErrorLog() const
{
    return ReadTextFile(FDir.File("log/error.log"));
}

std::string TIcecastServer::AccessLog() const
{
    return ReadTextFile(FDir.File("log/access.log"));
}
