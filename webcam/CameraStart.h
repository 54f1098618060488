#pragma once
// Starting and stopping a webcam away from the user-interface thread. GStreamer may take seconds
// to open a camera, negotiate it and deliver its first picture, and stopping joins its streaming
// thread: the recorder window keeps handling its events, input included, meanwhile.

#include <chrono>
#include <memory>
#include <string>

namespace torvane {

class CVideoInputDevice;

struct CameraStartResult {
    std::shared_ptr<CVideoInputDevice> device;   // null on failure
    std::string reason;                          // why not, as a clause: "it is not connected"
};

// Opens the webcam `name` on a thread of its own and, when `firstPicture` is above zero, waits
// that long for its first picture. Called on the application's thread, that thread runs its
// event loop until the answer is there; elsewhere it simply waits. A release still under way
// (below) ends first, so a camera is never opened while its last use is being closed.
CameraStartResult startCamera(int width, int height, const std::string& name, int frameRate,
                              std::chrono::milliseconds firstPicture);

// Drops `device` on a thread of its own and returns at once; the camera stops when its last
// user lets go. Every release ends before the next start and before the program exits.
void releaseCamera(std::shared_ptr<CVideoInputDevice> device);
// Waits for the releases under way (for tests and for the end of the program).
void waitForCameraReleases();

}  // namespace torvane
