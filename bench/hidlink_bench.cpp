// The R321 link over HidapiBackend with the stand-in hidapi of the tests: how long a
// command takes from Hid_Write to hid_write, and what the connected, idle link costs in
// CPU. The stand-in also counts hidapi calls on the handle that overlapped.
#include "readers/hidapibackend.h"
#include "readers/myhid.h"
#include "tests/readers/fakehidapi.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace
{

const QByteArray kPath = "/tmp/vantory-bench-hidraw-" + QByteArray::number(getpid());

qint64 nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double cpuSeconds()
{
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return double(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
           double(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v.at(std::min(v.size() - 1, size_t(p * double(v.size()))));
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const bool quick = app.arguments().contains(QStringLiteral("--quick"));
    const int commands = quick ? 100 : 1000;
    const int idleMs = quick ? 1000 : 5000;

    // --no-node: no device node to wait on, as with hidapi's libusb or Windows back-ends.
    fakehidapi::plug(kPath.constData(), myhid::R321VendorId,
                     !app.arguments().contains(QStringLiteral("--no-node")));
    fakehidapi::setEcho(kPath.constData(), true);
    HidapiBackend backend;
    myhid hid(&backend);
    std::atomic<int> replies{0};
    QObject::connect(hid.readThread(), &readThreadEP1::hidDevReceive, [&] { ++replies; });
    hid.Connect();
    if (!hid.Is_Connected()) {
        std::printf("HID link: cannot connect the stand-in reader\n");
        return 1;
    }

    // As the engine does: the next command goes out on a tick shortly after the reply.
    std::vector<double> latencyMs;
    for (int i = 0; i < commands; ++i) {
        const int before = replies.load();
        const qint64 sent = nowNs();
        if (!hid.Hid_Write(QByteArray(64, char(i)))) {
            std::printf("HID link: command %d refused\n", i);
            return 1;
        }
        QDeadlineTimer deadline(2000);
        while (replies.load() == before || hid.isWriteBusy()) {
            if (deadline.hasExpired()) {
                std::printf("HID link: no reply to command %d\n", i);
                return 1;
            }
            QThread::usleep(50);
        }
        latencyMs.push_back(double(fakehidapi::lastWriteNs(kPath.constData()) - sent) / 1e6);
        QThread::usleep(QRandomGenerator::global()->bounded(1000));
    }

    const double cpu0 = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QThread::msleep(idleMs);
    const double idlePercent = 100.0 * (cpuSeconds() - cpu0) / (double(wall.nsecsElapsed()) / 1e9);

    double sum = 0;
    for (double v : latencyMs)
        sum += v;
    std::printf("HID link over hidapi (stand-in library), %d commands\n", commands);
    std::printf(
        "  command -> report on the wire: median %.3f ms, mean %.3f, 95 %% %.3f, max %.3f\n",
        percentile(latencyMs, 0.5), sum / double(latencyMs.size()), percentile(latencyMs, 0.95),
        percentile(latencyMs, 1.0));
    std::printf("  idle link, reader connected: %.2f %% of one core over %.1f s\n", idlePercent,
                idleMs / 1000.0);
    std::printf("  hidapi calls on one handle that overlapped: %d\n", fakehidapi::overlaps());
    fakehidapi::reset();
    return 0;
}
