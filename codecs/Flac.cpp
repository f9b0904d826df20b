#include "codecs/Flac.h"

#include <algorithm>
#include <cstdlib>

#include "codecs/EntryPoints.h"
#include "codecs/SampleConversion.h"
#include "codecs/StreamTitle.h"
#include "platform/Tick.h"

namespace {

const char* const KNoLibrary =
    "Nao encontrou libFLAC.dll para Ogg FLAC. Coloque libFLAC.dll e libogg.dll na pasta dll do "
    "programa.";
const char* const KMissingFunction = "A DLL libFLAC.dll nao exporta a funcao necessaria: ";
const char* const KNoTitleFunctions =
    "A DLL libFLAC.dll nao exporta as funcoes de metadados: o titulo nao vai dentro do fluxo Ogg "
    "FLAC.";

} // namespace

TFlacEncoder::~TFlacEncoder()
{
    if (FStarted) {
        std::string bytes, error;
        Finish(bytes, error);
    }
    DeleteEncoder();
    FreeLibrary(FLib);
}

std::vector<std::string> TFlacEncoder::LibraryNames() const
{
    return {"libFLAC.so.12", "libFLAC.so.8", "libFLAC.so"};
}

bool TFlacEncoder::LoadLibrary(std::string& AError)
{
    // libFLAC's Ogg layer needs libogg: a copy beside it is preferred. A
    // library found once is kept, lest a second try leak its handle.
    if (!FLib)
        FLib = SearchLibraryA(LibraryNames(), {"libogg.so.0", "libogg.so"});
    if (!FLib) {
        AError = KNoLibrary;
        return false;
    }
    TEntryPointResolver r({FLib}, KMissingFunction, AError);
    r.Required(FLAC__stream_encoder_new, "FLAC__stream_encoder_new");
    r.Required(FLAC__stream_encoder_delete, "FLAC__stream_encoder_delete");
    r.Required(FLAC__stream_encoder_set_verify, "FLAC__stream_encoder_set_verify");
    r.Required(FLAC__stream_encoder_set_streamable_subset, "FLAC__stream_encoder_set_streamable_subset");
    r.Required(FLAC__stream_encoder_set_channels, "FLAC__stream_encoder_set_channels");
    r.Required(FLAC__stream_encoder_set_bits_per_sample, "FLAC__stream_encoder_set_bits_per_sample");
    r.Required(FLAC__stream_encoder_set_sample_rate, "FLAC__stream_encoder_set_sample_rate");
    r.Required(FLAC__stream_encoder_set_compression_level, "FLAC__stream_encoder_set_compression_level");
    r.Required(FLAC__stream_encoder_set_total_samples_estimate, "FLAC__stream_encoder_set_total_samples_estimate");
    r.Required(FLAC__stream_encoder_init_ogg_stream, "FLAC__stream_encoder_init_ogg_stream");
    r.Required(FLAC__stream_encoder_process_interleaved, "FLAC__stream_encoder_process_interleaved");
    r.Required(FLAC__stream_encoder_finish, "FLAC__stream_encoder_finish");
    r.Optional(FLAC__stream_encoder_set_ogg_serial_number, "FLAC__stream_encoder_set_ogg_serial_number");
    r.Optional(FLAC__stream_encoder_set_limit_min_bitrate, "FLAC__stream_encoder_set_limit_min_bitrate");
    r.Optional(FLAC__stream_encoder_set_metadata, "FLAC__stream_encoder_set_metadata");
    r.Optional(FLAC__metadata_object_new, "FLAC__metadata_object_new");
    r.Optional(FLAC__metadata_object_delete, "FLAC__metadata_object_delete");
    r.Optional(FLAC__metadata_object_vorbiscomment_entry_from_name_value_pair,
               "FLAC__metadata_object_vorbiscomment_entry_from_name_value_pair");
    r.Optional(FLAC__metadata_object_vorbiscomment_append_comment,
               "FLAC__metadata_object_vorbiscomment_append_comment");
    FLoaded = r.Ok();
    return FLoaded;
}

bool TFlacEncoder::CarriesTitles() const
{
    return FLAC__stream_encoder_set_ogg_serial_number && FLAC__stream_encoder_set_metadata &&
           FLAC__metadata_object_new && FLAC__metadata_object_delete &&
           FLAC__metadata_object_vorbiscomment_entry_from_name_value_pair &&
           FLAC__metadata_object_vorbiscomment_append_comment;
}

bool TFlacEncoder::SetStreamTitle(const std::string& ATitleUtf8, std::string& AError)
{
    if (!CheckStreamTitle(ATitleUtf8, AError))
        return false;
    if (!FLoaded && !LoadLibrary(AError))
        return false;
    if (!CarriesTitles()) {
        AError = KNoTitleFunctions;
        return false;
    }
    FTitle = ATitleUtf8;
    return true;
}

bool TFlacEncoder::IsAvailable(std::string& AError)
{
    AError.clear();
    TFlacEncoder probe;
    return probe.LoadLibrary(AError);
}

int32_t TFlacEncoder::WriteCallback(const FLAC__StreamEncoder*, const uint8_t* Buffer, size_t Bytes,
                                    uint32_t, uint32_t, void* ClientData)
{
    if (!ClientData)
        return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
    if (Buffer && Bytes > 0)
        static_cast<TFlacEncoder*>(ClientData)->FPending.append(
            reinterpret_cast<const char*>(Buffer), Bytes);
    return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
}

void TFlacEncoder::DeleteEncoder()
{
    if (FEncoder && FLAC__stream_encoder_delete)
        FLAC__stream_encoder_delete(FEncoder);
    FEncoder = nullptr;
    if (FComment && FLAC__metadata_object_delete)
        FLAC__metadata_object_delete(FComment);
    FComment = nullptr;
}

bool TFlacEncoder::EndChain()
{
    const bool ok = !FStarted || !FEncoder || FLAC__stream_encoder_finish(FEncoder) != 0;
    DeleteEncoder();
    FStarted = false;
    return ok;
}

bool TFlacEncoder::AttachTitle(std::string& AError)
{
    FComment = FLAC__metadata_object_new(FLAC__METADATA_TYPE_VORBIS_COMMENT);
    FLAC__StreamMetadata_VorbisComment_Entry entry{};
    bool ok = FComment && FLAC__metadata_object_vorbiscomment_entry_from_name_value_pair(
                              &entry, "TITLE", FTitle.c_str());
    // Not copied: the block takes the entry over, unless it refuses it.
    if (ok && !FLAC__metadata_object_vorbiscomment_append_comment(FComment, entry, 0)) {
        std::free(entry.entry);
        ok = false;
    }
    ok = ok && FLAC__stream_encoder_set_metadata(FEncoder, &FComment, 1);
    if (!ok)
        AError = "Nao gravou o titulo no Ogg FLAC.";
    return ok;
}

bool TFlacEncoder::Start(int32_t AChannels, int32_t ASampleRate, int32_t /*ABitrateKbps*/,
                         std::string& HeaderBytes, std::string& AError)
{
    HeaderBytes.clear();
    AError.clear();
    if (!FLoaded && !LoadLibrary(AError))
        return false;
    EndChain();
    FChannels = std::clamp(AChannels, 1, 2);
    FSampleRate = std::max(ASampleRate, 8000);
    FPending.clear();
    if (!OpenChain(AError))
        return false;
    HeaderBytes = std::move(FPending);
    FPending.clear();
    if (HeaderBytes.empty()) {
        AError = "Encoder Ogg FLAC iniciou sem cabecalho.";
        return false;
    }
    return true;
}

bool TFlacEncoder::OpenChain(std::string& AError)
{
    FEncoder = FLAC__stream_encoder_new();
    if (!FEncoder) {
        AError = "Nao abriu encoder Ogg FLAC.";
        return false;
    }
    if (FLAC__stream_encoder_set_ogg_serial_number) {
        uint32_t serial = GetTickCount() & 0x7FFFFFFFu;
        if (serial == FLastSerial)
            serial = (serial + 1) & 0x7FFFFFFFu;
        FLAC__stream_encoder_set_ogg_serial_number(FEncoder, static_cast<long>(serial));
        FLastSerial = serial;
    }
    if (FLAC__stream_encoder_set_limit_min_bitrate)
        FLAC__stream_encoder_set_limit_min_bitrate(FEncoder, 1);
    auto set = [&](int AResult, const char* AMessage) {
        if (AResult)
            return true;
        AError = AMessage;
        return false;
    };
    if (!set(FLAC__stream_encoder_set_verify(FEncoder, 0), "Nao configurou verify Ogg FLAC.") ||
        !set(FLAC__stream_encoder_set_streamable_subset(FEncoder, 1),
             "Nao configurou subset Ogg FLAC.") ||
        !set(FLAC__stream_encoder_set_channels(FEncoder, static_cast<uint32_t>(FChannels)),
             "Nao configurou canais Ogg FLAC.") ||
        !set(FLAC__stream_encoder_set_bits_per_sample(FEncoder, 16), "Nao configurou bits Ogg FLAC.") ||
        !set(FLAC__stream_encoder_set_sample_rate(FEncoder, static_cast<uint32_t>(FSampleRate)),
             "Nao configurou sample rate Ogg FLAC.") ||
        !set(FLAC__stream_encoder_set_compression_level(FEncoder, 5),
             "Nao configurou compressao Ogg FLAC."))
        return false;
    FLAC__stream_encoder_set_total_samples_estimate(FEncoder, 0);
    // Without a title libFLAC writes its own comment block, vendor only.
    if (!FTitle.empty() && !AttachTitle(AError))
        return false;
    const int32_t status = FLAC__stream_encoder_init_ogg_stream(
        FEncoder, nullptr, &TFlacEncoder::WriteCallback, nullptr, nullptr, nullptr, this);
    if (status != FLAC__STREAM_ENCODER_INIT_STATUS_OK) {
        AError = "Nao iniciou encoder Ogg FLAC. Status: " + std::to_string(status);
        return false;
    }
    FChainTitle = FTitle;
    FChainHasAudio = false;
    FStarted = true;
    return true;
}

bool TFlacEncoder::EncodeFloatInterleaved(const float* Pcm, int32_t Frames,
                                          std::string& EncodedBytes, std::string& AError)
{
    EncodedBytes.clear();
    AError.clear();
    if (!FStarted || !FEncoder) {
        AError = "Encoder Ogg FLAC nao iniciado.";
        return false;
    }
    const int64_t n = int64_t{Frames} * FChannels;
    if (n <= 0)
        return true;
    if (FTitle != FChainTitle && FChainHasAudio) {
        if (!EndChain()) {
            AError = "Falha ao finalizar Ogg FLAC.";
            return false;
        }
        if (!OpenChain(AError))
            return false;
    }
    ToFlacSamples(Pcm, static_cast<size_t>(n), FPcm32);
    if (!FLAC__stream_encoder_process_interleaved(FEncoder, FPcm32.data(),
                                                  static_cast<uint32_t>(Frames))) {
        AError = "Falha ao codificar Ogg FLAC.";
        return false;
    }
    FChainHasAudio = true;
    EncodedBytes = std::move(FPending);
    FPending.clear();
    return true;
}

bool TFlacEncoder::Finish(std::string& EncodedBytes, std::string& AError)
{
    EncodedBytes.clear();
    AError.clear();
    if (!FStarted || !FEncoder)
        return true;
    const bool ok = EndChain();
    if (!ok)
        AError = "Falha ao finalizar Ogg FLAC.";
    EncodedBytes = std::move(FPending);
    FPending.clear();
    return ok;
}
