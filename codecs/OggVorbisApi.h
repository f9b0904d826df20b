#pragma once

#include <cstdint>

// The public structures and entry point types of libogg, libvorbis and
// libvorbisenc (x86-64 / LP64 layout), declared here because the libraries
// are loaded at run time and their headers are not a build requirement.

struct oggpack_buffer {
    long endbyte;
    int endbit;
    unsigned char* buffer;
    unsigned char* ptr;
    long storage;
};

struct ogg_page {
    unsigned char* header;
    long header_len;
    unsigned char* body;
    long body_len;
};

struct ogg_stream_state {
    unsigned char* body_data;
    long body_storage;
    long body_fill;
    long body_returned;
    int* lacing_vals;
    int64_t* granule_vals;
    long lacing_storage;
    long lacing_fill;
    long lacing_packet;
    long lacing_returned;
    unsigned char header[282];
    int header_fill;
    int e_o_s;
    int b_o_s;
    long serialno;
    long pageno;
    int64_t packetno;
    int64_t granulepos;
};

struct ogg_packet {
    unsigned char* packet;
    long bytes;
    long b_o_s;
    long e_o_s;
    int64_t granulepos;
    int64_t packetno;
};

struct vorbis_info {
    int version;
    int channels;
    long rate;
    long bitrate_upper;
    long bitrate_nominal;
    long bitrate_lower;
    long bitrate_window;
    void* codec_setup;
};

struct vorbis_dsp_state {
    int analysisp;
    vorbis_info* vi;
    float** pcm;
    float** pcmret;
    int pcm_storage;
    int pcm_current;
    int pcm_returned;
    int preextrapolate;
    int eofflag;
    long lW;
    long W;
    long nW;
    long centerW;
    int64_t granulepos;
    int64_t sequence;
    int64_t glue_bits;
    int64_t time_bits;
    int64_t floor_bits;
    int64_t res_bits;
    void* backend_state;
};

struct vorbis_block {
    float** pcm;
    oggpack_buffer opb;
    long lW;
    long W;
    long nW;
    int pcmend;
    int mode;
    int eofflag;
    int64_t granulepos;
    int64_t sequence;
    vorbis_dsp_state* vd;
    void* localstore;
    long localtop;
    long localalloc;
    long totaluse;
    void* reap;
    long glue_bits;
    long time_bits;
    long floor_bits;
    long res_bits;
    void* internal;
};

struct vorbis_comment {
    char** user_comments;
    int* comment_lengths;
    int comments;
    char* vendor;
};

extern "C" {
using T_ogg_stream_init = int (*)(ogg_stream_state*, int);
using T_ogg_stream_packetin = int (*)(ogg_stream_state*, ogg_packet*);
using T_ogg_stream_pageout = int (*)(ogg_stream_state*, ogg_page*);
using T_ogg_stream_flush = int (*)(ogg_stream_state*, ogg_page*);
using T_ogg_stream_clear = int (*)(ogg_stream_state*);
using T_vorbis_info_init = void (*)(vorbis_info*);
using T_vorbis_info_clear = void (*)(vorbis_info*);
using T_vorbis_comment_init = void (*)(vorbis_comment*);
using T_vorbis_comment_add_tag = void (*)(vorbis_comment*, const char*, const char*);
using T_vorbis_comment_clear = void (*)(vorbis_comment*);
using T_vorbis_encode_init_vbr = int (*)(vorbis_info*, long, long, float);
using T_vorbis_analysis_init = int (*)(vorbis_dsp_state*, vorbis_info*);
using T_vorbis_analysis_headerout = int (*)(vorbis_dsp_state*, vorbis_comment*, ogg_packet*,
                                            ogg_packet*, ogg_packet*);
using T_vorbis_block_init = int (*)(vorbis_dsp_state*, vorbis_block*);
using T_vorbis_analysis_buffer = float** (*)(vorbis_dsp_state*, int);
using T_vorbis_analysis_wrote = int (*)(vorbis_dsp_state*, int);
using T_vorbis_analysis_blockout = int (*)(vorbis_dsp_state*, vorbis_block*);
using T_vorbis_analysis = int (*)(vorbis_block*, ogg_packet*);
using T_vorbis_bitrate_addblock = int (*)(vorbis_block*);
using T_vorbis_bitrate_flushpacket = int (*)(vorbis_dsp_state*, ogg_packet*);
using T_vorbis_block_clear = int (*)(vorbis_block*);
using T_vorbis_dsp_clear = void (*)(vorbis_dsp_state*);
}
