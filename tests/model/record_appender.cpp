// A second program that appends to the production record: started twice at once by
// test_configfile to show that programs sharing a day file never spoil it.
// Usage: record_appender FOLDER NAME LINES DAYS START_MS
#include "model/productionrecord.h"

#include <QCoreApplication>
#include <QThread>
#include <chrono>
#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 6)
        return 2;
    const QString folder = args.at(1);
    const QString name = args.at(2);
    const int lines = args.at(3).toInt();
    const int days = std::max(1, args.at(4).toInt());
    const qint64 start = args.at(5).toLongLong();
    // Both programs begin each day's file at the same moment, to the microsecond where the
    // system allows, so that they create it together; then each adds its other lines.
    using namespace std::chrono;
    const auto startAt = system_clock::time_point(milliseconds(start));
    for (int i = 0; i < lines; ++i) {
        if (i < days) {
            const auto at = startAt + microseconds(4000) * i;
            while (system_clock::now() < at - microseconds(500))
                QThread::usleep(100);
            while (system_clock::now() < at) {
            }
        }
        record::Entry e;
        e.time = QStringLiteral("2031-01-01T00:00:00+00:00");
        e.program = QStringLiteral("appender");
        e.result = QStringLiteral("Written");
        e.source = QStringLiteral("%1-%2").arg(name).arg(i);
        e.day = QDate(2031, 1, 1).addDays(i % days);
        const QString error = record::appendLine(folder, e);
        if (!error.isEmpty()) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
    }
    return 0;
}
