// A stand-in for hidapi with the functions HidapiBackend uses, built from hidapi's own
// header. Like hidapi before 0.15 it frees and replaces the handle's one error string in
// every call (and the global one in every global call), so two calls on one handle at
// the same time are a double free that AddressSanitizer reports; it also counts them.
#include "fakehidapi.h"

#include <hidapi/hidapi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

struct hid_device_ {
    std::string path;
    wchar_t* lastError = nullptr;
    std::atomic<int> inCall{0};
};

namespace
{

using Clock = std::chrono::steady_clock;

struct Device {
    unsigned short vendorId = 0;
    bool present = false;
    bool echo = false;
    int node = -1; // our end of the FIFO at the path
    int failReads = 0;
    int writeDelayMs = 0;
    int writes = 0;
    int64_t lastWriteNs = 0;
    std::deque<std::vector<unsigned char>> inputs;

    void push(std::vector<unsigned char> bytes)
    {
        inputs.push_back(std::move(bytes));
        if (node >= 0) {
            const unsigned char ring[65] = {};
            if (::write(node, ring, sizeof ring) != sizeof ring)
                std::abort(); // a test that lets 1000 reports pile up is broken
        }
    }
    void removeNode(const std::string& path)
    {
        if (node < 0)
            return;
        ::close(node);
        ::unlink(path.c_str());
        node = -1;
    }
};

std::mutex g_mutex;
std::condition_variable g_changed;
std::map<std::string, Device> g_devices;
std::atomic<int> g_overlaps{0};
std::atomic<int> g_handles{0};
std::atomic<int> g_globalInCall{0};
wchar_t* g_globalError = nullptr;

wchar_t* copyOf(const wchar_t* text)
{
    if (!text)
        return nullptr;
    const size_t n = std::wcslen(text) + 1;
    auto* copy = static_cast<wchar_t*>(std::malloc(n * sizeof(wchar_t)));
    std::wmemcpy(copy, text, n);
    return copy;
}

// As hidapi 0.13's register_device_error: free the old string, store a new one.
void setError(wchar_t** slot, const wchar_t* text)
{
    std::free(*slot);
    *slot = copyOf(text);
}

// Marks one call on a handle (or a global call) for its whole duration.
class CallScope
{
  public:
    explicit CallScope(std::atomic<int>& counter) : m_counter(counter)
    {
        if (m_counter.fetch_add(1) != 0)
            ++g_overlaps;
    }
    ~CallScope() { --m_counter; }
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;

  private:
    std::atomic<int>& m_counter;
};

} // namespace

namespace fakehidapi
{

void plug(const char* path, unsigned short vendorId, bool node)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    Device& d = g_devices[path];
    d.vendorId = vendorId;
    d.present = true;
    d.removeNode(path);
    if (node) {
        ::unlink(path);
        if (::mkfifo(path, 0600) == 0)
            d.node = ::open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
    }
    g_changed.notify_all();
}

void unplug(const char* path)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_devices[path].present = false;
    g_devices[path].inputs.clear();
    g_devices[path].removeNode(path);
    g_changed.notify_all();
}

void queueInput(const char* path, const unsigned char* data, size_t size)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_devices[path].push(std::vector<unsigned char>(data, data + size));
    g_changed.notify_all();
}

void setEcho(const char* path, bool echo)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_devices[path].echo = echo;
}

void failReads(const char* path, int count)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_devices[path].failReads = count;
}

void setWriteDelayMs(const char* path, int ms)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_devices[path].writeDelayMs = ms;
}

int writes(const char* path)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_devices[path].writes;
}

int64_t lastWriteNs(const char* path)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_devices[path].lastWriteNs;
}

int overlaps()
{
    return g_overlaps.load();
}

int openHandles()
{
    return g_handles.load();
}

void reset()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    for (auto& [path, d] : g_devices)
        d.removeNode(path);
    g_devices.clear();
    g_overlaps = 0;
}

} // namespace fakehidapi

extern "C" {

int hid_init(void)
{
    CallScope call(g_globalInCall);
    setError(&g_globalError, nullptr);
    return 0;
}

int hid_exit(void)
{
    CallScope call(g_globalInCall);
    setError(&g_globalError, nullptr);
    return 0;
}

struct hid_device_info* hid_enumerate(unsigned short vendor_id, unsigned short product_id)
{
    CallScope call(g_globalInCall);
    setError(&g_globalError, nullptr);
    std::lock_guard<std::mutex> lock(g_mutex);
    hid_device_info* first = nullptr;
    hid_device_info** next = &first;
    for (const auto& [path, d] : g_devices) {
        if (!d.present || (vendor_id && vendor_id != d.vendorId) || product_id)
            continue;
        auto* info = static_cast<hid_device_info*>(std::calloc(1, sizeof(hid_device_info)));
        info->path = strdup(path.c_str());
        info->vendor_id = d.vendorId;
        info->product_id = 1;
        info->interface_number = 0;
        info->manufacturer_string = copyOf(L"Vantory test");
        info->product_string = copyOf(L"stand-in reader");
        info->serial_number = copyOf(L"0001");
        *next = info;
        next = &info->next;
    }
    return first;
}

void hid_free_enumeration(struct hid_device_info* devs)
{
    while (devs) {
        hid_device_info* next = devs->next;
        std::free(devs->path);
        std::free(devs->manufacturer_string);
        std::free(devs->product_string);
        std::free(devs->serial_number);
        std::free(devs);
        devs = next;
    }
}

hid_device* hid_open_path(const char* path)
{
    CallScope call(g_globalInCall);
    setError(&g_globalError, nullptr);
    std::lock_guard<std::mutex> lock(g_mutex);
    const auto it = g_devices.find(path);
    if (it == g_devices.end() || !it->second.present) {
        setError(&g_globalError, L"No such device");
        return nullptr;
    }
    auto* dev = new hid_device_;
    dev->path = path;
    ++g_handles;
    return dev;
}

int hid_write(hid_device* dev, const unsigned char* data, size_t length)
{
    CallScope call(dev->inCall);
    setError(&dev->lastError, nullptr);
    int delayMs = 0;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        delayMs = g_devices[dev->path].writeDelayMs;
    }
    if (delayMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    std::lock_guard<std::mutex> lock(g_mutex);
    Device& d = g_devices[dev->path];
    if (!d.present || length < 1) {
        setError(&dev->lastError, L"Device not configured");
        return -1;
    }
    ++d.writes;
    const auto now = Clock::now();
    d.lastWriteNs =
        std::chrono::duration_cast<std::chrono::nanoseconds>(now.time_since_epoch()).count();
    if (d.echo)
        d.push(std::vector<unsigned char>(data + 1, data + length));
    g_changed.notify_all();
    return static_cast<int>(length);
}

int hid_read_timeout(hid_device* dev, unsigned char* data, size_t length, int milliseconds)
{
    CallScope call(dev->inCall);
    setError(&dev->lastError, nullptr);
    const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    std::unique_lock<std::mutex> lock(g_mutex);
    for (;;) {
        Device& d = g_devices[dev->path];
        if (!d.present) {
            setError(&dev->lastError, L"Device not configured");
            return -1;
        }
        if (d.failReads > 0) {
            --d.failReads;
            setError(&dev->lastError, L"Interrupted system call");
            return -1;
        }
        if (!d.inputs.empty()) {
            const std::vector<unsigned char> bytes = d.inputs.front();
            d.inputs.pop_front();
            const size_t n = std::min(length, bytes.size());
            std::memcpy(data, bytes.data(), n);
            return static_cast<int>(n);
        }
        if (g_changed.wait_until(lock, deadline) == std::cv_status::timeout) {
            // One last look, as poll() would report what came with its time-out.
            if (g_devices[dev->path].inputs.empty())
                return 0;
        }
    }
}

const wchar_t* hid_error(hid_device* dev)
{
    if (!dev) {
        CallScope call(g_globalInCall);
        return g_globalError ? g_globalError : L"Success";
    }
    CallScope call(dev->inCall);
    return dev->lastError ? dev->lastError : L"Success";
}

void hid_close(hid_device* dev)
{
    if (!dev)
        return;
    if (dev->inCall.load() != 0)
        ++g_overlaps;
    std::free(dev->lastError);
    delete dev;
    --g_handles;
}

} // extern "C"
