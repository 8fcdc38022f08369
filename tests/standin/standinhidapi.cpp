// A stand-in for hidapi 0.13 (hidraw), built as libhidapi-hidraw.so.0 so that the program
// loads it through the dynamic linker in place of the real one. Behind it: a keyboard and
// two simulated R321s with their own serial numbers, whose tags come from files
// (standinfield.h): VANTORY_STANDIN_R321_TAGS for the first, ..._TAGS_2 for the second.
// Only the hidapi entry points are exported.
#include "readers/sim/simr321.h"
#include "standinfield.h"

#include <hidapi/hidapi.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <mutex>
#include <string>

#define STANDIN_EXPORT extern "C" __attribute__((visibility("default")))

class StandinR321;

struct hid_device_ {
    QString path;
    StandinR321* r321 = nullptr;
    bool nonblocking = false;
    std::wstring error;
    bool hasError = false;
};

namespace
{

constexpr unsigned short kKeyboardVendor = 0x046D;
constexpr int kReportSize = 64;

} // namespace

// One reader: its field and the simulated R321 answering from it.
class StandinR321
{
  public:
    StandinR321(const char* tagVariable, const QString& node, const QString& serial)
        : field(tagVariable, SimReaderKind::R321), sim(field.field())
    {
        HidInterfaceInfo reader = SimR321::defaultInterface();
        reader.path = node;
        reader.product = QStringLiteral("R321");
        reader.serial = serial;
        sim.setInterfaces({reader});
    }
    StandinField field;
    SimR321 sim;
};

namespace
{

struct Devices {
    StandinR321 first{"VANTORY_STANDIN_R321_TAGS", QStringLiteral("/dev/vantory-standin/hidraw1"),
                      QStringLiteral("R321-0042")};
    StandinR321 second{"VANTORY_STANDIN_R321_TAGS_2",
                       QStringLiteral("/dev/vantory-standin/hidraw2"), QStringLiteral("R321-0043")};
    HidInterfaceInfo keyboard;
    std::mutex mutex; // hidapi's global state: the device list and its error string
    std::wstring error;
    bool hasError = false;
    Devices()
    {
        // As hidraw lists them: another HID device first, the reader's interface after it.
        keyboard.path = QStringLiteral("/dev/vantory-standin/hidraw0");
        keyboard.vendorId = kKeyboardVendor;
        keyboard.productId = 0xC31C;
        keyboard.releaseNumber = 0x6400;
        keyboard.interfaceNumber = 0;
        keyboard.manufacturer = QStringLiteral("Logitech");
        keyboard.product = QStringLiteral("USB Keyboard");
    }
    /// As hidraw lists them: another HID device first, the readers plugged in after it.
    QVector<HidInterfaceInfo> listed()
    {
        QVector<HidInterfaceInfo> list{keyboard};
        for (StandinR321* r : {&first, &second}) {
            r->field.followPlug();
            list += r->sim.enumerate();
        }
        return list;
    }
    StandinR321* readerAt(const QString& path)
    {
        for (StandinR321* r : {&first, &second})
            for (const HidInterfaceInfo& i : r->sim.interfaces())
                if (i.path == path)
                    return r;
        return nullptr;
    }
};

// Made on first use and never destroyed: the program may call in while it exits.
Devices& devices()
{
    static Devices* d = new Devices;
    return *d;
}

wchar_t* wideCopy(const QString& s)
{
    const std::wstring w = s.toStdWString();
    auto* out = static_cast<wchar_t*>(std::calloc(w.size() + 1, sizeof(wchar_t)));
    std::wmemcpy(out, w.c_str(), w.size());
    return out;
}

void setGlobalError(const wchar_t* text)
{
    Devices& d = devices();
    std::lock_guard<std::mutex> lock(d.mutex);
    d.error = text;
    d.hasError = true;
}

void setError(hid_device* dev, const wchar_t* text)
{
    dev->error = text;
    dev->hasError = true;
}

int copyString(const QString& s, wchar_t* string, size_t maxlen)
{
    if (!string || maxlen == 0)
        return -1;
    const std::wstring w = s.toStdWString();
    std::wcsncpy(string, w.c_str(), maxlen);
    string[maxlen - 1] = L'\0';
    return 0;
}

HidInterfaceInfo infoFor(const QString& path, bool* found)
{
    Devices& d = devices();
    QVector<HidInterfaceInfo> all{d.keyboard};
    all += d.first.sim.interfaces() + d.second.sim.interfaces();
    for (const HidInterfaceInfo& i : all)
        if (i.path == path) {
            *found = true;
            return i;
        }
    *found = false;
    return {};
}

} // namespace

STANDIN_EXPORT int hid_init(void)
{
    devices();
    return 0;
}

STANDIN_EXPORT int hid_exit(void)
{
    return 0;
}

STANDIN_EXPORT struct hid_device_info* hid_enumerate(unsigned short vendor_id,
                                                     unsigned short product_id)
{
    hid_device_info* first = nullptr;
    hid_device_info** tail = &first;
    for (const HidInterfaceInfo& i : devices().listed()) {
        if ((vendor_id && i.vendorId != vendor_id) || (product_id && i.productId != product_id))
            continue;
        auto* info = static_cast<hid_device_info*>(std::calloc(1, sizeof(hid_device_info)));
        info->path = strdup(i.path.toLocal8Bit().constData());
        info->vendor_id = i.vendorId;
        info->product_id = i.productId;
        info->serial_number = wideCopy(i.serial);
        info->release_number = i.releaseNumber;
        info->manufacturer_string = wideCopy(i.manufacturer);
        info->product_string = wideCopy(i.product);
        info->usage_page = i.vendorId == kKeyboardVendor ? 0x01 : 0xFF00;
        info->usage = i.vendorId == kKeyboardVendor ? 0x06 : 0x01;
        info->interface_number = i.interfaceNumber;
        info->bus_type = HID_API_BUS_USB;
        *tail = info;
        tail = &info->next;
    }
    if (!first)
        setGlobalError(L"No HID devices found in the system.");
    return first;
}

STANDIN_EXPORT void hid_free_enumeration(struct hid_device_info* devs)
{
    while (devs) {
        hid_device_info* next = devs->next;
        std::free(devs->path);
        std::free(devs->serial_number);
        std::free(devs->manufacturer_string);
        std::free(devs->product_string);
        std::free(devs);
        devs = next;
    }
}

STANDIN_EXPORT hid_device* hid_open_path(const char* path)
{
    bool found = false;
    const HidInterfaceInfo info = infoFor(QString::fromLocal8Bit(path ? path : ""), &found);
    if (!found) {
        setGlobalError(L"Failed to open a device with path: No such file or directory");
        return nullptr;
    }
    auto* dev = new hid_device_;
    dev->path = info.path;
    dev->r321 = devices().readerAt(info.path);
    if (dev->r321)
        dev->r321->field.followPlug();
    if (dev->r321 && !dev->r321->sim.open(info.path)) {
        delete dev;
        setGlobalError(L"Failed to open a device with path: Device or resource busy");
        return nullptr;
    }
    return dev;
}

STANDIN_EXPORT hid_device* hid_open(unsigned short vendor_id, unsigned short product_id,
                                    const wchar_t* serial_number)
{
    for (const HidInterfaceInfo& i : devices().listed())
        if (i.vendorId == vendor_id && i.productId == product_id &&
            (!serial_number || i.serial.toStdWString() == serial_number))
            return hid_open_path(i.path.toLocal8Bit().constData());
    setGlobalError(L"No HID devices with requested VID/PID/SerialNumber found in the system.");
    return nullptr;
}

STANDIN_EXPORT int hid_write(hid_device* dev, const unsigned char* data, size_t length)
{
    if (!dev || !data || length == 0)
        return -1;
    // hidraw: the first byte is the report ID, 0 for a device without numbered reports,
    // and is not sent; the reader's output report is 64 bytes.
    if (data[0] != 0 || length > size_t(kReportSize + 1)) {
        setError(dev, L"Invalid argument");
        return -1;
    }
    if (!dev->r321)
        return int(length);
    StandinR321& r = *dev->r321;
    r.field.beforeRequest();
    const int n = r.sim.write(QByteArray(reinterpret_cast<const char*>(data), int(length))
                                  .leftJustified(kReportSize + 1, '\0'));
    r.field.afterRequest(r.sim.beeperOn());
    if (n < 0) {
        setError(dev, L"No such device");
        return -1;
    }
    dev->hasError = false;
    return int(length);
}

STANDIN_EXPORT int hid_read_timeout(hid_device* dev, unsigned char* data, size_t length,
                                    int milliseconds)
{
    if (!dev || !data)
        return -1;
    if (!dev->r321) {
        // The keyboard sends nothing here.
        return 0;
    }
    QByteArray report;
    int n = 0;
    SimR321& sim = dev->r321->sim;
    dev->r321->field.followPlug();
    if (milliseconds < 0) {
        while ((n = sim.read(&report, 1000)) == 0) {
        }
    } else {
        n = sim.read(&report, milliseconds);
    }
    if (n < 0) {
        setError(dev, L"No such device");
        return -1;
    }
    dev->hasError = false;
    if (n == 0)
        return 0;
    // Without numbered reports the report comes without an ID byte.
    const size_t copied = std::min(length, size_t(report.size()));
    std::memcpy(data, report.constData(), copied);
    return int(copied);
}

STANDIN_EXPORT int hid_read(hid_device* dev, unsigned char* data, size_t length)
{
    return hid_read_timeout(dev, data, length, dev && dev->nonblocking ? 0 : -1);
}

STANDIN_EXPORT int hid_set_nonblocking(hid_device* dev, int nonblock)
{
    if (!dev)
        return -1;
    dev->nonblocking = nonblock != 0;
    return 0;
}

STANDIN_EXPORT int hid_send_feature_report(hid_device* dev, const unsigned char*, size_t)
{
    if (dev)
        setError(dev, L"Broken pipe");
    return -1;
}

STANDIN_EXPORT int hid_get_feature_report(hid_device* dev, unsigned char*, size_t)
{
    if (dev)
        setError(dev, L"Broken pipe");
    return -1;
}

STANDIN_EXPORT int hid_get_input_report(hid_device* dev, unsigned char*, size_t)
{
    if (dev)
        setError(dev, L"hid_get_input_report: not supported");
    return -1;
}

STANDIN_EXPORT void hid_close(hid_device* dev)
{
    if (!dev)
        return;
    if (dev->r321)
        dev->r321->sim.close();
    delete dev;
}

STANDIN_EXPORT int hid_get_manufacturer_string(hid_device* dev, wchar_t* string, size_t maxlen)
{
    bool found = false;
    const HidInterfaceInfo i = dev ? infoFor(dev->path, &found) : HidInterfaceInfo{};
    return found ? copyString(i.manufacturer, string, maxlen) : -1;
}

STANDIN_EXPORT int hid_get_product_string(hid_device* dev, wchar_t* string, size_t maxlen)
{
    bool found = false;
    const HidInterfaceInfo i = dev ? infoFor(dev->path, &found) : HidInterfaceInfo{};
    return found ? copyString(i.product, string, maxlen) : -1;
}

STANDIN_EXPORT int hid_get_serial_number_string(hid_device* dev, wchar_t* string, size_t maxlen)
{
    bool found = false;
    const HidInterfaceInfo i = dev ? infoFor(dev->path, &found) : HidInterfaceInfo{};
    return found ? copyString(i.serial, string, maxlen) : -1;
}

STANDIN_EXPORT int hid_get_indexed_string(hid_device* dev, int, wchar_t*, size_t)
{
    if (dev)
        setError(dev, L"hid_get_indexed_string: not supported");
    return -1;
}

// As hidapi 0.13: NULL while no error has happened.
STANDIN_EXPORT const wchar_t* hid_error(hid_device* dev)
{
    if (dev)
        return dev->hasError ? dev->error.c_str() : nullptr;
    Devices& d = devices();
    std::lock_guard<std::mutex> lock(d.mutex);
    return d.hasError ? d.error.c_str() : nullptr;
}

STANDIN_EXPORT const struct hid_api_version* hid_version(void)
{
    static const hid_api_version version{0, 13, 1};
    return &version;
}

STANDIN_EXPORT const char* hid_version_str(void)
{
    return "0.13.1";
}
