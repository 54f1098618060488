#include "platform/pulse/PulseStream.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <vector>

namespace torvane::pulse {
namespace {

using Clock = std::chrono::steady_clock;

// A threaded main loop with one context. Callbacks run on the loop's thread; waiting for them
// happens on a condition variable of our own so that every wait can have a time-out.
struct Connection {
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    std::mutex m;
    std::condition_variable cv;
    bool contextFailed = false;   // guarded by m
    std::string error;            // guarded by m

    ~Connection() { close(); }

    static void contextState(pa_context* c, void* user) {
        auto* self = static_cast<Connection*>(user);
        pa_context_state_t s = pa_context_get_state(c);
        {
            std::lock_guard<std::mutex> lock(self->m);
            if (s == PA_CONTEXT_FAILED || s == PA_CONTEXT_TERMINATED) {
                self->contextFailed = true;
                if (self->error.empty())
                    self->error = std::string("sound server connection lost: ") +
                                  pa_strerror(pa_context_errno(c));
            }
        }
        self->cv.notify_all();
    }

    bool connect(const std::string& name, int timeoutMs, std::string* err) {
        loop = pa_threaded_mainloop_new();
        if (!loop) return fail(err, "cannot create the sound server main loop");
        context = pa_context_new(pa_threaded_mainloop_get_api(loop), name.c_str());
        if (!context) return fail(err, "cannot create a sound server context");
        pa_context_set_state_callback(context, &Connection::contextState, this);
        if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
            return fail(err, std::string("no sound server: ") + pa_strerror(pa_context_errno(context)));
        if (pa_threaded_mainloop_start(loop) < 0) return fail(err, "cannot start the sound server main loop");
        bool ready = waitFor(timeoutMs, [&] {
            pa_threaded_mainloop_lock(loop);
            bool r = pa_context_get_state(context) == PA_CONTEXT_READY;
            pa_threaded_mainloop_unlock(loop);
            return r;
        });
        if (!ready) {
            std::string e;
            {
                std::lock_guard<std::mutex> lock(m);
                e = error.empty() ? std::string("the sound server did not answer") : error;
            }
            return fail(err, e);
        }
        return true;
    }

    // Waits until `done` holds or the context failed or the time ran out. `done` is evaluated
    // without m held.
    template <class Pred>
    bool waitFor(int timeoutMs, Pred done) {
        auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            if (done()) return true;
            std::unique_lock<std::mutex> lock(m);
            if (contextFailed) return false;
            if (cv.wait_until(lock, std::min(deadline, Clock::now() + std::chrono::milliseconds(20))) ==
                    std::cv_status::timeout &&
                Clock::now() >= deadline) {
                lock.unlock();
                return done();
            }
        }
    }

    bool fail(std::string* err, const std::string& text) {
        if (err) *err = text;
        close();
        return false;
    }

    void close() {
        if (loop) pa_threaded_mainloop_lock(loop);
        if (context) {
            pa_context_set_state_callback(context, nullptr, nullptr);
            pa_context_disconnect(context);
            pa_context_unref(context);
            context = nullptr;
        }
        if (loop) {
            pa_threaded_mainloop_unlock(loop);
            pa_threaded_mainloop_stop(loop);
            pa_threaded_mainloop_free(loop);
            loop = nullptr;
        }
    }
};

struct SpecQuery {
    Connection* conn;
    DeviceSpec spec;
    bool done = false, ok = false;
};

template <class Info>
void storeSpec(pa_context*, const Info* info, int eol, void* user) {
    auto* q = static_cast<SpecQuery*>(user);
    {
        std::lock_guard<std::mutex> lock(q->conn->m);
        if (eol == 0 && info) {
            q->spec.rate = info->sample_spec.rate;
            q->spec.channels = info->sample_spec.channels;
            q->ok = true;
        } else {
            q->done = true;
        }
    }
    q->conn->cv.notify_all();
}

bool querySpec(bool sink, DeviceSpec* spec, std::string* error, int timeoutMs) {
    Connection c;
    if (!c.connect("torvane device query", timeoutMs, error)) return false;
    SpecQuery q{&c, {}};
    pa_threaded_mainloop_lock(c.loop);
    pa_operation* op =
        sink ? pa_context_get_sink_info_by_name(c.context, "@DEFAULT_SINK@", storeSpec<pa_sink_info>, &q)
             : pa_context_get_source_info_by_name(c.context, "@DEFAULT_SOURCE@",
                                                  storeSpec<pa_source_info>, &q);
    pa_threaded_mainloop_unlock(c.loop);
    if (!op) {
        if (error) *error = "the sound server refused the device query";
        return false;
    }
    bool finished = c.waitFor(timeoutMs, [&] {
        std::lock_guard<std::mutex> lock(c.m);
        return q.done;
    });
    pa_threaded_mainloop_lock(c.loop);
    if (!finished) pa_operation_cancel(op);
    pa_operation_unref(op);
    pa_threaded_mainloop_unlock(c.loop);
    std::lock_guard<std::mutex> lock(c.m);
    if (!q.ok || q.spec.rate == 0 || q.spec.channels == 0) {
        if (error) *error = sink ? "no default sound output device" : "no default sound input device";
        return false;
    }
    *spec = q.spec;
    return true;
}

struct MonitorQuery {
    Connection* conn;
    SinkMonitor result;
    bool serverDone = false, sinkDone = false, ok = false;
};

void storeServer(pa_context*, const pa_server_info* info, void* user) {
    auto* q = static_cast<MonitorQuery*>(user);
    {
        std::lock_guard<std::mutex> lock(q->conn->m);
        if (info && info->default_sink_name) q->result.sink = info->default_sink_name;
        q->serverDone = true;
    }
    q->conn->cv.notify_all();
}

void storeSink(pa_context*, const pa_sink_info* info, int eol, void* user) {
    auto* q = static_cast<MonitorQuery*>(user);
    {
        std::lock_guard<std::mutex> lock(q->conn->m);
        if (eol == 0 && info) {
            q->result.monitor = info->monitor_source_name ? info->monitor_source_name : "";
            q->result.spec.rate = info->sample_spec.rate;
            q->result.spec.channels = info->sample_spec.channels;
            q->ok = !q->result.monitor.empty();
        } else {
            q->sinkDone = true;
        }
    }
    q->conn->cv.notify_all();
}

// Runs one operation started by `begin` (with the loop locked) and waits for `finished`.
template <class Begin, class Done>
bool runOperation(Connection& c, int timeoutMs, Begin begin, Done finished) {
    pa_threaded_mainloop_lock(c.loop);
    pa_operation* op = begin();
    pa_threaded_mainloop_unlock(c.loop);
    if (!op) return false;
    bool ok = c.waitFor(timeoutMs, [&] {
        std::lock_guard<std::mutex> lock(c.m);
        return finished();
    });
    pa_threaded_mainloop_lock(c.loop);
    if (!ok) pa_operation_cancel(op);
    pa_operation_unref(op);
    pa_threaded_mainloop_unlock(c.loop);
    return ok;
}

// sink empty: the default sink.
bool queryMonitor(const std::string& sink, SinkMonitor* out, std::string* error, int timeoutMs) {
    Connection c;
    if (!c.connect("torvane device query", timeoutMs, error)) return false;
    MonitorQuery q{&c, {}};
    q.result.sink = sink;
    if (sink.empty()) {
        bool answered = runOperation(
            c, timeoutMs, [&] { return pa_context_get_server_info(c.context, storeServer, &q); },
            [&] { return q.serverDone; });
        std::lock_guard<std::mutex> lock(c.m);
        if (!answered || q.result.sink.empty()) {
            if (error) *error = "no default sound output device";
            return false;
        }
    }
    bool answered = runOperation(
        c, timeoutMs,
        [&] { return pa_context_get_sink_info_by_name(c.context, q.result.sink.c_str(), storeSink, &q); },
        [&] { return q.sinkDone; });
    std::lock_guard<std::mutex> lock(c.m);
    if (!answered || !q.ok || q.result.spec.rate == 0 || q.result.spec.channels == 0) {
        if (error) *error = "the sound output \"" + q.result.sink + "\" has no monitor to record from";
        return false;
    }
    *out = q.result;
    return true;
}

}  // namespace

bool defaultSinkMonitor(SinkMonitor* out, std::string* error, int timeoutMs) {
    return queryMonitor("", out, error, timeoutMs);
}

bool sinkMonitor(const std::string& sink, SinkMonitor* out, std::string* error, int timeoutMs) {
    if (sink.empty()) {
        if (error) *error = "no sound output named";
        return false;
    }
    return queryMonitor(sink, out, error, timeoutMs);
}

struct DefaultSinkWatch::Impl {
    Connection conn;
    // Guarded by conn.m:
    std::string sink;
    uint64_t generation = 0;
    bool haveFirst = false;

    // On the loop's thread.
    static void serverInfo(pa_context*, const pa_server_info* info, void* user) {
        auto* self = static_cast<Impl*>(user);
        {
            std::lock_guard<std::mutex> lock(self->conn.m);
            std::string name = info && info->default_sink_name ? info->default_sink_name : "";
            if (!self->haveFirst || name != self->sink) {
                if (self->haveFirst) ++self->generation;
                self->sink = name;
                self->haveFirst = true;
            }
        }
        self->conn.cv.notify_all();
    }

    static void event(pa_context* c, pa_subscription_event_type_t t, uint32_t, void* user) {
        // The default sink is part of the server's info; a removed sink also changes it.
        auto facility = t & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
        if (facility != PA_SUBSCRIPTION_EVENT_SERVER && facility != PA_SUBSCRIPTION_EVENT_SINK) return;
        if (pa_operation* op = pa_context_get_server_info(c, &Impl::serverInfo, user)) pa_operation_unref(op);
    }
};

std::unique_ptr<DefaultSinkWatch> DefaultSinkWatch::open(std::string* error, int timeoutMs) {
    auto impl = std::make_unique<Impl>();
    if (!impl->conn.connect("torvane output watch", timeoutMs, error)) return nullptr;
    Impl* raw = impl.get();
    pa_threaded_mainloop_lock(raw->conn.loop);
    pa_context_set_subscribe_callback(raw->conn.context, &Impl::event, raw);
    pa_operation* sub = pa_context_subscribe(
        raw->conn.context, pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SERVER | PA_SUBSCRIPTION_MASK_SINK),
        nullptr, nullptr);
    if (sub) pa_operation_unref(sub);
    pa_operation* info = pa_context_get_server_info(raw->conn.context, &Impl::serverInfo, raw);
    if (info) pa_operation_unref(info);
    pa_threaded_mainloop_unlock(raw->conn.loop);
    std::unique_ptr<DefaultSinkWatch> watch(new DefaultSinkWatch(std::move(impl)));
    bool known = sub && info && raw->conn.waitFor(timeoutMs, [&] {
        std::lock_guard<std::mutex> lock(raw->conn.m);
        return raw->haveFirst;
    });
    if (!known) {
        if (error) *error = "the sound server did not tell its default output";
        return nullptr;
    }
    return watch;
}

DefaultSinkWatch::DefaultSinkWatch(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

DefaultSinkWatch::~DefaultSinkWatch() {
    Connection& c = impl_->conn;
    if (c.loop) {
        pa_threaded_mainloop_lock(c.loop);
        if (c.context) pa_context_set_subscribe_callback(c.context, nullptr, nullptr);
        pa_threaded_mainloop_unlock(c.loop);
    }
    c.close();
}

std::string DefaultSinkWatch::defaultSink() const {
    std::lock_guard<std::mutex> lock(impl_->conn.m);
    return impl_->sink;
}

uint64_t DefaultSinkWatch::generation() const {
    std::lock_guard<std::mutex> lock(impl_->conn.m);
    return impl_->generation;
}

bool DefaultSinkWatch::failed() const {
    std::lock_guard<std::mutex> lock(impl_->conn.m);
    return impl_->conn.contextFailed;
}

bool serverReachable(int timeoutMs) {
    Connection c;
    return c.connect("torvane probe", timeoutMs, nullptr);
}

bool defaultSinkSpec(DeviceSpec* spec, std::string* error, int timeoutMs) {
    return querySpec(true, spec, error, timeoutMs);
}

bool defaultSourceSpec(DeviceSpec* spec, std::string* error, int timeoutMs) {
    return querySpec(false, spec, error, timeoutMs);
}

struct Stream::Impl {
    Connection conn;
    pa_stream* stream = nullptr;
    Direction direction = Direction::kRecord;
    uint32_t frameBytes = 1;
    uint32_t rate = 44100;
    size_t maxBuffered = 0;
    std::vector<uint8_t> zeros;   // playback: silence to write, used with the loop locked
    // Guarded by conn.m:
    std::deque<uint8_t> buffer;
    bool streamFailed = false;
    bool interrupted = false;
    bool haveFirst = false;
    Clock::time_point firstCapture{};
    uint64_t overflow = 0;

    bool failedLocked() const { return streamFailed || conn.contextFailed; }

    static void streamState(pa_stream* s, void* user) {
        auto* self = static_cast<Impl*>(user);
        pa_stream_state_t st = pa_stream_get_state(s);
        if (st == PA_STREAM_FAILED || st == PA_STREAM_TERMINATED) {
            std::lock_guard<std::mutex> lock(self->conn.m);
            self->streamFailed = true;
            if (self->conn.error.empty())
                self->conn.error = std::string("sound stream ended: ") +
                                   pa_strerror(pa_context_errno(pa_stream_get_context(s)));
        }
        self->conn.cv.notify_all();
    }

    // Runs on the main loop's thread with the loop locked.
    static void readable(pa_stream* s, size_t, void* user) {
        auto* self = static_cast<Impl*>(user);
        // What waits now was captured at the latest as long ago as it lasts. The stream's latency
        // figure is no better: measured on a null sink's monitor it claimed ~0.65 s while tones
        // arrived within milliseconds of being rendered.
        size_t waiting = pa_stream_readable_size(s);
        Clock::time_point now = Clock::now();
        pa_usec_t age = pa_bytes_to_usec(waiting, pa_stream_get_sample_spec(s));
        while (pa_stream_readable_size(s) > 0) {
            const void* data = nullptr;
            size_t n = 0;
            if (pa_stream_peek(s, &data, &n) < 0) break;
            if (n == 0) break;
            {
                std::lock_guard<std::mutex> lock(self->conn.m);
                if (!self->haveFirst) {
                    self->firstCapture = now - std::chrono::microseconds(age);
                    self->haveFirst = true;
                }
                if (data) {
                    auto* p = static_cast<const uint8_t*>(data);
                    self->buffer.insert(self->buffer.end(), p, p + n);
                } else {
                    self->buffer.insert(self->buffer.end(), n, 0);   // a hole: silence
                }
                if (self->buffer.size() > self->maxBuffered) {
                    size_t excess = self->buffer.size() - self->maxBuffered;
                    excess += (self->frameBytes - excess % self->frameBytes) % self->frameBytes;
                    excess = std::min(excess, self->buffer.size());
                    self->buffer.erase(self->buffer.begin(), self->buffer.begin() + excess);
                    self->overflow += excess;
                }
            }
            pa_stream_drop(s);
        }
        self->conn.cv.notify_all();
    }
};

Stream::Stream(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

std::unique_ptr<Stream> Stream::open(Direction direction, const std::string& device,
                                     const StreamSpec& spec, uint32_t fragmentBytes,
                                     size_t maxBufferedBytes, const std::string& name,
                                     std::string* error, int timeoutMs) {
    if (spec.rate == 0 || spec.channels == 0 || spec.channels > PA_CHANNELS_MAX) {
        if (error) *error = "unsupported sound format";
        return nullptr;
    }
    auto impl = std::make_unique<Impl>();
    impl->direction = direction;
    if (!impl->conn.connect(name, timeoutMs, error)) return nullptr;

    pa_sample_spec ss;
    ss.format = spec.format == SampleFormat::kU8 ? PA_SAMPLE_U8 : PA_SAMPLE_S16LE;
    ss.rate = spec.rate;
    ss.channels = spec.channels;
    impl->frameBytes = uint32_t(pa_frame_size(&ss));
    impl->rate = spec.rate;
    uint32_t frag = std::max<uint32_t>(fragmentBytes - fragmentBytes % impl->frameBytes, impl->frameBytes);
    impl->maxBuffered = std::max<size_t>(maxBufferedBytes, frag * 4);

    pa_channel_map map;
    pa_channel_map_init_extend(&map, spec.channels, PA_CHANNEL_MAP_DEFAULT);

    pa_buffer_attr attr;
    attr.maxlength = uint32_t(-1);
    attr.tlength = uint32_t(-1);
    attr.prebuf = uint32_t(-1);
    attr.minreq = uint32_t(-1);
    attr.fragsize = uint32_t(-1);
    if (direction == Direction::kRecord) {
        attr.fragsize = frag;
    } else {
        attr.tlength = frag;
        attr.minreq = std::max<uint32_t>(frag / 4 - frag / 4 % impl->frameBytes, impl->frameBytes);
    }

    Impl* raw = impl.get();
    pa_threaded_mainloop_lock(raw->conn.loop);
    raw->stream = pa_stream_new(raw->conn.context, name.c_str(), &ss, &map);
    int rc = -1;
    if (raw->stream) {
        pa_stream_set_state_callback(raw->stream, &Impl::streamState, raw);
        auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE |
                                       PA_STREAM_INTERPOLATE_TIMING);
        const char* dev = device.empty() ? nullptr : device.c_str();
        if (direction == Direction::kRecord) {
            pa_stream_set_read_callback(raw->stream, &Impl::readable, raw);
            rc = pa_stream_connect_record(raw->stream, dev, &attr, flags);
        } else {
            rc = pa_stream_connect_playback(raw->stream, dev, &attr, flags, nullptr, nullptr);
        }
    }
    std::string connectError = rc < 0 ? pa_strerror(pa_context_errno(raw->conn.context)) : "";
    pa_threaded_mainloop_unlock(raw->conn.loop);
    std::unique_ptr<Stream> result(new Stream(std::move(impl)));
    if (rc < 0) {
        if (error) *error = "cannot open the sound stream: " + connectError;
        return nullptr;
    }
    bool ready = raw->conn.waitFor(timeoutMs, [&] {
        pa_threaded_mainloop_lock(raw->conn.loop);
        bool r = pa_stream_get_state(raw->stream) == PA_STREAM_READY;
        pa_threaded_mainloop_unlock(raw->conn.loop);
        return r;
    });
    if (!ready || result->failed()) {
        if (error) {
            std::string e = result->error();
            *error = e.empty() ? std::string("the sound stream did not become ready") : e;
        }
        return nullptr;
    }
    return result;
}

Stream::~Stream() {
    if (!impl_) return;
    Connection& c = impl_->conn;
    if (c.loop) {
        pa_threaded_mainloop_lock(c.loop);
        if (impl_->stream) {
            pa_stream_set_state_callback(impl_->stream, nullptr, nullptr);
            pa_stream_set_read_callback(impl_->stream, nullptr, nullptr);
            pa_stream_disconnect(impl_->stream);
            pa_stream_unref(impl_->stream);
            impl_->stream = nullptr;
        }
        pa_threaded_mainloop_unlock(c.loop);
    }
    c.close();
}

int Stream::read(void* dst, size_t maxBytes, int timeoutMs) {
    Impl& s = *impl_;
    size_t want = maxBytes - maxBytes % s.frameBytes;
    if (want == 0) return 0;
    std::unique_lock<std::mutex> lock(s.conn.m);
    s.conn.cv.wait_for(lock, std::chrono::milliseconds(std::max(timeoutMs, 0)), [&] {
        return s.buffer.size() >= s.frameBytes || s.failedLocked() || s.interrupted;
    });
    size_t have = s.buffer.size() - s.buffer.size() % s.frameBytes;
    if (have == 0) return s.failedLocked() ? -1 : 0;
    size_t n = std::min(have, want);
    std::copy_n(s.buffer.begin(), n, static_cast<uint8_t*>(dst));
    s.buffer.erase(s.buffer.begin(), s.buffer.begin() + n);
    return int(n);
}

bool Stream::firstCaptureTime(std::chrono::steady_clock::time_point* t) const {
    std::lock_guard<std::mutex> lock(impl_->conn.m);
    if (!impl_->haveFirst) return false;
    *t = impl_->firstCapture;
    return true;
}

uint64_t Stream::overflowBytes() const {
    std::lock_guard<std::mutex> lock(impl_->conn.m);
    return impl_->overflow;
}

int Stream::writeSilence(size_t maxBytes) {
    Impl& s = *impl_;
    if (failed()) return -1;
    pa_threaded_mainloop_lock(s.conn.loop);
    size_t n = pa_stream_writable_size(s.stream);
    int result = 0;
    if (n == size_t(-1)) {
        result = -1;
    } else {
        n = std::min(n, maxBytes);
        n -= n % s.frameBytes;
        if (n > 0) {
            if (s.zeros.size() < n) s.zeros.assign(n, 0);
            result = pa_stream_write(s.stream, s.zeros.data(), n, nullptr, 0, PA_SEEK_RELATIVE) < 0 ? -1 : int(n);
        }
    }
    pa_threaded_mainloop_unlock(s.conn.loop);
    return result;
}

void Stream::interrupt() {
    {
        std::lock_guard<std::mutex> lock(impl_->conn.m);
        impl_->interrupted = true;
    }
    impl_->conn.cv.notify_all();
}

bool Stream::failed() const {
    std::lock_guard<std::mutex> lock(impl_->conn.m);
    return impl_->failedLocked();
}

std::string Stream::error() const {
    std::lock_guard<std::mutex> lock(impl_->conn.m);
    return impl_->conn.error;
}

uint32_t Stream::frameBytes() const { return impl_->frameBytes; }

}  // namespace torvane::pulse
