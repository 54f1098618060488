#include "platform/core/StopSignals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace torvane {

namespace {

int g_pipe[2] = {-1, -1};
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

void onSignal(int number) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(number);
    // Non-blocking: a full pipe already holds a pending stop request.
    [[maybe_unused]] ssize_t n = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

StopSignals::StopSignals(QObject* parent) : QObject(parent) {}

StopSignals::~StopSignals() {
    if (!installed_) return;
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    for (int number : kSignals) sigaction(number, &dfl, nullptr);
    notifier_.reset();
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

bool StopSignals::install(std::string& error) {
    if (installed_ || g_pipe[0] >= 0) {
        error = "stop signals are already handled";
        return false;
    }
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = std::string("cannot create the signal pipe: ") + std::strerror(errno);
        return false;
    }
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    bool handled = true;
    for (int number : kSignals) handled = sigaction(number, &sa, nullptr) == 0 && handled;
    if (!handled) {
        error = std::string("cannot handle SIGINT/SIGTERM/SIGHUP: ") + std::strerror(errno);
        ::close(g_pipe[0]);
        ::close(g_pipe[1]);
        g_pipe[0] = g_pipe[1] = -1;
        return false;
    }
    installed_ = true;
    notifier_ = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &StopSignals::drain);
    return true;
}

void StopSignals::drain() {
    unsigned char byte = 0;
    int last = 0;
    while (::read(g_pipe[0], &byte, 1) == 1) last = byte;
    if (last) emit stopRequested(last);
}

}  // namespace torvane
