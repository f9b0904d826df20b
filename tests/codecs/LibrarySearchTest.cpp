// Where the run-time codec libraries are looked for, and what the encoders
// say when a library is missing or lacks a function. The fakes are built
// by the tests and placed in this test's own executable folder (a folder
// of its own, so no other test binary sees them) or its current directory.
#include <climits>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "FakeLibraries.h"
#include "CodecTestSupport.h"
#include "codecs/FdkAac.h"
#include "codecs/Flac.h"
#include "codecs/OggOpus.h"
#include "codecs/OggVorbis.h"
#include "platform/DynamicLibrary.h"
#include "platform/ExePath.h"
#include "tests/support/TempDir.h"

namespace {

using TNames = std::vector<std::string>;

int FakeId(TLibHandle ALib)
{
    auto fn = reinterpret_cast<int (*)()>(GetProcAddress(ALib, "fake_id"));
    return fn ? fn() : -1;
}

// Runs the test body with the process's current directory moved to a
// temporary folder, so fakes can be put there.
class TCurrentDir {
public:
    TCurrentDir()
    {
        char buf[PATH_MAX];
        FOld = getcwd(buf, sizeof(buf)) ? buf : "/";
        EXPECT_EQ(chdir(FDir.Path().c_str()), 0);
    }
    ~TCurrentDir() { EXPECT_EQ(chdir(FOld.c_str()), 0); }
    std::string File(const std::string& AName) const { return FDir.File(AName); }
    std::string Dir() const { return FDir.Path() + "/"; }

private:
    TTempDir FDir;
    std::string FOld;
};

// A library planted in the folder the program was started from ran its
// code as soon as a codec was chosen: that folder is never searched.
TEST(LibrarySearchA, FoldersInOrderThenTheLoadersOwnSearchNeverTheCurrentDirectory)
{
    TCurrentDir cwd;
    TPlacedFiles placed;
    const std::string exe = ExecutableDir();
    const std::string exeDll = placed.Folder(exe + "dll") + "/";
    ASSERT_EQ(mkdir(cwd.File("dll").c_str(), 0755), 0);
    const std::string name = "libtavixfake_a.so.1";
    BuildFakeLibrary(placed.File(exe + name), {}, 1);
    BuildFakeLibrary(placed.File(exeDll + name), {}, 2);
    BuildFakeLibrary(cwd.File(name), {}, 3);
    BuildFakeLibrary(cwd.File("dll/" + name), {}, 4);

    // Each folder in turn, by removing the winner of the previous round.
    for (const auto& [id, path] : std::vector<std::pair<int, std::string>>{{1, exe + name}, {2, exeDll + name}}) {
        TLibHandle lib = SearchLibraryA({"libtavixfake_absent.so", name});
        EXPECT_EQ(FakeId(lib), id);
        FreeLibrary(lib);
        unlink(path.c_str());
    }
    EXPECT_EQ(LibraryDependencyFolder(), exeDll);
    EXPECT_EQ(SearchLibraryA({name}), nullptr) << "not from the current directory";
    EXPECT_EQ(SearchLibraryB({name}), nullptr) << "not from the current directory";
    // Bare names go through the loader's own search.
    TLibHandle ogg = SearchLibraryA({"libtavixfake_absent.so", "libogg.so.0"});
    ASSERT_NE(ogg, nullptr);
    EXPECT_NE(GetProcAddress(ogg, "ogg_stream_init"), nullptr);
    FreeLibrary(ogg);
}

// Beside the executable only what another local user could not have put
// there or changed: a folder or a file that others may write, or a file
// of another user, is passed over (also as a dependency).
TEST(LibrarySearchA, WhatOthersMayWriteIsNeverLoaded)
{
    TPlacedFiles placed;
    const std::string exe = ExecutableDir();
    const std::string exeDll = placed.Folder(exe + "dll") + "/";
    const std::string name = "libtavixfake_t.so.1";
    BuildFakeLibrary(placed.File(exe + name), {}, 1);
    BuildFakeLibrary(placed.File(exeDll + name), {}, 2);
    ASSERT_EQ(chmod(exeDll.c_str(), 0777), 0);
    TLibHandle lib = SearchLibraryB({name});
    EXPECT_EQ(FakeId(lib), 1) << "a folder anyone may write";
    FreeLibrary(lib);
    ASSERT_EQ(chmod(exeDll.c_str(), 0755), 0);
    ASSERT_EQ(chmod((exeDll + name).c_str(), 0664), 0);
    lib = SearchLibraryB({name});
    EXPECT_EQ(FakeId(lib), 1) << "a file its group may write";
    FreeLibrary(lib);
    ASSERT_EQ(chmod((exeDll + name).c_str(), 0755), 0);
    if (geteuid() == 0) {
        ASSERT_EQ(chown((exeDll + name).c_str(), 65534, 65534), 0);
        lib = SearchLibraryB({name});
        EXPECT_EQ(FakeId(lib), 1) << "a file of another user";
        FreeLibrary(lib);
        ASSERT_EQ(chown((exeDll + name).c_str(), 0, 0), 0);
    }
    lib = SearchLibraryB({name});
    EXPECT_EQ(FakeId(lib), 2) << "trusted again";
    FreeLibrary(lib);
}

TEST(LibrarySearchA, AFolderBeatsAnEarlierNameInALaterFolder)
{
    TPlacedFiles placed;
    const std::string exe = ExecutableDir();
    const std::string exeDll = placed.Folder(exe + "dll") + "/";
    BuildFakeLibrary(placed.File(exeDll + "libtavixfake_first.so"), {}, 1);
    BuildFakeLibrary(placed.File(exe + "libtavixfake_second.so"), {}, 2);
    BuildFakeLibrary(placed.File(exe + "libtavixfake_third.so"), {}, 3);
    TLibHandle lib = SearchLibraryA(
        {"libtavixfake_first.so", "libtavixfake_second.so", "libtavixfake_third.so"});
    EXPECT_EQ(FakeId(lib), 2);
    FreeLibrary(lib);
}

TEST(LibrarySearchB, DllSubfolderThenExecutableFolderPerNameNeverTheCurrentDirectory)
{
    TCurrentDir cwd;
    TPlacedFiles placed;
    const std::string exe = ExecutableDir();
    const std::string exeDll = placed.Folder(exe + "dll") + "/";
    BuildFakeLibrary(placed.File(exe + "libtavixfake_b1.so"), {}, 1);
    BuildFakeLibrary(placed.File(exeDll + "libtavixfake_b1.so"), {}, 2);
    BuildFakeLibrary(placed.File(exeDll + "libtavixfake_b2.so"), {}, 3);
    TLibHandle lib = SearchLibraryB({"libtavixfake_b1.so", "libtavixfake_b2.so"});
    EXPECT_EQ(FakeId(lib), 2);
    FreeLibrary(lib);
    unlink((exeDll + "libtavixfake_b1.so").c_str());
    lib = SearchLibraryB({"libtavixfake_b1.so", "libtavixfake_b2.so"});
    EXPECT_EQ(FakeId(lib), 1);   // the first name wins over a later one in dll/
    FreeLibrary(lib);

    BuildFakeLibrary(cwd.File("libtavixfake_b3.so"), {}, 4);
    EXPECT_EQ(SearchLibraryB({"libtavixfake_b3.so"}), nullptr);
}

// --- Ogg Vorbis ---

// Encoders whose library names are replaced, to reach the "not found"
// paths on a machine where the real libraries are installed.
class TVorbisWithNames : public TOggVorbisEncoder {
public:
    TVorbisWithNames(TNames AOgg, TNames AVorbis, TNames AEnc)
        : FOgg(std::move(AOgg)), FVorbis(std::move(AVorbis)), FEnc(std::move(AEnc))
    {
    }
    using TOggVorbisEncoder::FOggLib;
    using TOggVorbisEncoder::FVorbisEncLib;
    using TOggVorbisEncoder::FVorbisLib;

protected:
    TNames OggNames() const override { return FOgg; }
    TNames VorbisNames() const override { return FVorbis; }
    TNames VorbisEncNames() const override { return FEnc; }

private:
    TNames FOgg, FVorbis, FEnc;
};

const TNames KVorbisFunctions = {
    "vorbis_info_init", "vorbis_info_clear", "vorbis_comment_init", "vorbis_comment_add_tag",
    "vorbis_comment_clear", "vorbis_encode_init_vbr", "vorbis_analysis_init",
    "vorbis_analysis_headerout", "vorbis_block_init", "vorbis_analysis_buffer",
    "vorbis_analysis_wrote", "vorbis_analysis_blockout", "vorbis_analysis",
    "vorbis_bitrate_addblock", "vorbis_bitrate_flushpacket", "vorbis_block_clear",
    "vorbis_dsp_clear"};

TNames Without(TNames ANames, const TNames& ADrop)
{
    for (const auto& d : ADrop)
        ANames.erase(std::remove(ANames.begin(), ANames.end(), d), ANames.end());
    return ANames;
}

TEST(VorbisLoading, NoVorbisLibrary)
{
    TVorbisWithNames enc({"libogg.so.0"}, {"libtavixfake_novorbis.so"}, {"libvorbisenc.so.2"});
    std::string header = "stale", error;
    EXPECT_FALSE(enc.Start(2, 44100, 128, header, error));
    EXPECT_EQ(error, "Não encontrei libvorbis.dll. Coloque libvorbis.dll na mesma pasta do "
                     "executável ou na subpasta dll.");
    EXPECT_EQ(header, "");
}

TEST(VorbisLoading, FirstMissingFunctionIsNamed)
{
    TPlacedFiles placed;
    const std::string exe = ExecutableDir();
    // Fakes with the real names in the executable's folder come before the
    // system's libraries. libogg stays the system's.
    const TNames partial = Without(KVorbisFunctions, {"vorbis_block_init", "vorbis_analysis"});
    BuildFakeLibrary(placed.File(exe + "libvorbis.so.0"), partial);
    BuildFakeLibrary(placed.File(exe + "libvorbisenc.so.2"), {"vorbis_encode_init_vbr"});
    std::string error = "stale";
    EXPECT_FALSE(TOggVorbisEncoder::IsAvailable(error));
    EXPECT_EQ(error, "A DLL Vorbis encontrada não exporta a função necessária: vorbis_block_init");
    TOggVorbisEncoder enc;
    std::string header;
    EXPECT_FALSE(enc.Start(2, 44100, 128, header, error));
    EXPECT_EQ(error, "A DLL Vorbis encontrada não exporta a função necessária: vorbis_block_init");

    // An Ogg library lacking a function: looked up in all three in turn.
    BuildFakeLibrary(placed.File(exe + "libogg.so.0"), {"ogg_stream_init"});
    EXPECT_FALSE(TOggVorbisEncoder::IsAvailable(error));
    EXPECT_EQ(error, "A DLL Vorbis encontrada não exporta a função necessária: ogg_stream_packetin");
}

TEST(VorbisLoading, AllInOneLibraryServesAllThreeRoles)
{
    TPlacedFiles placed;
    const std::string exe = ExecutableDir();
    BuildFakeFromSource(placed.File(exe + "liboggvorbis.so"), "fake_oggvorbis.c",
                        "-Wl,--no-as-needed -lvorbisenc -lvorbis -logg");
    TVorbisWithNames enc({"libtavixfake_noogg.so"}, {"libtavixfake_novorbis.so", "liboggvorbis.so"},
                         {"libtavixfake_noenc.so", "liboggvorbis.so"});
    const std::string stream = EncodeSine(enc, 2, 44100, 128, 1.0, 1000);
    ASSERT_NE(enc.FVorbisLib, nullptr);
    EXPECT_EQ(enc.FOggLib, enc.FVorbisLib);
    EXPECT_EQ(enc.FVorbisEncLib, enc.FVorbisLib);
    std::vector<TOggPage> pages;
    ASSERT_TRUE(ParseOggPages(stream, pages));
    EXPECT_GT(OggPackets(pages).size(), 3u);
}

// --- AAC+ ---

// An AAC+ or FLAC encoder whose library file names are replaced, to reach
// the "not found" paths on a machine where the real libraries exist.
template <class TBase>
class TWithLibraryNames : public TBase {
public:
    explicit TWithLibraryNames(TNames ANames = {}) : FNames(std::move(ANames)) {}

protected:
    TNames LibraryNames() const override
    {
        return FNames.empty() ? TBase::LibraryNames() : FNames;
    }

private:
    TNames FNames;
};

class TFlacProbe : public TFlacEncoder {
public:
    using TFlacEncoder::FLAC__stream_encoder_set_limit_min_bitrate;
    using TFlacEncoder::FLAC__stream_encoder_set_ogg_serial_number;
};

TEST(AacLoading, NotFoundAndFirstMissingFunction)
{
    TWithLibraryNames<TFdkAacPlusEncoder> absent({"libtavixfake_nofdk.so"});
    std::string header, error;
    EXPECT_FALSE(absent.Start(2, 44100, 64, header, error));
    EXPECT_EQ(error, "Nao encontrou dll\\libfdk-aac-2.dll para AAC+.");

    // dll/ is tried before the executable's own folder.
    TPlacedFiles placed;
    const std::string exe = ExecutableDir();
    const std::string exeDll = placed.Folder(exe + "dll") + "/";
    BuildFakeLibrary(placed.File(exeDll + "libfdk-aac.so.2"), {"aacEncOpen", "aacEncoder_SetParam"});
    BuildFakeLibrary(placed.File(exe + "libfdk-aac.so.2"),
                     {"aacEncOpen", "aacEncoder_SetParam", "aacEncEncode", "aacEncInfo"});
    EXPECT_FALSE(TFdkAacPlusEncoder::IsAvailable(error));
    EXPECT_EQ(error, "A DLL libfdk-aac-2.dll nao exporta a funcao necessaria: aacEncEncode");
    unlink((exeDll + "libfdk-aac.so.2").c_str());
    TFdkAacPlusEncoder enc;
    EXPECT_FALSE(enc.Start(2, 44100, 64, header, error));
    EXPECT_EQ(error, "A DLL libfdk-aac-2.dll nao exporta a funcao necessaria: aacEncClose");
}

// --- Ogg FLAC ---

TEST(FlacLoading, NotFoundAndFirstMissingFunction)
{
    TWithLibraryNames<TFlacEncoder> absent({"libtavixfake_noflac.so"});
    std::string header, error;
    EXPECT_FALSE(absent.Start(2, 44100, 0, header, error));
    EXPECT_EQ(error, "Nao encontrou libFLAC.dll para Ogg FLAC. Coloque libFLAC.dll e libogg.dll na "
                     "pasta dll do programa.");

    TPlacedFiles placed;
    BuildFakeLibrary(placed.File(ExecutableDir() + "libFLAC.so.12"),
                     {"FLAC__stream_encoder_new", "FLAC__stream_encoder_delete",
                      "FLAC__stream_encoder_set_verify", "FLAC__stream_encoder_set_streamable_subset",
                      "FLAC__stream_encoder_set_channels", "FLAC__stream_encoder_set_sample_rate",
                      "FLAC__stream_encoder_set_ogg_serial_number"});
    EXPECT_FALSE(TFlacEncoder::IsAvailable(error));
    EXPECT_EQ(error,
              "A DLL libFLAC.dll nao exporta a funcao necessaria: "
              "FLAC__stream_encoder_set_bits_per_sample");
}

TEST(FlacLoading, OptionalFunctionsAbsentStillStreams)
{
    TPlacedFiles placed;
    BuildFakeFromSource(placed.File(ExecutableDir() + "libFLAC.so.12"),
                        "fake_libflac_no_optional.c", "-ldl");
    TFlacProbe enc;
    // Nor are the metadata functions there: no title goes inside.
    std::string error;
    EXPECT_FALSE(enc.SetStreamTitle("T", error));
    EXPECT_EQ(error, "A DLL libFLAC.dll nao exporta as funcoes de metadados: o titulo nao vai "
                     "dentro do fluxo Ogg FLAC.");
    const std::string stream = EncodeSine(enc, 2, 44100, 0, 1.0, 1000);
    EXPECT_EQ(enc.FLAC__stream_encoder_set_ogg_serial_number, nullptr);
    EXPECT_EQ(enc.FLAC__stream_encoder_set_limit_min_bitrate, nullptr);
    std::vector<TOggPage> pages;
    ASSERT_TRUE(ParseOggPages(stream, pages));
    ASSERT_FALSE(pages.empty());
    EXPECT_EQ(pages.front().Serial, 0u);   // libFLAC's default
    EXPECT_EQ(OggPackets(pages).front().substr(0, 5), std::string("\x7F" "FLAC"));
}

// --- Ogg Opus ---

TEST(OpusLoading, NotFoundAndFirstMissingFunction)
{
    TWithLibraryNames<TOggOpusEncoder> absent({"libtavixfake_noopusenc.so"});
    std::string header = "stale", error;
    EXPECT_FALSE(absent.Start(2, 44100, 128, header, error));
    EXPECT_EQ(error, "Não encontrei libopusenc.dll. Coloque libopusenc.dll e libopus.dll na mesma "
                     "pasta do executável ou na subpasta dll.");
    EXPECT_EQ(header, "");

    TPlacedFiles placed;
    BuildFakeLibrary(placed.File(ExecutableDir() + "libopusenc.so.0"),
                     {"ope_comments_create", "ope_comments_destroy", "ope_comments_add",
                      "ope_encoder_create_callbacks", "ope_encoder_ctl", "ope_encoder_write_float"});
    EXPECT_FALSE(TOggOpusEncoder::IsAvailable(error));
    EXPECT_EQ(error, "A DLL Opus encontrada não exporta a função necessária: ope_encoder_flush_header");
    TOggOpusEncoder enc;
    EXPECT_FALSE(enc.Start(2, 44100, 128, header, error));
    EXPECT_EQ(error, "A DLL Opus encontrada não exporta a função necessária: ope_encoder_flush_header");
}

// A library loaded from a folder binds to the copies of its dependencies
// in that folder. Runs in a fresh process, where no libogg is loaded yet.
bool MapsMention(const std::string& AText)
{
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line))
        if (line.find(AText) != std::string::npos)
            return true;
    return false;
}

TEST(LibraryDependencies, CopiesBesideTheLibraryAreUsed)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TPlacedFiles placed;
    const std::string exe = ExecutableDir();
    const std::string copy = placed.File(exe + "libogg.so.0");
    ASSERT_EQ(std::system(("cp -L /usr/lib/x86_64-linux-gnu/libogg.so.0 " + copy).c_str()), 0);
    ASSERT_EQ(std::system(("cp -L /usr/lib/x86_64-linux-gnu/libFLAC.so.12 " +
                           placed.File(exe + "libFLAC.so.12"))
                              .c_str()),
              0);
    EXPECT_EXIT(
        {
            if (MapsMention("libogg.so"))
                _exit(2);
            std::string error;
            TFlacEncoder enc;
            std::string header;
            if (!enc.Start(2, 44100, 0, header, error))
                _exit(3);
            _exit(MapsMention(copy) && !MapsMention("/usr/lib/x86_64-linux-gnu/libogg.so") ? 0 : 4);
        },
        ::testing::ExitedWithCode(0), "");
}

// libopusenc binds to the libopus beside it, in a fresh process too.
TEST(LibraryDependencies, OpusCopyBesideLibopusencIsUsed)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TPlacedFiles placed;
    const std::string exe = ExecutableDir();
    const std::string copy = placed.File(exe + "libopus.so.0");
    ASSERT_EQ(std::system(("cp -L /usr/lib/x86_64-linux-gnu/libopus.so.0 " + copy).c_str()), 0);
    ASSERT_EQ(std::system(("cp -L /usr/lib/x86_64-linux-gnu/libopusenc.so.0 " +
                           placed.File(exe + "libopusenc.so.0"))
                              .c_str()),
              0);
    EXPECT_EXIT(
        {
            if (MapsMention("libopus"))
                _exit(2);
            std::string error;
            std::string header;
            TOggOpusEncoder enc;
            if (!enc.Start(2, 44100, 128, header, error) || header.empty())
                _exit(3);
            _exit(MapsMention(copy) && !MapsMention("/usr/lib/x86_64-linux-gnu/libopus.so") ? 0 : 4);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
