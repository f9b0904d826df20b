/* A libFLAC that exports only the required stream encoder functions,
   without set_ogg_serial_number and set_limit_min_bitrate. Each call is
   forwarded to the real library, opened privately. */
#include <dlfcn.h>
#include <stddef.h>
#include <stdint.h>

static void* Real(const char* name)
{
    static void* lib;
    if (!lib)
        lib = dlopen("libFLAC.so.12", RTLD_NOW | RTLD_LOCAL);
    return lib ? dlsym(lib, name) : NULL;
}

#define FORWARD(ret, name, params, args) \
    ret name params { return ((ret(*) params)Real(#name)) args; }

FORWARD(void*, FLAC__stream_encoder_new, (void), ())
void FLAC__stream_encoder_delete(void* e) { ((void (*)(void*))Real("FLAC__stream_encoder_delete"))(e); }
FORWARD(int, FLAC__stream_encoder_set_verify, (void* e, int v), (e, v))
FORWARD(int, FLAC__stream_encoder_set_streamable_subset, (void* e, int v), (e, v))
FORWARD(int, FLAC__stream_encoder_set_channels, (void* e, uint32_t v), (e, v))
FORWARD(int, FLAC__stream_encoder_set_bits_per_sample, (void* e, uint32_t v), (e, v))
FORWARD(int, FLAC__stream_encoder_set_sample_rate, (void* e, uint32_t v), (e, v))
FORWARD(int, FLAC__stream_encoder_set_compression_level, (void* e, uint32_t v), (e, v))
FORWARD(int, FLAC__stream_encoder_set_total_samples_estimate, (void* e, uint64_t v), (e, v))
FORWARD(int, FLAC__stream_encoder_init_ogg_stream,
        (void* e, void* r, void* w, void* s, void* t, void* m, void* c), (e, r, w, s, t, m, c))
FORWARD(int, FLAC__stream_encoder_process_interleaved, (void* e, const int32_t* b, uint32_t n),
        (e, b, n))
FORWARD(int, FLAC__stream_encoder_finish, (void* e), (e))
