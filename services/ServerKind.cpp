#include "services/ServerKind.h"

#include "net/WireText.h"
#include "platform/CodePage.h"
#include "platform/Text.h"
#include "services/ListenerStats.h"

namespace {

std::string TitleQuery(const std::string& ASong)
{
    return "&mode=updinfo&charset=UTF-8&song=" + UrlEncodeUtf8(CleanSongTitle(ASong));
}

class TIcecastKind : public TServerKind {
public:
    TLoginStyle Login() const override { return TLoginStyle::IcecastHttp; }
    const char* CodecRefusal(const TCodecRow&) const override { return nullptr; }
    std::string ProbeRequest(const TEncoderConfig& AConfig) const override
    {
        // icecast2 logs a HEAD as an error; its status page is anyone's.
        return "GET /status-json.xsl?mount=" + UrlEncodeUtf8(NormalizeMount(AConfig.Mount)) +
               " HTTP/1.0\r\nUser-Agent: TAVIX-Encoder-Nativo/2.0\r\n\r\n";
    }
    std::string ListeningPath(const TEncoderConfig& AConfig) const override
    {
        // The mount the source logs in to.
        return NormalizeMount(AConfig.Mount);
    }
    std::string CountedMount(const TEncoderConfig& AConfig) const override { return NormalizeMount(AConfig.Mount); }
    int32_t Listeners(const std::function<std::string(const std::string&)>& AGet,
                      const TEncoderConfig& AConfig) const override
    {
        return IcecastMountListeners(AGet("/status-json.xsl"), CountedMount(AConfig));
    }
    std::vector<TTitleRequest> TitleRequests(const TEncoderConfig& AConfig, const std::string& ASong) const override
    {
        // As the source user, and as "admin" when that one is refused.
        std::string user = Trim(AConfig.UserName);
        if (user.empty())
            user = "source";
        const std::string target = "/admin/metadata?mount=" + UrlEncodeUtf8(NormalizeMount(AConfig.Mount)) +
                                   TitleQuery(ASong);
        const auto as = [&](const std::string& AUser) {
            return TTitleRequest{target,
                                 Base64Encode(Utf8ToWindows1252(AUser) + ":" + Utf8ToWindows1252(AConfig.Password))};
        };
        if (SameTextAscii(user, "admin"))
            return {as(user)};
        return {as(user), as("admin")};
    }
};

class TShoutcastKind : public TServerKind {
public:
    TLoginStyle Login() const override { return TLoginStyle::ShoutcastPassword; }
    const char* CodecRefusal(const TCodecRow& ARow) const override
    {
        if (ARow.Kind == TCodecKind::OggOpus)
            return "Ogg Opus deve ser usado com Icecast. Para Shoutcast comum, use MP3 ou AAC+.";
        if (!ARow.AllowedOnShoutcast)
            return "Ogg Vorbis e Ogg FLAC devem ser usados com Icecast. Para Shoutcast comum, use MP3 ou AAC+.";
        return nullptr;
    }
    std::string ProbeRequest(const TEncoderConfig&) const override
    {
        // A v1 server sends its page only to a browser, and the stream, as
        // to a new listener, to anyone else.
        return "GET /7.html HTTP/1.0\r\nUser-Agent: Mozilla/5.0 (compatible; TAVIX-Encoder-Nativo/2.0)\r\n\r\n";
    }
    std::string ListeningPath(const TEncoderConfig&) const override { return "/"; }
    std::string CountedMount(const TEncoderConfig&) const override { return ""; }
    int32_t Listeners(const std::function<std::string(const std::string&)>& AGet,
                      const TEncoderConfig&) const override
    {
        const int32_t count = ExtractTagNumber(AGet("/stats?sid=1"), "CURRENTLISTENERS");
        return count >= 0 ? count : ParseSevenHtml(AGet("/7.html"));
    }
    std::vector<TTitleRequest> TitleRequests(const TEncoderConfig& AConfig, const std::string& ASong) const override
    {
        return {{"/admin.cgi?pass=" + UrlEncodeUtf8(AConfig.Password) + TitleQuery(ASong) +
                     "&url=" + UrlEncodeUtf8(Trim(AConfig.Url)),
                 ""}};
    }
};

} // namespace

const TServerKind& ServerKindOf(const TEncoderConfig& AConfig)
{
    static const TIcecastKind icecast;
    static const TShoutcastKind shoutcast;
    if (IsShoutcastServer(AConfig.ServerType))
        return shoutcast;
    return icecast;
}
