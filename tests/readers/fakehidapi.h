#pragma once

// Controls of the stand-in hidapi library (fakehidapi.cpp) that tests and the HID link
// benchmark link in place of the real one. One simulated device per path.
#include <cstddef>
#include <cstdint>

namespace fakehidapi
{

/// Lists a device at `path` (plugged in), or plugs it back. With `node`, `path` becomes a
/// FIFO that receives 65 bytes for every input report, as a second reader of a hidraw node
/// would see each report.
void plug(const char* path, unsigned short vendorId, bool node = true);
/// Unplugs it: it leaves the list, its node goes, and every call on its handles fails.
void unplug(const char* path);
/// Queues one input report for the device's handles.
void queueInput(const char* path, const unsigned char* data, size_t size);
/// Every output report comes back at once as an input report (without its report ID).
void setEcho(const char* path, bool echo);
/// The next `count` reads fail as an interrupted wait would (device still there).
void failReads(const char* path, int count);
/// Each write takes this long, as a reader that is slow to take its output report.
void setWriteDelayMs(const char* path, int ms);
/// Output reports accepted so far.
int writes(const char* path);
/// steady_clock time (ns since its epoch) at which the last output report was taken.
int64_t lastWriteNs(const char* path);
/// Calls on one handle (or global calls) that ran at the same time, since the last reset.
int overlaps();
/// Handles opened and not yet closed.
int openHandles();
/// Forgets every device and the counters.
void reset();

} // namespace fakehidapi
