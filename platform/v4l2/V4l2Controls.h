#pragma once
// The user controls of a V4L2 capture node (brightness, contrast, exposure, white balance...):
// listed with VIDIOC_QUERYCTRL and QUERYMENU, read with G_CTRL and set with S_CTRL. The device
// keeps what is set, so a change applies to every program using the camera, at once.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace torvane::v4l2 {

enum class ControlKind { Integer, Boolean, Menu, IntegerMenu, Button };

struct MenuItem {
    int32_t index = 0;
    std::string text;   // the caption, or the number of an integer menu
};

struct Control {
    uint32_t id = 0;
    std::string name;
    ControlKind kind = ControlKind::Integer;
    int32_t minimum = 0, maximum = 0, step = 1, defaultValue = 0;
    bool readOnly = false;        // a reading only, never settable
    bool grabbed = false;         // held by a stream for now (e.g. a size while capturing)
    bool inactive = false;        // e.g. manual exposure while automatic exposure is on
    std::vector<MenuItem> menu;   // Menu and IntegerMenu only
};

// What the controls dialog works with: the real device below, or a stand-in.
class ControlSet {
public:
    virtual ~ControlSet() = default;
    // False with the reason in `error` when they cannot be listed.
    virtual bool list(std::vector<Control>& out, std::string& error) = 0;
    virtual bool get(uint32_t id, int32_t& value, std::string& error) = 0;
    virtual bool set(uint32_t id, int32_t value, std::string& error) = 0;
};

// The ioctl of an open node: 0, or -1 with errno set. Apart so that a driver of the test process
// can answer in place of a camera.
class NodeIoctl {
public:
    virtual ~NodeIoctl() = default;
    virtual int call(unsigned long request, void* arg) = 0;
};

class V4l2Device : public ControlSet {
public:
    V4l2Device() = default;
    // Works through `node` as though it were an open device node.
    explicit V4l2Device(std::unique_ptr<NodeIoctl> node) : node_(std::move(node)) {}
    ~V4l2Device() override;
    V4l2Device(const V4l2Device&) = delete;
    V4l2Device& operator=(const V4l2Device&) = delete;

    // False with the reason when the node is missing, cannot be opened, or is no V4L2 device.
    bool open(const std::string& path, std::string& error);
    void close();
    bool isOpen() const { return node_ != nullptr; }

    bool list(std::vector<Control>& out, std::string& error) override;
    bool get(uint32_t id, int32_t& value, std::string& error) override;
    bool set(uint32_t id, int32_t value, std::string& error) override;

private:
    bool query(uint32_t id, Control& out, bool& more, uint32_t& nextId);
    std::unique_ptr<NodeIoctl> node_;
};

// The device at `path` opened, or null with the reason.
std::unique_ptr<V4l2Device> openControls(const std::string& path, std::string& error);
// Whether the node at `path` is a V4L2 device with at least one control.
bool hasControls(const std::string& path);

}  // namespace torvane::v4l2
