#pragma once

#include <memory>
#include <string>

#include "platform/Thread.h"
#include "settings/EncoderConfig.h"
#include "streaming/TlsSession.h"

// Pushes one song title to the server's admin interface and frees itself.
// Works only on its own copies: it may outlive the streaming worker and even
// be running while the program exits.
class TMetadataUpdateThread : public TThread {
public:
    TMetadataUpdateThread(const TEncoderConfig& AConfig, const std::string& ASong);
    ~TMetadataUpdateThread() override;

protected:
    void Execute() override;

private:
    bool OpenAdminConnection();
    void CloseAdminConnection();
    // Each sends one request; true when the server is taken to have
    // accepted the title.
    bool UpdateIcecastMetadata(const std::string& AUser);
    bool UpdateShoutcastMetadata();
    std::string HostLine() const;
    // Sends ARequest on the open connection, judges the reply, closes.
    bool Exchange(const std::string& ARequest);
    bool SendRequest(const std::string& ARequest);
    std::string ReadReply();

    TEncoderConfig FConfig;
    std::string FSong;
    int FSocket = -1;
    std::unique_ptr<TTlsSession> FTls;
};

// Starts a metadata update for ATitle unless it is blank; never waits.
void PushTitle(const TEncoderConfig& AConfig, const std::string& ATitle);

// Metadata updates started and not yet ended (lets tests and exit paths wait).
int RunningMetadataUpdates();
