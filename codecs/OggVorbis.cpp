#include "codecs/OggVorbis.h"

#include "codecs/EntryPoints.h"
#include "codecs/OggSerial.h"
#include "codecs/StreamTitle.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

const char* const KNoVorbisLibrary =
    "Não encontrei libvorbis.dll. Coloque libvorbis.dll na mesma pasta do executável ou na "
    "subpasta dll.";
const char* const KMissingFunction = "A DLL Vorbis encontrada não exporta a função necessária: ";
const char* const KAllInOneLibrary = "liboggvorbis.so";

// libvorbis indexes tables with values derived from the samples: a NaN or
// an infinity there is undefined behaviour, so they become silence / full
// scale. Finite values pass unchanged.
float Sanitized(float AValue)
{
    if (std::isnan(AValue))
        return 0.0f;
    if (std::isinf(AValue))
        return AValue > 0 ? 1.0f : -1.0f;
    return AValue;
}

} // namespace

TOggVorbisEncoder::~TOggVorbisEncoder()
{
    if (FStarted) {
        std::string bytes, error;
        Finish(bytes, error);
    }
    if (FVorbisEncLib && FVorbisEncLib != FVorbisLib)
        FreeLibrary(FVorbisEncLib);
    if (FOggLib && FOggLib != FVorbisLib)
        FreeLibrary(FOggLib);
    if (FVorbisLib)
        FreeLibrary(FVorbisLib);
}

std::vector<std::string> TOggVorbisEncoder::OggNames() const
{
    return {"libogg.so.0", "libogg.so"};
}

std::vector<std::string> TOggVorbisEncoder::VorbisNames() const
{
    return {"libvorbis.so.0", "libvorbis.so", KAllInOneLibrary};
}

std::vector<std::string> TOggVorbisEncoder::VorbisEncNames() const
{
    return {"libvorbisenc.so.2", "libvorbisenc.so", KAllInOneLibrary};
}

bool TOggVorbisEncoder::LoadLibraries(std::string& AError)
{
    // libvorbis needs libogg, libvorbisenc needs both: copies beside them
    // are preferred to the system's.
    FOggLib = SearchLibraryA(OggNames());
    FVorbisLib = SearchLibraryA(VorbisNames(), OggNames());
    std::vector<std::string> encDeps = VorbisNames();
    for (const auto& name : OggNames())
        encDeps.push_back(name);
    FVorbisEncLib = SearchLibraryA(VorbisEncNames(), encDeps);
    if (!FVorbisLib) {
        AError = KNoVorbisLibrary;
        return false;
    }
    if (!FVorbisEncLib)
        FVorbisEncLib = FVorbisLib;
    if (!FOggLib)
        FOggLib = FVorbisLib;

    TEntryPointResolver r({FOggLib, FVorbisEncLib, FVorbisLib}, KMissingFunction, AError);
    r.Required(ogg_stream_init, "ogg_stream_init");
    r.Required(ogg_stream_packetin, "ogg_stream_packetin");
    r.Required(ogg_stream_pageout, "ogg_stream_pageout");
    r.Required(ogg_stream_flush, "ogg_stream_flush");
    r.Required(ogg_stream_clear, "ogg_stream_clear");
    r.Required(vorbis_info_init, "vorbis_info_init");
    r.Required(vorbis_info_clear, "vorbis_info_clear");
    r.Required(vorbis_comment_init, "vorbis_comment_init");
    r.Required(vorbis_comment_add_tag, "vorbis_comment_add_tag");
    r.Required(vorbis_comment_clear, "vorbis_comment_clear");
    r.Required(vorbis_encode_init_vbr, "vorbis_encode_init_vbr");
    r.Required(vorbis_analysis_init, "vorbis_analysis_init");
    r.Required(vorbis_analysis_headerout, "vorbis_analysis_headerout");
    r.Required(vorbis_block_init, "vorbis_block_init");
    r.Required(vorbis_analysis_buffer, "vorbis_analysis_buffer");
    r.Required(vorbis_analysis_wrote, "vorbis_analysis_wrote");
    r.Required(vorbis_analysis_blockout, "vorbis_analysis_blockout");
    r.Required(vorbis_analysis, "vorbis_analysis");
    r.Required(vorbis_bitrate_addblock, "vorbis_bitrate_addblock");
    r.Required(vorbis_bitrate_flushpacket, "vorbis_bitrate_flushpacket");
    r.Required(vorbis_block_clear, "vorbis_block_clear");
    r.Required(vorbis_dsp_clear, "vorbis_dsp_clear");
    FLoaded = r.Ok();
    return FLoaded;
}

float TOggVorbisEncoder::QualityFromBitrate(int32_t ABitrateKbps)
{
    const int32_t b = std::max(std::min(ABitrateKbps, 320), 48);
    const double q = std::max(std::min((b - 64) / 256.0, 0.65), 0.0);
    return static_cast<float>(q);
}

bool TOggVorbisEncoder::IsAvailable(std::string& AError)
{
    AError.clear();
    TOggVorbisEncoder probe;
    return probe.LoadLibraries(AError);
}

void TOggVorbisEncoder::AppendPage(std::string& AOut, const ogg_page& APage)
{
    AOut.append(reinterpret_cast<const char*>(APage.header), static_cast<size_t>(APage.header_len));
    AOut.append(reinterpret_cast<const char*>(APage.body), static_cast<size_t>(APage.body_len));
}

void TOggVorbisEncoder::ReleaseSetup(TSetupStage AReached)
{
    if (AReached >= ssStream)
        ogg_stream_clear(&FOs);
    if (AReached >= ssBlock)
        vorbis_block_clear(&FVb);
    if (AReached >= ssAnalysis)
        vorbis_dsp_clear(&FVd);
    if (AReached >= ssComment)
        vorbis_comment_clear(&FVc);
    vorbis_info_clear(&FVi);
}

bool TOggVorbisEncoder::FailSetup(TSetupStage AReached, const char* AMessage, std::string& AError)
{
    ReleaseSetup(AReached);
    AError = AMessage;
    return false;
}

bool TOggVorbisEncoder::Start(int32_t AChannels, int32_t ASampleRate, int32_t ABitrateKbps,
                              std::string& HeaderBytes, std::string& AError)
{
    HeaderBytes.clear();
    AError.clear();
    if (!FLoaded && !LoadLibraries(AError))
        return false;
    // The caller never restarts a running stream; if it does, the old codec
    // state is released rather than overwritten and leaked.
    if (FStarted) {
        std::string discarded, ignored;
        Finish(discarded, ignored);
    }
    FChannels = std::clamp(AChannels, 1, 2);
    FSampleRate = std::max(ASampleRate, 8000);
    FQuality = QualityFromBitrate(ABitrateKbps);
    return OpenChain(HeaderBytes, AError);
}

bool TOggVorbisEncoder::OpenChain(std::string& AHeader, std::string& AError)
{
    std::memset(&FVi, 0, sizeof(FVi));
    std::memset(&FVc, 0, sizeof(FVc));
    std::memset(&FVd, 0, sizeof(FVd));
    std::memset(&FVb, 0, sizeof(FVb));
    std::memset(&FOs, 0, sizeof(FOs));

    vorbis_info_init(&FVi);
    if (vorbis_encode_init_vbr(&FVi, FChannels, FSampleRate, FQuality) != 0)
        return FailSetup(ssInfo, "Falha ao iniciar encoder Ogg Vorbis.", AError);
    vorbis_comment_init(&FVc);
    vorbis_comment_add_tag(&FVc, "ENCODER", "TAVIX Encoder Nativo");
    if (!FTitle.empty())
        vorbis_comment_add_tag(&FVc, "TITLE", FTitle.c_str());
    if (vorbis_analysis_init(&FVd, &FVi) != 0)
        return FailSetup(ssComment, "Falha ao iniciar análise Vorbis.", AError);
    if (vorbis_block_init(&FVd, &FVb) != 0)
        return FailSetup(ssAnalysis, "Falha ao iniciar bloco Vorbis.", AError);
    const int serial = NewOggSerial(FLastSerial);
    if (ogg_stream_init(&FOs, serial) != 0)
        return FailSetup(ssBlock, "Falha ao iniciar container Ogg.", AError);
    ogg_packet ident{}, comment{}, setup{};
    if (vorbis_analysis_headerout(&FVd, &FVc, &ident, &comment, &setup) != 0)
        return FailSetup(ssStream, "Falha ao gerar cabeçalhos Ogg Vorbis.", AError);
    ogg_stream_packetin(&FOs, &ident);
    ogg_stream_packetin(&FOs, &comment);
    ogg_stream_packetin(&FOs, &setup);
    ogg_page page{};
    while (ogg_stream_flush(&FOs, &page) != 0)
        AppendPage(AHeader, page);
    FLastSerial = serial;
    FChainTitle = FTitle;
    FChainHasAudio = false;
    FStarted = true;
    return true;
}

bool TOggVorbisEncoder::SetStreamTitle(const std::string& ATitleUtf8, std::string& AError)
{
    if (!CheckStreamTitle(ATitleUtf8, AError))
        return false;
    FTitle = ATitleUtf8;
    return true;
}

void TOggVorbisEncoder::Drain(std::string& AOut, bool AFlush)
{
    const T_ogg_stream_pageout takePage = AFlush ? ogg_stream_flush : ogg_stream_pageout;
    ogg_packet packet{};
    ogg_page page{};
    while (vorbis_analysis_blockout(&FVd, &FVb) == 1) {
        vorbis_analysis(&FVb, nullptr);
        vorbis_bitrate_addblock(&FVb);
        while (vorbis_bitrate_flushpacket(&FVd, &packet) != 0) {
            ogg_stream_packetin(&FOs, &packet);
            while (takePage(&FOs, &page) != 0)
                AppendPage(AOut, page);
        }
    }
}

bool TOggVorbisEncoder::EncodeFloatInterleaved(const float* Pcm, int32_t Frames,
                                               std::string& EncodedBytes, std::string& AError)
{
    EncodedBytes.clear();
    AError.clear();
    if (!FStarted) {
        AError = "Encoder Ogg Vorbis não iniciado.";
        return false;
    }
    if (Frames <= 0)
        return true;
    if (FTitle != FChainTitle && FChainHasAudio) {
        std::string header;
        if (!EndChain(EncodedBytes, AError) || !OpenChain(header, AError))
            return false;
        EncodedBytes += header;
    }
    float** planes = vorbis_analysis_buffer(&FVd, Frames);
    if (!planes) {
        AError = "Falha ao obter buffer Vorbis.";
        return false;
    }
    for (int32_t c = 0; c < FChannels; ++c) {
        float* plane = planes[c];
        for (int32_t i = 0; i < Frames; ++i)
            plane[i] = Sanitized(Pcm[static_cast<size_t>(i) * FChannels + c]);
    }
    if (vorbis_analysis_wrote(&FVd, Frames) != 0) {
        AError = "Falha ao escrever amostras Vorbis.";
        return false;
    }
    FChainHasAudio = true;
    Drain(EncodedBytes, false);
    return true;
}

bool TOggVorbisEncoder::Finish(std::string& EncodedBytes, std::string& AError)
{
    EncodedBytes.clear();
    AError.clear();
    if (!FStarted)
        return true;
    return EndChain(EncodedBytes, AError);
}

bool TOggVorbisEncoder::EndChain(std::string& AOut, std::string& AError)
{
    bool ok = true;
    try {
        vorbis_analysis_wrote(&FVd, 0);
        Drain(AOut, true);
        ogg_page page{};
        while (ogg_stream_flush(&FOs, &page) != 0)
            AppendPage(AOut, page);
    } catch (const std::exception& e) {
        AError = e.what();
        ok = false;
    }
    ReleaseSetup(ssStream);
    FStarted = false;
    return ok;
}
