#pragma once
// Which of a camera's offers to take. The capture graph reads raw pictures and MJPEG, which most
// cameras send at their larger sizes and higher rates (often the only way they give 1280x720 at
// 30 pictures a second).

#include <string>

typedef struct _GstCaps GstCaps;
typedef struct _GstStructure GstStructure;

namespace torvane::camera {

// Whether the capture graph can read pictures of this kind.
bool readableFormat(const GstStructure* s);

// What to ask of a camera that offers `offered`, when `width` x `height` (0: no wish) at no fewer
// than `frameRate` pictures a second (0: no wish) is wanted. The size counts before the rate; at a
// size, raw before MJPEG when both reach the rate, else the faster of the two. A size the camera
// lacks is dropped from the wish. Null when nothing it offers is readable. A new reference the
// caller unrefs.
GstCaps* chooseCameraCaps(GstCaps* offered, int width, int height, int frameRate);

// Whether the chosen caps need MJPEG decoding.
bool isJpeg(const GstCaps* chosen);

}  // namespace torvane::camera
