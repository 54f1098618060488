#pragma once
// The H.264 encoder of one run of the capture thread. Each picture given is returned by the same
// call (one thread, no B pictures, no look-ahead), so nothing is held back when it closes.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct x264_t;

namespace torvane {

struct EncoderConfig {
    int width = 0;          // even
    int height = 0;         // even
    int frameRate = 8;      // pictures per second
    int quality = 0;        // 0 Normal, 1 Higher, 2 Highest; others keep the library default
};

// The constant quantiser of a quality choice: Normal 26, Higher 23, Highest 20.
int quantiserForQuality(int quality);
// How many threads share the encoding of a picture of this size (by slices): the cores the
// process may use, at most four, fewer for small pictures.
int encoderThreads(int width, int height);

struct EncodedPicture {
    const uint8_t* data = nullptr;   // Annex B access unit: 00 00 00 01 + NAL, for every NAL unit
    size_t size = 0;
    int64_t pts = 0;
    bool keyframe = false;           // IDR or I picture
};

// The parameters the open encoder really uses.
struct EncoderParameters {
    int keyintMax = 0, keyintMin = 0, references = 0, bframes = 0, threads = 0;
    int qpConstant = 0, qpMax = 0, rcMethod = 0, meMethod = 0, subpelRefine = 0, trellis = 0;
    unsigned interPartitions = 0, intraPartitions = 0;
    bool deblocking = true;
    bool cabac = false, repeatHeaders = false, transform8x8 = true, vfrInput = true;
};

class CH264Encoder {
public:
    // Null and `error` filled when the library refuses the parameters.
    static std::unique_ptr<CH264Encoder> open(const EncoderConfig& config, std::string* error);
    ~CH264Encoder();
    CH264Encoder(const CH264Encoder&) = delete;
    CH264Encoder& operator=(const CH264Encoder&) = delete;

    // Encodes one I420 picture (planes of stride width, width/2, width/2). `forceIdr` makes it an
    // IDR picture with SPS and PPS in front. False when the library fails; `out` then stays empty.
    // `unchanged`, when given: one byte a macroblock in rows of (width + 15) / 16, nonzero where the
    // macroblock is the same as in the picture given last, which lets the library skip it.
    bool encode(const uint8_t* y, const uint8_t* u, const uint8_t* v, int64_t pts, bool forceIdr,
                EncodedPicture& out, const uint8_t* unchanged = nullptr);
    // Encodes the picture given last time again, told that no macroblock changed: a picture of a
    // few dozen bytes that players show as a real one. The planes must still hold that picture.
    bool encodeRepeat(const uint8_t* y, const uint8_t* u, const uint8_t* v, int64_t pts, EncodedPicture& out);

    // The analysis from the next picture on: 0 the normal settings, up to kFastestSpeed ever
    // less thorough (cheaper motion search and sub-pixel refinement, fewer partitions), at
    // the same quantiser. False, the speed unchanged, when the library refuses it.
    static constexpr int kFastestSpeed = 3;
    bool setSpeed(int speed);
    int speed() const { return speed_; }

    const EncoderConfig& config() const { return config_; }
    EncoderParameters parameters() const;

private:
    CH264Encoder() = default;
    bool encodePlanes(const uint8_t* y, const uint8_t* u, const uint8_t* v, int64_t pts, bool forceIdr,
                      uint8_t* macroblockInfo, EncodedPicture& out);
    x264_t* handle_ = nullptr;
    EncoderConfig config_;
    int speed_ = 0;
    std::vector<uint8_t> sample_;   // packed access unit, reused
    std::vector<uint8_t> allConstant_;   // one flag a macroblock, every one unchanged
    std::vector<uint8_t> partlyConstant_;   // the flags of a picture whose unchanged macroblocks were named
};

}  // namespace torvane
