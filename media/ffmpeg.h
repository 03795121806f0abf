#pragma once
// FFmpeg's libraries, loaded the first time a movie is written or read. Linked in, they and
// the hundred libraries they bring with them cost every start of the program and its tools
// about 40 ms, though most runs never touch a movie.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswscale/swscale.h>
}

#include <string>

// Every FFmpeg function the program calls, with the library it comes from.
#define PX_FFMPEG_FUNCTIONS(X)                                                                    \
    X(avutil, av_channel_layout_default)                                                          \
    X(avutil, av_frame_alloc)                                                                     \
    X(avutil, av_frame_free)                                                                      \
    X(avutil, av_frame_unref)                                                                     \
    X(avutil, av_log_set_level)                                                                   \
    X(avutil, av_rescale_q)                                                                       \
    X(swscale, sws_getCachedContext)                                                              \
    X(swscale, sws_scale)                                                                         \
    X(swscale, sws_freeContext)                                                                   \
    X(avcodec, av_new_packet)                                                                     \
    X(avcodec, av_packet_alloc)                                                                   \
    X(avcodec, av_packet_free)                                                                    \
    X(avcodec, av_packet_rescale_ts)                                                              \
    X(avcodec, av_packet_unref)                                                                   \
    X(avcodec, avcodec_alloc_context3)                                                            \
    X(avcodec, avcodec_flush_buffers)                                                             \
    X(avcodec, avcodec_free_context)                                                              \
    X(avcodec, avcodec_open2)                                                                     \
    X(avcodec, avcodec_parameters_copy)                                                           \
    X(avcodec, avcodec_parameters_to_context)                                                     \
    X(avcodec, avcodec_receive_frame)                                                             \
    X(avcodec, avcodec_send_packet)                                                               \
    X(avformat, av_find_best_stream)                                                              \
    X(avformat, av_find_input_format)                                                             \
    X(avformat, av_guess_format)                                                                  \
    X(avformat, av_interleaved_write_frame)                                                       \
    X(avformat, av_read_frame)                                                                    \
    X(avformat, av_seek_frame)                                                                    \
    X(avformat, av_write_frame)                                                                   \
    X(avformat, av_write_trailer)                                                                 \
    X(avformat, avformat_alloc_output_context2)                                                   \
    X(avformat, avformat_close_input)                                                             \
    X(avformat, avformat_find_stream_info)                                                        \
    X(avformat, avformat_free_context)                                                            \
    X(avformat, avformat_new_stream)                                                              \
    X(avformat, avformat_open_input)                                                              \
    X(avformat, avformat_seek_file)                                                               \
    X(avformat, avformat_write_header)                                                            \
    X(avformat, avio_closep)                                                                      \
    X(avformat, avio_open)

struct FFmpegLibraries {
#define PX_FFMPEG_POINTER(library, name) decltype(&::name) name = nullptr;
    PX_FFMPEG_FUNCTIONS(PX_FFMPEG_POINTER)
#undef PX_FFMPEG_POINTER
};

// The loaded libraries, or nullptr when they cannot be loaded (the reason is in *why). Loaded
// once per process; safe to call from any thread.
const FFmpegLibraries *LoadFFmpeg(std::string *why = nullptr);

// The loaded libraries; only for code that LoadFFmpeg() has already succeeded for.
const FFmpegLibraries &FFmpeg();
