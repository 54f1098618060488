#include "webcam/CameraStart.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>

#include <mutex>
#include <thread>
#include <vector>

#include "webcam/VideoInputDevice.h"

namespace torvane {

namespace {

std::mutex releasesLock;
// Defined before the joiner below, so it is destroyed after it.
std::vector<std::thread> pendingReleases;
std::vector<std::thread>& releases() { return pendingReleases; }

// Joins what is left when the program ends, so no camera is closed during static teardown.
struct ReleaseJoiner {
    ~ReleaseJoiner() { waitForCameraReleases(); }
} releaseJoiner;

CameraStartResult openAndWait(int width, int height, const std::string& name, int frameRate,
                              std::chrono::milliseconds firstPicture) {
    waitForCameraReleases();
    CameraStartResult r;
    auto device = std::make_shared<CVideoInputDevice>(width, height, name, frameRate);
    if (!device->ok()) {
        r.reason = device->error();
        return r;
    }
    if (firstPicture.count() > 0) {
        const auto deadline = std::chrono::steady_clock::now() + firstPicture;
        bool got = false;
        while (!got && std::chrono::steady_clock::now() < deadline) {
            got = device->waitFirstPicture(std::chrono::milliseconds(20));
            std::chrono::steady_clock::time_point when;
            std::string why;
            // An error posted while starting ends the wait; silence is what the deadline is for.
            if (!got && device->lostSince(when, why) && why != "it stopped delivering pictures") {
                r.reason = "it failed while starting: " + why;
                return r;
            }
        }
        if (!got) {
            r.reason = "it delivered no picture within " + std::to_string(firstPicture.count() / 1000) + " seconds";
            return r;
        }
    }
    r.device = std::move(device);
    return r;
}

}  // namespace

CameraStartResult startCamera(int width, int height, const std::string& name, int frameRate,
                              std::chrono::milliseconds firstPicture) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread())
        return openAndWait(width, height, name, frameRate, firstPicture);

    CameraStartResult result;
    QEventLoop loop;
    std::thread opener([&] {
        result = openAndWait(width, height, name, frameRate, firstPicture);
        // Queued: delivered once the loop runs, even when the answer comes before it starts. By
        // name rather than a lambda, whose call object the two threads would share, ordered only
        // by reference counting inside Qt that the thread checker cannot see.
        QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
    });
    loop.exec();
    opener.join();
    return result;
}

void releaseCamera(std::shared_ptr<CVideoInputDevice> device) {
    if (!device) return;
    std::lock_guard<std::mutex> g(releasesLock);
    releases().emplace_back([device = std::move(device)]() mutable { device.reset(); });
}

void waitForCameraReleases() {
    std::vector<std::thread> pending;
    {
        std::lock_guard<std::mutex> g(releasesLock);
        pending.swap(releases());
    }
    for (auto& t : pending) t.join();
}

}  // namespace torvane
