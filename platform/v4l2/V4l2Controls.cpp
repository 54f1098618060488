#include "platform/v4l2/V4l2Controls.h"

#include <linux/videodev2.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace torvane::v4l2 {

namespace {

int xioctl(int fd, unsigned long request, void* arg) {
    int r;
    do r = ::ioctl(fd, request, arg);
    while (r < 0 && errno == EINTR);
    return r;
}

class FileNode : public NodeIoctl {
public:
    explicit FileNode(int fd) : fd_(fd) {}
    ~FileNode() override { ::close(fd_); }
    int call(unsigned long request, void* arg) override { return xioctl(fd_, request, arg); }

private:
    int fd_;
};

std::string cString(const uint8_t* s, size_t n) {
    size_t len = 0;
    while (len < n && s[len]) ++len;
    return std::string(reinterpret_cast<const char*>(s), len);
}

}  // namespace

V4l2Device::~V4l2Device() { close(); }

bool V4l2Device::open(const std::string& path, std::string& error) {
    close();
    // Non-blocking: a camera that another program streams from still answers control requests.
    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int e = errno;
        if (e == ENOENT) error = path + " does not exist";
        else error = path + " cannot be opened: " + std::strerror(e);
        return false;
    }
    v4l2_capability cap{};
    if (xioctl(fd, VIDIOC_QUERYCAP, &cap) < 0) {
        const int e = errno;
        ::close(fd);
        error = e == ENOTTY || e == EINVAL ? path + " is not a V4L2 device"
                                           : path + " does not answer as a V4L2 device: " + std::strerror(e);
        return false;
    }
    node_ = std::make_unique<FileNode>(fd);
    return true;
}

void V4l2Device::close() { node_.reset(); }

// One control; `more` false once the driver has no further one.
bool V4l2Device::query(uint32_t id, Control& out, bool& more, uint32_t& nextId) {
    v4l2_queryctrl q{};
    q.id = id;
    more = node_->call(VIDIOC_QUERYCTRL, &q) == 0;
    if (!more) return false;
    nextId = q.id;
    if (q.flags & V4L2_CTRL_FLAG_DISABLED) return false;
    switch (q.type) {
    case V4L2_CTRL_TYPE_INTEGER: out.kind = ControlKind::Integer; break;
    case V4L2_CTRL_TYPE_BOOLEAN: out.kind = ControlKind::Boolean; break;
    case V4L2_CTRL_TYPE_MENU: out.kind = ControlKind::Menu; break;
    case V4L2_CTRL_TYPE_INTEGER_MENU: out.kind = ControlKind::IntegerMenu; break;
    case V4L2_CTRL_TYPE_BUTTON: out.kind = ControlKind::Button; break;
    default: return false;   // class headings, 64-bit, strings and compound values: not set here
    }
    out.id = q.id;
    out.name = cString(q.name, sizeof q.name);
    out.minimum = q.minimum;
    out.maximum = q.maximum;
    out.step = q.step > 0 ? int32_t(q.step) : 1;
    out.defaultValue = q.default_value;
    out.readOnly = (q.flags & V4L2_CTRL_FLAG_READ_ONLY) != 0;
    out.grabbed = (q.flags & V4L2_CTRL_FLAG_GRABBED) != 0;
    out.inactive = (q.flags & V4L2_CTRL_FLAG_INACTIVE) != 0;
    out.menu.clear();
    if (out.kind == ControlKind::Menu || out.kind == ControlKind::IntegerMenu) {
        for (int32_t i = q.minimum; i <= q.maximum; ++i) {
            v4l2_querymenu m{};
            m.id = q.id;
            m.index = uint32_t(i);
            if (node_->call(VIDIOC_QUERYMENU, &m) < 0) continue;   // gaps are allowed
            out.menu.push_back({i, out.kind == ControlKind::Menu ? cString(m.name, sizeof m.name)
                                                                 : std::to_string(static_cast<long long>(m.value))});
        }
    }
    return true;
}

bool V4l2Device::list(std::vector<Control>& out, std::string& error) {
    out.clear();
    if (!node_) {
        error = "the device is not open";
        return false;
    }
    bool more = false;
    uint32_t next = 0;
    Control c;
    // Drivers that know NEXT_CTRL walk every control; older ones answer the fixed ranges only.
    uint32_t id = V4L2_CTRL_FLAG_NEXT_CTRL;
    bool walked = false;
    for (int guard = 0; guard < 4096; ++guard) {
        const bool got = query(id, c, more, next);
        if (!more) break;
        walked = true;
        if (got) out.push_back(c);
        id = next | V4L2_CTRL_FLAG_NEXT_CTRL;
    }
    if (!walked) {
        for (uint32_t i = V4L2_CID_BASE; i < V4L2_CID_LASTP1; ++i)
            if (query(i, c, more, next)) out.push_back(c);
        for (uint32_t i = V4L2_CID_PRIVATE_BASE;; ++i) {
            const bool got = query(i, c, more, next);
            if (!more) break;
            if (got) out.push_back(c);
        }
    }
    return true;
}

bool V4l2Device::get(uint32_t id, int32_t& value, std::string& error) {
    v4l2_control c{};
    c.id = id;
    if (!node_ || node_->call(VIDIOC_G_CTRL, &c) < 0) {
        error = !node_ ? "the device is not open" : std::string("the value cannot be read: ") + std::strerror(errno);
        return false;
    }
    value = c.value;
    return true;
}

bool V4l2Device::set(uint32_t id, int32_t value, std::string& error) {
    v4l2_control c{};
    c.id = id;
    c.value = value;
    if (!node_ || node_->call(VIDIOC_S_CTRL, &c) < 0) {
        error = !node_ ? "the device is not open" : std::string("the value cannot be set: ") + std::strerror(errno);
        return false;
    }
    return true;
}

std::unique_ptr<V4l2Device> openControls(const std::string& path, std::string& error) {
    auto device = std::make_unique<V4l2Device>();
    if (!device->open(path, error)) return nullptr;
    return device;
}

bool hasControls(const std::string& path) {
    if (path.empty()) return false;
    std::string error;
    auto device = openControls(path, error);
    std::vector<Control> controls;
    return device && device->list(controls, error) && !controls.empty();
}

}  // namespace torvane::v4l2
