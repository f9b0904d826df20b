#include "codecs/OggOpus.h"

#include <algorithm>

#include "codecs/EntryPoints.h"
#include "codecs/OggSerial.h"
#include "codecs/SampleConversion.h"
#include "codecs/StreamTitle.h"

namespace {

const char* const KNoLibrary =
    "Não encontrei libopusenc.dll. Coloque libopusenc.dll e libopus.dll na mesma pasta do "
    "executável ou na subpasta dll.";
const char* const KMissingFunction = "A DLL Opus encontrada não exporta a função necessária: ";

// libopusenc holds audio back for its decisions (two seconds unless told)
// and pages up to a second: a live stream wants neither, but a page per
// packet would cost more header than audio at the low bitrates.
constexpr int KDecisionDelay = 0;
constexpr int KMuxingDelay48k = 24000;

} // namespace

TOggOpusEncoder::~TOggOpusEncoder()
{
    if (FEncoder)
        ope_encoder_destroy(FEncoder);
    if (FLib)
        FreeLibrary(FLib);
}

std::vector<std::string> TOggOpusEncoder::LibraryNames() const
{
    return {"libopusenc.so.0", "libopusenc.so"};
}

std::vector<std::string> TOggOpusEncoder::OpusNames() const
{
    return {"libopus.so.0", "libopus.so"};
}

bool TOggOpusEncoder::LoadLibrary(std::string& AError)
{
    // libopusenc needs libopus: a copy beside it is preferred. A library
    // found once is kept, lest a second try leak its handle.
    if (!FLib)
        FLib = SearchLibraryA(LibraryNames(), OpusNames());
    if (!FLib) {
        AError = KNoLibrary;
        return false;
    }
    TEntryPointResolver r({FLib}, KMissingFunction, AError);
    r.Required(ope_comments_create, "ope_comments_create");
    r.Required(ope_comments_destroy, "ope_comments_destroy");
    r.Required(ope_comments_add, "ope_comments_add");
    r.Required(ope_encoder_create_callbacks, "ope_encoder_create_callbacks");
    r.Required(ope_encoder_ctl, "ope_encoder_ctl");
    r.Required(ope_encoder_flush_header, "ope_encoder_flush_header");
    r.Required(ope_encoder_write_float, "ope_encoder_write_float");
    r.Required(ope_encoder_drain, "ope_encoder_drain");
    r.Required(ope_encoder_destroy, "ope_encoder_destroy");
    r.Required(ope_strerror, "ope_strerror");
    FLoaded = r.Ok();
    return FLoaded;
}

bool TOggOpusEncoder::IsAvailable(std::string& AError)
{
    AError.clear();
    TOggOpusEncoder probe;
    return probe.LoadLibrary(AError);
}

int32_t TOggOpusEncoder::BitrateWithinRange(int32_t ABitrateKbps)
{
    return std::clamp(ABitrateKbps, 16, 256);
}

bool TOggOpusEncoder::SetStreamTitle(const std::string& ATitleUtf8, std::string& AError)
{
    if (!CheckStreamTitle(ATitleUtf8, AError))
        return false;
    FTitle = ATitleUtf8;
    return true;
}

int TOggOpusEncoder::WriteCallback(void* UserData, const unsigned char* Ptr, int32_t Len)
{
    if (!UserData)
        return 1;
    if (Ptr && Len > 0)
        static_cast<TOggOpusEncoder*>(UserData)->FPending.append(reinterpret_cast<const char*>(Ptr),
                                                                 static_cast<size_t>(Len));
    return 0;
}

int TOggOpusEncoder::CloseCallback(void*)
{
    return 0;
}

bool TOggOpusEncoder::Failed(const char* AMessage, int ACode, std::string& AError) const
{
    AError = AMessage;
    if (const char* reason = ope_strerror(ACode))
        AError += std::string(" ") + reason;
    return false;
}

bool TOggOpusEncoder::Start(int32_t AChannels, int32_t ASampleRate, int32_t ABitrateKbps,
                            std::string& HeaderBytes, std::string& AError)
{
    HeaderBytes.clear();
    AError.clear();
    if (!FLoaded && !LoadLibrary(AError))
        return false;
    // A restart drops the running stream's last bytes.
    if (FStarted) {
        std::string ignored;
        EndChain(ignored);
    }
    FChannels = std::clamp(AChannels, 1, 2);
    FSampleRate = std::max(ASampleRate, 8000);
    FBitrateKbps = BitrateWithinRange(ABitrateKbps);
    FPending.clear();
    if (!OpenChain(AError))
        return false;
    HeaderBytes = std::move(FPending);
    FPending.clear();
    return true;
}

bool TOggOpusEncoder::Configure(std::string& AError)
{
    const int serial = NewOggSerial(FLastSerial);
    const struct {
        int Request;
        int Value;
        const char* Message;
    } settings[] = {
        {OPE_SET_SERIALNO_REQUEST, serial, "Falha ao definir o serial Ogg Opus."},
        {OPUS_SET_BITRATE_REQUEST, FBitrateKbps * 1000, "Falha ao definir o bitrate Opus."},
        {OPUS_SET_EXPERT_FRAME_DURATION_REQUEST, OPUS_FRAMESIZE_20_MS,
         "Falha ao definir quadros Opus de 20 ms."},
        {OPE_SET_DECISION_DELAY_REQUEST, KDecisionDelay, "Falha ao definir o atraso Ogg Opus."},
        {OPE_SET_MUXING_DELAY_REQUEST, KMuxingDelay48k, "Falha ao definir as páginas Ogg Opus."},
    };
    for (const auto& s : settings) {
        const int code = ope_encoder_ctl(FEncoder, s.Request, static_cast<int32_t>(s.Value));
        if (code != OPE_OK)
            return Failed(s.Message, code, AError);
    }
    FLastSerial = serial;
    return true;
}

bool TOggOpusEncoder::OpenChain(std::string& AError)
{
    OggOpusComments* comments = ope_comments_create();
    if (!comments) {
        AError = "Falha ao criar comentários Ogg Opus.";
        return false;
    }
    bool ok = ope_comments_add(comments, "ENCODER", "TAVIX Encoder Nativo") == OPE_OK &&
              (FTitle.empty() || ope_comments_add(comments, "TITLE", FTitle.c_str()) == OPE_OK);
    int code = OPE_OK;
    if (ok) {
        // The encoder keeps its own copies of the callbacks and comments.
        const OpusEncCallbacks callbacks{&TOggOpusEncoder::WriteCallback,
                                         &TOggOpusEncoder::CloseCallback};
        FEncoder = ope_encoder_create_callbacks(&callbacks, this, comments, FSampleRate, FChannels,
                                                0, &code);
    }
    ope_comments_destroy(comments);
    if (!ok) {
        AError = "Falha ao gravar comentários Ogg Opus.";
        return false;
    }
    if (!FEncoder)
        return Failed("Falha ao iniciar encoder Ogg Opus.", code, AError);
    if (!Configure(AError)) {
        ope_encoder_destroy(FEncoder);
        FEncoder = nullptr;
        return false;
    }
    code = ope_encoder_flush_header(FEncoder);
    if (code != OPE_OK) {
        ope_encoder_destroy(FEncoder);
        FEncoder = nullptr;
        return Failed("Falha ao gerar cabeçalhos Ogg Opus.", code, AError);
    }
    FChainTitle = FTitle;
    FChainHasAudio = false;
    FStarted = true;
    return true;
}

bool TOggOpusEncoder::EncodeFloatInterleaved(const float* Pcm, int32_t Frames,
                                             std::string& EncodedBytes, std::string& AError)
{
    EncodedBytes.clear();
    AError.clear();
    if (!FStarted) {
        AError = "Encoder Ogg Opus não iniciado.";
        return false;
    }
    if (Frames <= 0)
        return true;
    if (FTitle != FChainTitle && FChainHasAudio && (!EndChain(AError) || !OpenChain(AError))) {
        EncodedBytes = std::move(FPending);
        FPending.clear();
        return false;
    }
    ToOpusSamples(Pcm, static_cast<size_t>(Frames) * FChannels, FPcm);
    const int code = ope_encoder_write_float(FEncoder, FPcm.data(), Frames);
    EncodedBytes = std::move(FPending);
    FPending.clear();
    if (code != OPE_OK)
        return Failed("Falha ao codificar Ogg Opus.", code, AError);
    FChainHasAudio = true;
    return true;
}

bool TOggOpusEncoder::Finish(std::string& EncodedBytes, std::string& AError)
{
    EncodedBytes.clear();
    AError.clear();
    if (!FStarted)
        return true;
    const bool ok = EndChain(AError);
    EncodedBytes = std::move(FPending);
    FPending.clear();
    return ok;
}

bool TOggOpusEncoder::EndChain(std::string& AError)
{
    // libopusenc records where a stream ends only when samples are written:
    // a chain that never had any would be drained to no end. Zero samples
    // set that end without adding audio.
    const float none = 0.0f;
    int code = ope_encoder_write_float(FEncoder, &none, 0);
    if (code == OPE_OK)
        code = ope_encoder_drain(FEncoder);
    ope_encoder_destroy(FEncoder);
    FEncoder = nullptr;
    FStarted = false;
    if (code != OPE_OK)
        return Failed("Falha ao finalizar Ogg Opus.", code, AError);
    return true;
}
