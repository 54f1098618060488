#include "engine/H264Encoder.h"

#include <x264.h>

#include <sched.h>

#include <algorithm>
#include <cstring>

namespace torvane {

int encoderThreads(int width, int height) {
    // The cores this process may use; slices of fewer than about eight macroblock rows cost more
    // bits than their thread saves time, and beyond four the gains are small for a screen.
    cpu_set_t set;
    CPU_ZERO(&set);
    const int cores = sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : 1;
    const int rows = (height + 15) / 16;
    (void)width;
    return std::clamp(std::min({cores, 4, rows / 8}), 1, 4);
}

namespace {

// The analysis of a speed step, each step cheaper than the one before. Only what the library may
// change on an open encoder is set here.
void setAnalysis(x264_param_t& p, int speed) {
    p.analyse.i_me_range = 16;
    p.analyse.i_me_method = X264_ME_HEX;
    p.analyse.i_subpel_refine = 6;
    p.analyse.i_trellis = 1;
    p.analyse.b_mixed_references = 1;
    p.b_deblocking_filter = 1;
    p.analyse.intra = X264_ANALYSE_I4x4 | X264_ANALYSE_I8x8;
    p.analyse.inter = X264_ANALYSE_I4x4 | X264_ANALYSE_I8x8 | X264_ANALYSE_PSUB16x16 | X264_ANALYSE_BSUB16x16;
    if (speed >= 1) {
        p.analyse.i_subpel_refine = 2;
        p.analyse.i_trellis = 0;
        p.analyse.b_mixed_references = 0;
        p.analyse.inter = X264_ANALYSE_I4x4 | X264_ANALYSE_I8x8;
    }
    if (speed >= 2) {
        p.analyse.i_me_method = X264_ME_DIA;
        p.analyse.i_subpel_refine = 1;
    }
    if (speed >= 3) {
        // Whole macroblocks only and no loop filter. Sub-pixel refinement cannot be turned off on an
        // open encoder: its lowest step stays.
        p.analyse.intra = 0;
        p.analyse.inter = 0;
        p.b_deblocking_filter = 0;
    }
}

}  // namespace

int quantiserForQuality(int quality) {
    switch (quality) {
        case 1: return 23;
        case 2: return 20;
        default: return 26;
    }
}

std::unique_ptr<CH264Encoder> CH264Encoder::open(const EncoderConfig& c, std::string* error) {
    if (c.width < 2 || c.height < 2 || c.width % 2 || c.height % 2 || c.frameRate < 1) {
        if (error) *error = "Invalid encoder picture size or frame rate";
        return nullptr;
    }
    x264_param_t p;
    x264_param_default(&p);
    p.i_width = c.width;
    p.i_height = c.height;
    p.i_csp = X264_CSP_I420;
    p.i_fps_num = uint32_t(c.frameRate);
    p.i_fps_den = 1;
    p.i_keyint_max = 10 * c.frameRate;
    p.i_keyint_min = c.frameRate;
    p.i_frame_reference = 1;
    p.i_bframe = 0;
    p.b_cabac = 1;
    p.b_repeat_headers = 1;
    p.analyse.b_transform_8x8 = 0;
    // A screen's "scene cut" (another window to the front) is coded well enough from the picture
    // before; telling it costs a half-size copy and analysis of every picture.
    p.i_scenecut_threshold = 0;
    // Weighted prediction serves fades, which a screen hardly has; it needs a half-size copy of every
    // picture (memory and a pass over each one) and, as the library does it, extra references.
    p.analyse.i_weighted_pred = X264_WEIGHTP_NONE;
    p.analyse.i_direct_mv_pred = X264_DIRECT_PRED_AUTO;
    setAnalysis(p, 0);
    p.rc.i_rc_method = X264_RC_CQP;
    // The quality choice works through the constant quantiser: a maximum quantiser has no effect
    // in constant-quantiser mode.
    p.rc.i_qp_constant = quantiserForQuality(c.quality);
    if (c.quality >= 0 && c.quality <= 2) p.rc.i_qp_max = 28 + 4 * c.quality;
    // Every picture must come back from the call that was given it, so that the file gets every
    // picture and none is left in the encoder when it closes: the cores share each picture by
    // slices (frame threads would hold pictures back).
    p.i_threads = encoderThreads(c.width, c.height);
    p.b_sliced_threads = 1;
    p.b_vfr_input = 0;
    p.rc.i_lookahead = 0;
    p.i_sync_lookahead = 0;
    p.rc.b_mb_tree = 0;
    // Length-prefixed units: each prefix becomes a four-byte start code in the packed sample.
    p.b_annexb = 0;
    p.i_log_level = X264_LOG_ERROR;
    // Unchanged macroblocks can be named per picture; a picture that names all of them costs
    // next to nothing to encode and to store.
    p.analyse.b_mb_info = 1;

    x264_t* h = x264_encoder_open(&p);
    if (!h) {
        if (error) *error = "The H.264 encoder could not be opened for " + std::to_string(c.width) + "x" +
                            std::to_string(c.height) + " at " + std::to_string(c.frameRate) + " fps";
        return nullptr;
    }
    std::unique_ptr<CH264Encoder> e(new CH264Encoder);
    e->handle_ = h;
    e->config_ = c;
    e->sample_.reserve(size_t(c.width) * size_t(c.height) / 2);
    e->allConstant_.assign(size_t((c.width + 15) / 16) * size_t((c.height + 15) / 16), X264_MBINFO_CONSTANT);
    return e;
}

EncoderParameters CH264Encoder::parameters() const {
    x264_param_t p;
    x264_encoder_parameters(handle_, &p);
    EncoderParameters e;
    e.keyintMax = p.i_keyint_max;
    e.keyintMin = p.i_keyint_min;
    e.references = p.i_frame_reference;
    e.bframes = p.i_bframe;
    e.threads = p.i_threads;
    e.qpConstant = p.rc.i_qp_constant;
    e.qpMax = p.rc.i_qp_max;
    e.rcMethod = p.rc.i_rc_method;
    e.meMethod = p.analyse.i_me_method;
    e.subpelRefine = p.analyse.i_subpel_refine;
    e.trellis = p.analyse.i_trellis;
    e.interPartitions = p.analyse.inter;
    e.intraPartitions = p.analyse.intra;
    e.deblocking = p.b_deblocking_filter;
    e.cabac = p.b_cabac;
    e.repeatHeaders = p.b_repeat_headers;
    e.transform8x8 = p.analyse.b_transform_8x8;
    e.vfrInput = p.b_vfr_input;
    return e;
}

bool CH264Encoder::setSpeed(int speed) {
    if (speed < 0 || speed > kFastestSpeed) return false;
    if (speed == speed_) return true;
    x264_param_t p;
    x264_encoder_parameters(handle_, &p);
    setAnalysis(p, speed);
    if (x264_encoder_reconfig(handle_, &p) < 0) return false;
    speed_ = speed;
    return true;
}

CH264Encoder::~CH264Encoder() {
    if (handle_) x264_encoder_close(handle_);
}

bool CH264Encoder::encode(const uint8_t* y, const uint8_t* u, const uint8_t* v, int64_t pts, bool forceIdr,
                          EncodedPicture& out, const uint8_t* unchanged) {
    // An IDR picture stands alone: nothing in it can be taken from the picture before.
    if (!unchanged || forceIdr) return encodePlanes(y, u, v, pts, forceIdr, nullptr, out);
    partlyConstant_.resize(allConstant_.size());
    for (size_t i = 0; i < partlyConstant_.size(); ++i) partlyConstant_[i] = unchanged[i] ? X264_MBINFO_CONSTANT : 0;
    return encodePlanes(y, u, v, pts, false, partlyConstant_.data(), out);
}

bool CH264Encoder::encodeRepeat(const uint8_t* y, const uint8_t* u, const uint8_t* v, int64_t pts,
                                EncodedPicture& out) {
    return encodePlanes(y, u, v, pts, false, allConstant_.data(), out);
}

bool CH264Encoder::encodePlanes(const uint8_t* y, const uint8_t* u, const uint8_t* v, int64_t pts, bool forceIdr,
                                uint8_t* macroblockInfo, EncodedPicture& out) {
    out = EncodedPicture{};
    x264_picture_t in;
    x264_picture_init(&in);
    in.i_type = forceIdr ? X264_TYPE_IDR : X264_TYPE_AUTO;
    in.i_qpplus1 = 0;
    in.i_pts = pts;
    in.img.i_csp = X264_CSP_I420;
    in.img.i_plane = 3;
    in.img.i_stride[0] = config_.width;
    in.img.i_stride[1] = config_.width / 2;
    in.img.i_stride[2] = config_.width / 2;
    in.img.plane[0] = const_cast<uint8_t*>(y);
    in.img.plane[1] = const_cast<uint8_t*>(u);
    in.img.plane[2] = const_cast<uint8_t*>(v);
    // Read only (no update asked for), and owned here.
    in.prop.mb_info = macroblockInfo;
    in.prop.mb_info_free = nullptr;

    x264_picture_t pic;
    x264_nal_t* nals = nullptr;
    int count = 0;
    const int bytes = x264_encoder_encode(handle_, &nals, &count, &in, &pic);
    if (bytes < 0) return false;
    if (bytes == 0 || count <= 0) return false;   // would mean a held-back picture: not configured so

    // Each unit is a 4-byte big-endian length, the header byte and the escaped payload; replacing
    // the length by a start code gives the Annex B form.
    sample_.clear();
    for (int i = 0; i < count; ++i) {
        const x264_nal_t& n = nals[i];
        if (n.i_payload < 5) continue;
        const size_t at = sample_.size();
        sample_.resize(at + size_t(n.i_payload));
        std::memcpy(sample_.data() + at, n.p_payload, size_t(n.i_payload));
        static const uint8_t kStartCode[4] = {0, 0, 0, 1};
        std::memcpy(sample_.data() + at, kStartCode, 4);
    }
    out.data = sample_.data();
    out.size = sample_.size();
    out.pts = pic.i_pts;
    out.keyframe = pic.i_type == X264_TYPE_IDR || pic.i_type == X264_TYPE_I || pic.b_keyframe;
    return true;
}

}  // namespace torvane
