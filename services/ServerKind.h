#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "codecs/CodecTable.h"
#include "settings/EncoderConfig.h"

// How a source logs in.
enum class TLoginStyle {
    IcecastHttp,       // PUT, then SOURCE, with HTTP Basic authentication
    ShoutcastPassword, // the password alone, on the port above the configured one
};

// What differs between an Icecast server and a SHOUTcast v1 server, in one
// place: each kind has one implementation, chosen once from the settings.
class TServerKind {
public:
    virtual ~TServerKind() = default;

    virtual TLoginStyle Login() const = 0;
    // Why a codec cannot stream to this kind of server; null when it can.
    virtual const char* CodecRefusal(const TCodecRow& ARow) const = 0;
    // A whole request for a page any listener may ask, which anything
    // alive answers and which the server does not log as an error.
    virtual std::string ProbeRequest(const TEncoderConfig& AConfig) const = 0;
    // Where a listener finds the stream, below the server's address.
    virtual std::string ListeningPath(const TEncoderConfig& AConfig) const = 0;
    // The mount its statistics count apart; empty when it counts all its
    // listeners together.
    virtual std::string CountedMount(const TEncoderConfig& AConfig) const = 0;
    // Its listeners from its statistics pages, fetched by AGet (a path in,
    // the page out, empty when it cannot be read); -1 when unknown.
    virtual int32_t Listeners(const std::function<std::string(const std::string& APath)>& AGet,
                              const TEncoderConfig& AConfig) const = 0;
    // A title update: the target of a GET and its Basic credentials (none
    // when empty).
    struct TTitleRequest {
        std::string Target;
        std::string Credentials;
    };
    // The title updates to try in turn until one is accepted.
    virtual std::vector<TTitleRequest> TitleRequests(const TEncoderConfig& AConfig, const std::string& ASong) const = 0;
};

const TServerKind& ServerKindOf(const TEncoderConfig& AConfig);
