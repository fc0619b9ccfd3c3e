#include "avi_utils.h"

#include "Platform_Dialog.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <thread>

struct AviWriter {
    AVFormatContext* format = nullptr;
    AVStream* stream = nullptr;
    AVCodecContext* encoder = nullptr;
    SwsContext* convert = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    bool headerWritten = false;
    bool raw = false; // uncompressed: the bitmap's rows go to the file as they are
    int32_t width = 0, height = 0;
    int64_t nextPts = 0;

    // Frames waiting for the worker; bounded so a slow codec holds the caller back instead of
    // piling up memory.
    struct Job {
        std::vector<uint8_t> bits;
        bool key = false;
    };
    std::thread worker;
    std::mutex lock;
    std::condition_variable wake, room;
    std::deque<Job> queue;
    std::vector<std::vector<uint8_t>> spare;
    bool closing = false;
    bool failed = false;       // an encode or write failed on the worker
    std::atomic<int> error{0}; // the library's code for the first failure (0: none known)
};

namespace {

constexpr size_t kQueueFrames = 8;

bool bitmapOk(const AviBitmap* b) {
    return b && b->headerSize == 40 && b->planes == 1 && b->bitCount == 24 && b->compression == 0 &&
           b->width > 0 && b->height > 0 && b->width <= 16384 && b->height <= 16384 &&
           b->bits.size() >= b->ImageSize();
}

void quietLibraries() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_ERROR); });
}

const AVCodec* encoderFor(uint32_t handler) {
    switch (handler) {
    case kAviFourccFfv1:
        return avcodec_find_encoder(AV_CODEC_ID_FFV1);
    case kAviFourccMjpg:
        return avcodec_find_encoder(AV_CODEC_ID_MJPEG);
    case kAviFourccH264:
        // x264 when the library has it: the hardware encoders need devices that may be absent.
        if (const AVCodec* c = avcodec_find_encoder_by_name("libx264")) return c;
        return avcodec_find_encoder(AV_CODEC_ID_H264);
    default:
        return avcodec_find_encoder(AV_CODEC_ID_RAWVIDEO);
    }
}

AVPixelFormat pixelFormatFor(uint32_t handler) {
    switch (handler) {
    case kAviFourccFfv1:
        return AV_PIX_FMT_BGR0; // lossless RGB
    case kAviFourccMjpg:
        return AV_PIX_FMT_YUVJ422P;
    case kAviFourccH264:
        return AV_PIX_FMT_YUV420P; // what every H.264 player decodes
    default:
        return AV_PIX_FMT_BGR24;
    }
}

// An encoder context for the codec, opened; null when the library cannot encode it.
AVCodecContext* openEncoder(uint32_t handler, int32_t width, int32_t height, int32_t fps,
                            int32_t quality) {
    const AVCodec* codec = encoderFor(handler);
    if (!codec) return nullptr;
    AVCodecContext* c = avcodec_alloc_context3(codec);
    if (!c) return nullptr;
    c->width = width;
    c->height = height;
    c->time_base = AVRational{1, fps};
    c->framerate = AVRational{fps, 1};
    c->pix_fmt = pixelFormatFor(handler);
    c->gop_size = fps * 5;
    c->max_b_frames = 0; // AVI carries no presentation times for reordered frames
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    c->thread_count = int(std::min(cores, 8u));
    c->thread_type = FF_THREAD_SLICE | FF_THREAD_FRAME;
    const int32_t q = quality > 0 && quality <= 100 ? quality : 90;
    switch (handler) {
    case kAviFourccFfv1:
        c->level = 3;   // version 3: slices, coded in parallel
        c->slices = 12; // a count version 3 accepts
        // The range coder: a third smaller than Golomb-Rice codes for an eighth more CPU.
        av_opt_set(c->priv_data, "coder", "range_def", 0);
        break;
    case kAviFourccMjpg:
        c->flags |= AV_CODEC_FLAG_QSCALE;
        c->global_quality = FF_QP2LAMBDA * std::max(2, (100 - q) / 5 + 1);
        break;
    case kAviFourccH264: {
        c->thread_count = 0; // x264 sizes its own pool
        av_opt_set(c->priv_data, "preset", "veryfast", 0);
        av_opt_set_double(c->priv_data, "crf", 51.0 - q * 0.37, 0);
        break;
    }
    default:
        break;
    }
    if (avcodec_open2(c, codec, nullptr) < 0) {
        avcodec_free_context(&c);
        return nullptr;
    }
    return c;
}

// Keeps the first failure's code, so the reason can be told; false.
bool failWith(AviWriter* w, int code) {
    int none = 0;
    w->error.compare_exchange_strong(none, code);
    return false;
}

// Sends one frame (null: the end) and writes every packet the encoder gives back.
bool encode(AviWriter* w, const AVFrame* frame) {
    if (const int r = avcodec_send_frame(w->encoder, frame); r < 0) return failWith(w, r);
    for (;;) {
        const int r = avcodec_receive_packet(w->encoder, w->packet);
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
        if (r < 0) return failWith(w, r);
        av_packet_rescale_ts(w->packet, w->encoder->time_base, w->stream->time_base);
        w->packet->stream_index = w->stream->index;
        // One stream with rising times: nothing to interleave.
        const int written = av_write_frame(w->format, w->packet);
        av_packet_unref(w->packet);
        if (written < 0) return failWith(w, written);
    }
}

bool encodeJob(AviWriter* w, const AviWriter::Job& job) {
    if (w->raw) {
        // A device-independent bitmap as it stands: bottom-up rows padded to 4 bytes. One
        // packet buffer serves every frame (a fresh one each time costs its page faults).
        const int size = int(job.bits.size());
        if (w->packet->size != size) {
            av_packet_unref(w->packet);
            if (const int r = av_new_packet(w->packet, size); r < 0) return failWith(w, r);
        }
        std::memcpy(w->packet->data, job.bits.data(), job.bits.size());
        w->packet->pts = w->packet->dts = w->nextPts++;
        w->packet->duration = 1;
        w->packet->flags = job.key ? AV_PKT_FLAG_KEY : 0;
        w->packet->stream_index = w->stream->index;
        // The packet stays ours.
        if (const int r = av_write_frame(w->format, w->packet); r < 0) return failWith(w, r);
        return true;
    }
    if (const int r = av_frame_make_writable(w->frame); r < 0) return failWith(w, r);
    // The bitmap is bottom-up: start at its last row and walk backwards.
    const int stride = int(AviBitmap::Stride(w->width));
    const uint8_t* src[1] = {job.bits.data() + size_t(w->height - 1) * size_t(stride)};
    const int srcStride[1] = {-stride};
    sws_scale(w->convert, src, srcStride, 0, w->height, w->frame->data, w->frame->linesize);
    w->frame->pts = w->nextPts++;
    w->frame->pict_type = job.key ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    w->frame->quality = w->encoder->global_quality;
    return encode(w, w->frame);
}

void workerLoop(AviWriter* w) {
    for (;;) {
        AviWriter::Job job;
        bool skip = false;
        {
            std::unique_lock<std::mutex> l(w->lock);
            w->wake.wait(l, [w] { return w->closing || !w->queue.empty(); });
            if (w->queue.empty()) break;
            job = std::move(w->queue.front());
            w->queue.pop_front();
            skip = w->failed;
        }
        w->room.notify_one();
        const bool ok = skip || encodeJob(w, job);
        std::lock_guard<std::mutex> l(w->lock);
        w->spare.push_back(std::move(job.bits));
        if (!ok) w->failed = true;
    }
}

// Drains the queue, completes and closes the file; the library's code of the first failure of
// the whole capture (0 when every frame and the index were written).
int freeWriter(AviWriter* w) {
    if (!w) return 0;
    if (w->worker.joinable()) {
        {
            std::lock_guard<std::mutex> l(w->lock);
            w->closing = true;
        }
        w->wake.notify_all();
        w->worker.join();
    }
    if (w->headerWritten) {
        if (!w->failed && w->encoder) encode(w, nullptr); // what the encoder still holds
        if (const int r = av_write_trailer(w->format); r < 0) failWith(w, r);
    }
    if (w->format && w->format->pb)
        if (const int r = avio_closep(&w->format->pb); r < 0) failWith(w, r);
    const int error = w->error;
    avformat_free_context(w->format);
    avcodec_free_context(&w->encoder);
    sws_freeContext(w->convert);
    av_frame_free(&w->frame);
    av_packet_free(&w->packet);
    delete w;
    return error;
}

// A stream for frames written as they are, without an encoder.
bool rawStream(AviWriter* w) {
    AVCodecParameters* p = w->stream->codecpar;
    p->codec_type = AVMEDIA_TYPE_VIDEO;
    p->codec_id = AV_CODEC_ID_RAWVIDEO;
    p->codec_tag = 0;
    p->format = AV_PIX_FMT_BGR24;
    p->width = w->width;
    p->height = w->height;
    p->bits_per_coded_sample = 24;
    return true;
}

bool encodedStream(AviWriter* w) {
    w->frame = av_frame_alloc();
    if (!w->frame) return false;
    w->frame->format = w->encoder->pix_fmt;
    w->frame->width = w->width;
    w->frame->height = w->height;
    w->convert = sws_getContext(w->width, w->height, AV_PIX_FMT_BGR24, w->width, w->height,
                                w->encoder->pix_fmt, SWS_BILINEAR, nullptr, nullptr, nullptr);
    return w->convert && av_frame_get_buffer(w->frame, 0) >= 0 &&
           avcodec_parameters_from_context(w->stream->codecpar, w->encoder) >= 0;
}

// Marks the handle failed, keeping the first failure's code; the code.
int32_t failHandle(AviHandle* avi, int32_t code) {
    if (!avi->Failed) avi->FailCode = code;
    avi->Failed = 1;
    return code;
}

int32_t fixFormat(AviHandle* avi, const AviBitmap* bitmap, uint32_t handler, int32_t quality) {
    AviWriter* w = avi->File;
    if (handler != kAviFourccFfv1 && handler != kAviFourccMjpg && handler != kAviFourccH264)
        handler = kAviFourccDib;
    w->width = bitmap->width;
    w->height = bitmap->height;
    w->raw = handler == kAviFourccDib;
    avi->VideoStream = true;
    if (!w->raw) {
        w->encoder = openEncoder(handler, w->width, w->height, avi->FramesPerSecond, quality);
        if (!w->encoder) {
            return failHandle(avi, kAviErrCompress);
        }
    }
    w->stream = avformat_new_stream(w->format, nullptr);
    w->packet = av_packet_alloc();
    if (!w->stream || !w->packet || !(w->raw ? rawStream(w) : encodedStream(w))) {
        return failHandle(avi, kAviErrCompress);
    }
    w->stream->time_base = AVRational{1, avi->FramesPerSecond};
    w->stream->avg_frame_rate = AVRational{avi->FramesPerSecond, 1};
    AVDictionary* muxerOptions = nullptr;
    av_dict_set(&muxerOptions, "flipped_raw_rgb", "1", 0); // the bitmap's own row order
    const int header = avformat_write_header(w->format, &muxerOptions);
    av_dict_free(&muxerOptions);
    if (header < 0) {
        failWith(w, header);
        return failHandle(avi, kAviErrWrite);
    }
    w->headerWritten = true;
    try {
        w->worker = std::thread(workerLoop, w);
    } catch (...) {
        return failHandle(avi, kAviErrWrite);
    }
    avi->handler = handler;
    avi->CompressedStream = true;
    return 0;
}

} // namespace

static std::string libraryError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    if (av_strerror(code, text, sizeof text) < 0) return "error " + std::to_string(code);
    return text;
}

void AviBitmap::Allocate(int32_t w, int32_t h) {
    width = w;
    height = h;
    bits.assign(size_t(Stride(w)) * size_t(h > 0 ? h : 0), 0);
}

std::vector<AviCodecChoice> AVI_AvailableCodecs() {
    static const std::vector<AviCodecChoice> available = [] {
        quietLibraries();
        const AviCodecChoice all[] = {{kAviFourccFfv1, "FFV1 (lossless)"},
                                      {kAviFourccH264, "H.264"},
                                      {kAviFourccMjpg, "Motion JPEG"},
                                      {kAviFourccDib, "Full Frames (Uncompressed)"}};
        std::vector<AviCodecChoice> out;
        // Only what really opens: a build may list an encoder that needs absent hardware.
        for (const AviCodecChoice& c : all) {
            AVCodecContext* probe = openEncoder(c.handler, 64, 48, 60, 0);
            if (!probe) continue;
            avcodec_free_context(&probe);
            out.push_back(c);
        }
        return out;
    }();
    return available;
}

AviHandle* AVI_Open(const std::string& file, int32_t framesPerSecond, const void* audioFormat,
                    std::string* error) {
    quietLibraries();
    AviWriter* w = new (std::nothrow) AviWriter;
    if (!w) {
        if (error) *error = "out of memory";
        return nullptr;
    }
    int r = avformat_alloc_output_context2(&w->format, nullptr, "avi", file.c_str());
    if (r >= 0 && !w->format) r = AVERROR(ENOMEM);
    if (r >= 0) r = avio_open(&w->format->pb, file.c_str(), AVIO_FLAG_WRITE);
    if (r < 0) {
        if (error) *error = libraryError(r);
        freeWriter(w);
        return nullptr;
    }
    AviHandle* avi = new (std::nothrow) AviHandle;
    if (!avi) {
        if (error) *error = "out of memory";
        freeWriter(w);
        return nullptr;
    }
    avi->File = w;
    avi->FramesPerSecond = framesPerSecond > 0 && framesPerSecond <= 1000 ? framesPerSecond : 60;
    if (audioFormat) std::memcpy(avi->AudioFormat, audioFormat, sizeof avi->AudioFormat);
    return avi;
}

int32_t AVI_CreateVideoStream(AviHandle* avi, const AviBitmap* bitmap, AviCompressOptions* options,
                              int32_t showDialog, void*) {
    if (!avi || !bitmapOk(bitmap)) return kAviErrBadFormat;
    if (avi->Failed) return kAviErrFailed;
    if (avi->CompressedStream) return kAviErrStreamExists;
    AviCompressOptions chosen = options ? *options : AviCompressOptions{};
    if (showDialog) {
        const std::vector<AviCodecChoice> codecs = AVI_AvailableCodecs();
        std::vector<std::string> names;
        for (const AviCodecChoice& c : codecs) names.push_back(c.name);
        const int pick = Platform_Dialog_Choose("Video Compression", "Compressor:", names);
        if (pick < 0 || size_t(pick) >= codecs.size()) {
            return failHandle(avi, kAviErrCancelled);
        }
        chosen.handler = codecs[size_t(pick)].handler;
        if (options) *options = chosen;
    }
    return fixFormat(avi, bitmap, chosen.handler, chosen.quality);
}

int32_t AVI_AddFrame(AviHandle* avi, const AviBitmap* bitmap, uint32_t flags) {
    if (!avi || !bitmapOk(bitmap)) return kAviErrBadFormat;
    if (avi->Failed) return kAviErrFailed;
    if (!avi->CompressedStream) {
        if (int32_t r = fixFormat(avi, bitmap, kAviFourccDib, 0)) return r;
    }
    AviWriter* w = avi->File;
    int32_t result = 0;
    if (bitmap->width != w->width || bitmap->height != w->height) {
        result = failHandle(avi, kAviErrBadFormat);
    } else {
        std::unique_lock<std::mutex> l(w->lock);
        // The writer may fail while this frame waits for room: then it is not queued either.
        w->room.wait(l, [w] { return w->queue.size() < kQueueFrames || w->failed; });
        if (w->failed) {
            result = failHandle(avi, kAviErrWrite);
        } else {
            AviWriter::Job job;
            if (!w->spare.empty()) {
                job.bits = std::move(w->spare.back());
                w->spare.pop_back();
            }
            job.bits.assign(bitmap->bits.begin(), bitmap->bits.begin() + bitmap->ImageSize());
            job.key = (flags & kAviKeyFrame) != 0;
            w->queue.push_back(std::move(job));
            l.unlock();
            w->wake.notify_one();
        }
    }
    ++avi->FrameCount;
    return result;
}

std::string AVI_FailureReason(const AviHandle* avi) {
    if (!avi || !avi->Failed) return "";
    if (const int code = avi->File ? avi->File->error.load() : 0) return libraryError(code);
    switch (avi->FailCode) {
    case kAviErrCancelled:
        return "no codec was chosen";
    case kAviErrCompress:
        return "the codec could not be started";
    case kAviErrBadFormat:
        return "the picture does not fit the video";
    default:
        return "the video could not be written";
    }
}

bool AVI_Close(AviHandle* avi, std::string* error) {
    if (!avi) return true;
    const int code = freeWriter(avi->File);
    avi->File = nullptr;
    const bool failed = code || avi->Failed;
    if (failed && error) *error = code ? libraryError(code) : AVI_FailureReason(avi);
    delete avi;
    return !failed;
}
