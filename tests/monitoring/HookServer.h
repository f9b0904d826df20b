#pragma once

#include <httplib.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A local HTTP server of the test's own that counts the webhook's calls.
class THookServer {
public:
    THookServer()
    {
        FServer.Get("/hook", [this](const httplib::Request& ARequest, httplib::Response& AResponse) {
            const std::lock_guard<std::mutex> guard(FLock);
            FCalls.push_back(ARequest.get_param_value("event") + "/" + ARequest.get_param_value("state") + "/" +
                             ARequest.get_param_value("station"));
            AResponse.set_content("ok", "text/plain");
        });
        FServer.Get("/broken", [](const httplib::Request&, httplib::Response& AResponse) { AResponse.status = 500; });
        FPort = FServer.bind_to_any_port("127.0.0.1");
        FThread = std::thread([this] { FServer.listen_after_bind(); });
        while (!FServer.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ~THookServer()
    {
        FServer.stop();
        FThread.join();
    }
    std::string Url(const std::string& APath) const { return "http://127.0.0.1:" + std::to_string(FPort) + APath; }
    std::vector<std::string> Calls()
    {
        const std::lock_guard<std::mutex> guard(FLock);
        return FCalls;
    }

private:
    httplib::Server FServer;
    int FPort = 0;
    std::thread FThread;
    std::mutex FLock;
    std::vector<std::string> FCalls;
};
