#include "platform/mp4/Mp4Repair.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "platform/core/ClockText.h"
#include "platform/mp4/HeaderDurations.h"

namespace torvane::mp4 {

namespace {

std::string avText(int code) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buf, sizeof buf);
    return buf;
}

// The last whole picture of the first video stream: its time and the stream's frame rate, and where
// the video then ends (one frame period later), in seconds.
struct LastPicture {
    int64_t pts = AV_NOPTS_VALUE;
    AVRational rate{30, 1};
    double end = 0;
};

// `rate` is the recording's frame rate as the reader judged it, when it could.
LastPicture findLastPicture(const std::string& path, AVRational rate) {
    LastPicture last;
    if (rate.num > 0 && rate.den > 0) last.rate = rate;
    AVFormatContext* in = nullptr;
    if (avformat_open_input(&in, path.c_str(), av_find_input_format("mp4"), nullptr) < 0) return last;
    const int v = av_find_best_stream(in, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    AVPacket* packet = av_packet_alloc();
    while (v >= 0 && packet && av_read_frame(in, packet) >= 0) {
        if (packet->stream_index == v && !(packet->flags & AV_PKT_FLAG_CORRUPT) && packet->pts != AV_NOPTS_VALUE &&
            (last.pts == AV_NOPTS_VALUE || packet->pts > last.pts))
            last.pts = packet->pts;
        av_packet_unref(packet);
    }
    if (v >= 0 && last.pts != AV_NOPTS_VALUE)
        last.end = double(last.pts) * av_q2d(in->streams[v]->time_base) + av_q2d(av_inv_q(last.rate));
    av_packet_free(&packet);
    avformat_close_input(&in);
    return last;
}

struct Kept {
    int64_t first = AV_NOPTS_VALUE, end = AV_NOPTS_VALUE;   // in the stream's time base
    int64_t packets = 0, samples = 0;
};

bool remux(AVFormatContext* in, const LastPicture& lastPicture, const std::string& path, const std::string& outPath,
           std::string& summary, std::string& error) {
    AVFormatContext* out = nullptr;
    if (avformat_alloc_output_context2(&out, nullptr, "mp4", outPath.c_str()) < 0 || !out)
        return error = "cannot repair " + path + ": out of memory", false;
    std::vector<int> map(in->nb_streams, -1);
    std::vector<Kept> kept(in->nb_streams);
    for (unsigned i = 0; i < in->nb_streams; ++i) {
        const AVCodecParameters* par = in->streams[i]->codecpar;
        if (par->codec_type != AVMEDIA_TYPE_VIDEO && par->codec_type != AVMEDIA_TYPE_AUDIO) continue;
        AVStream* st = avformat_new_stream(out, nullptr);
        if (!st || avcodec_parameters_copy(st->codecpar, par) < 0) {
            avformat_free_context(out);
            return error = "cannot repair " + path + ": out of memory", false;
        }
        st->codecpar->codec_tag = 0;
        st->time_base = in->streams[i]->time_base;
        map[i] = st->index;
    }
    int rc = avio_open(&out->pb, outPath.c_str(), AVIO_FLAG_WRITE);
    if (rc < 0) {
        avformat_free_context(out);
        return error = "cannot create " + outPath + ": " + avText(rc), false;
    }
    // Written as a finished recording is: fragments after a header that gives the whole length. A
    // full sample table would have readers judge the rate by the average spacing of the pictures,
    // and some (HandBrake) then move the pictures of a still stretch off their times.
    AVDictionary* options = nullptr;
    // The header waits for the first fragment, whose first samples give each track's edit list (the
    // sound begins before 0 by its encoder's start-up frame); nothing may be shifted for it.
    av_dict_set(&options, "movflags", "empty_moov+delay_moov+default_base_moof", 0);
    av_dict_set(&options, "frag_duration", "1000000", 0);
    av_dict_set(&options, "avoid_negative_ts", "disabled", 0);
    rc = avformat_write_header(out, &options);
    av_dict_free(&options);
    AVPacket* packet = av_packet_alloc();
    bool anyPicture = false;
    while (rc >= 0 && packet && av_read_frame(in, packet) >= 0) {
        const int s = int(packet->stream_index);
        // A frame cut off by the end of the file is left out; so is everything of other streams.
        if (s < 0 || s >= int(map.size()) || map[size_t(s)] < 0 || (packet->flags & AV_PKT_FLAG_CORRUPT)) {
            av_packet_unref(packet);
            continue;
        }
        const AVStream* from = in->streams[s];
        const bool video = from->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
        if (video && packet->pts == lastPicture.pts) {
            // The video ends one frame period after its last picture, as in a finished recording.
            packet->duration = std::max<int64_t>(1, av_rescale_q(1, av_inv_q(lastPicture.rate), from->time_base));
        }
        // The sound ends with the video.
        if (!video && av_q2d(from->time_base) * double(packet->pts) >= lastPicture.end) {
            av_packet_unref(packet);
            continue;
        }
        Kept& k = kept[size_t(s)];
        if (k.first == AV_NOPTS_VALUE) k.first = packet->dts;
        k.end = std::max(k.end == AV_NOPTS_VALUE ? packet->dts : k.end, packet->dts + packet->duration);
        ++k.packets;
        if (video) anyPicture = true;
        AVStream* st = out->streams[map[size_t(s)]];
        av_packet_rescale_ts(packet, from->time_base, st->time_base);
        packet->stream_index = st->index;
        packet->pos = -1;
        rc = av_interleaved_write_frame(out, packet);
    }
    av_packet_free(&packet);
    if (rc >= 0 && !anyPicture) rc = AVERROR_INVALIDDATA;
    if (rc >= 0) rc = av_write_trailer(out);
    const int closed = avio_closep(&out->pb);
    avformat_free_context(out);
    if (rc < 0 || closed < 0) {
        error = rc == AVERROR_INVALIDDATA && !anyPicture ? "cannot repair " + path + ": it holds no whole picture"
                                                         : "cannot write " + outPath + ": " + avText(rc < 0 ? rc : closed);
        ::unlink(outPath.c_str());
        return false;
    }
    double whole = 0;   // where the last stream ends
    for (unsigned i = 0; i < in->nb_streams; ++i)
        if (map[i] >= 0 && kept[i].packets > 0)
            whole = std::max(whole, double(kept[i].end) * av_q2d(in->streams[i]->time_base));
    const int fd = ::open(outPath.c_str(), O_RDWR | O_CLOEXEC);
    struct stat st {};
    const bool patched = fd >= 0 && ::fstat(fd, &st) == 0 && setHeaderDurations(fd, uint64_t(st.st_size), whole) &&
                         ::fsync(fd) == 0;
    if (fd >= 0) ::close(fd);
    if (!patched) {
        error = "cannot write " + outPath + ": its header could not be completed";
        ::unlink(outPath.c_str());
        return false;
    }
    double seconds = 0;
    summary = "kept ";
    bool firstStream = true;
    for (unsigned i = 0; i < in->nb_streams; ++i) {
        if (map[i] < 0 || kept[i].packets == 0) continue;
        const AVStream* st = in->streams[i];
        const double length = double(kept[i].end - std::max<int64_t>(0, kept[i].first)) * av_q2d(st->time_base);
        seconds = std::max(seconds, length);
        const bool video = st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
        summary += std::string(firstStream ? "" : " and ") + (video ? "video (" : "sound (") +
                   avcodec_get_name(st->codecpar->codec_id) + ", " +
                   (video ? std::to_string(kept[i].packets) + " frames)"
                          : std::to_string(std::llround(length * st->codecpar->sample_rate)) + " samples)");
        firstStream = false;
    }
    summary += ": " + clockText(seconds);
    return true;
}

}  // namespace

bool repairMp4File(const std::string& path, const std::string& outPath, std::string& summary, std::string& error) {
    AVFormatContext* in = nullptr;
    const int rc = avformat_open_input(&in, path.c_str(), av_find_input_format("mp4"), nullptr);
    if (rc < 0) {
        error = "cannot repair " + path + ": " +
                (rc == AVERROR(ENOENT) ? std::string("no such file")
                                       : "it holds no movie header (" + avText(rc) + ")");
        return false;
    }
    bool ok = false;
    if (avformat_find_stream_info(in, nullptr) < 0 && in->nb_streams == 0) {
        error = "cannot repair " + path + ": it holds no track";
    } else {
        const int v = av_find_best_stream(in, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        const AVRational rate = v >= 0 ? in->streams[v]->r_frame_rate : AVRational{0, 1};
        ok = remux(in, findLastPicture(path, rate), path, outPath, summary, error);
    }
    avformat_close_input(&in);
    return ok;
}

bool repairMp4FileInPlace(const std::string& path, std::string& summary, std::string& error) {
    const std::string temp = path + ".repairing.mp4";
    if (!repairMp4File(path, temp, summary, error)) return false;
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        error = "cannot replace " + path + ": " + std::strerror(errno);
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace torvane::mp4
