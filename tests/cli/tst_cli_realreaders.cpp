// The built vantory-cli, run as its own process without --simulate, on the real reader
// transports: hidapi is the stand-in libhidapi-hidraw.so.0 that the dynamic linker finds
// first on LD_LIBRARY_PATH, FEIG's library the stand-in libfeusb.so that the program finds
// next to itself. Behind each a simulated reader keeps its tags in files (standinfield.h),
// so the bytes a command left on a driver are checked after the process has ended.
#include "engine/writeplan.h"
#include "readers/sim/demodrivers.h"
#include "standin/standintags.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <sys/types.h>

using namespace standintags;

class TstCliRealReaders : public QObject
{
    Q_OBJECT
  private slots:
    void initTestCase();
    void command_data();
    void command();
    void secondInterrupt_recordsTheWriteAndLeaves_data();
    void secondInterrupt_recordsTheWriteAndLeaves();

  private:
    QTemporaryDir m_bin;
    QString m_cli;
};

void TstCliRealReaders::initTestCase()
{
    // The program and FEIG's library side by side, as a technician installs them.
    QVERIFY(m_bin.isValid());
    m_cli = m_bin.filePath(QStringLiteral("vantory-cli"));
    QVERIFY(QFile::copy(QStringLiteral(VANTORY_CLI_PATH), m_cli));
    QVERIFY(QFile::copy(QStringLiteral(STANDIN_FEUSB_PATH), m_bin.filePath("libfeusb.so")));
    QVERIFY(QFile::setPermissions(m_cli, QFile::permissions(m_cli) | QFile::ExeOwner));
}

void TstCliRealReaders::command_data()
{
    QTest::addColumn<QString>("reader");
    QTest::addColumn<QString>("command");
    for (const char* reader : {"r321", "feig"})
        for (const char* command : {"readers", "read", "write", "auto-write"})
            QTest::addRow("%s %s", reader, command) << reader << command;
}

void TstCliRealReaders::command()
{
    QFETCH(QString, reader);
    QFETCH(QString, command);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString config = dir.filePath(QStringLiteral("config.bin"));
    QVERIFY(writeFile(config, configuration()));
    const int drivers = command == QLatin1String("auto-write") ? 2 : 1;
    QStringList tagFiles;
    for (int i = 0; i < drivers; ++i) {
        tagFiles << dir.filePath(QStringLiteral("tag%1").arg(i));
        QVERIFY(writeTagFile(tagFiles.last(), uid(0x10 + i), driverOnLine()));
    }

    QStringList args{command};
    const QString saved = dir.filePath(QStringLiteral("saved.bin"));
    if (command == QLatin1String("read"))
        args << "--reader" << reader << "--json"
             << "-o" << saved;
    else if (command == QLatin1String("write"))
        args << config << "--reader" << reader << "--current"
             << QStringLiteral("1=%1").arg(kCurrent);
    else if (command == QLatin1String("auto-write"))
        args << config << "--reader" << reader << "--current"
             << QStringLiteral("1=%1").arg(kCurrent) << "--count" << QString::number(drivers);

    QProcess cli;
    QProcessEnvironment env = environmentFor(reader, tagFiles.join(QLatin1Char(':')));
    env.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("data")));
    cli.setProcessEnvironment(env);
    cli.start(m_cli, args);
    QVERIFY(cli.waitForFinished(60000));
    const QString out = QString::fromUtf8(cli.readAllStandardOutput());
    const QString err = QString::fromUtf8(cli.readAllStandardError());
    QVERIFY2(cli.exitStatus() == QProcess::NormalExit && cli.exitCode() == 0,
             qPrintable(QStringLiteral("exit %1\n%2\n%3").arg(cli.exitCode()).arg(out, err)));

    if (command == QLatin1String("readers")) {
        // Found through the transports the program was given, not a simulator of its own.
        QVERIFY2(out.contains(QStringLiteral("/dev/vantory-standin/hidraw1  R321 R321-0042")),
                 qPrintable(out));
        QVERIFY2(out.contains(QStringLiteral("library loaded, a reader answers")), qPrintable(out));
        QCOMPARE(tagMemory(tagFiles.first()), driverOnLine());
        return;
    }
    if (command == QLatin1String("read")) {
        const QJsonObject report = QJsonDocument::fromJson(out.toUtf8()).object();
        QCOMPARE(report.value("uid").toString(), QString::fromLatin1(uid(0x10).toHex()).toUpper());
        QCOMPARE(report.value("model").toString(), QStringLiteral("VDR-40-700 DALI-2 DT8 TW"));
        QCOMPARE(readFile(saved), driverOnLine());
        QCOMPARE(tagMemory(tagFiles.first()), driverOnLine()); // a read writes nothing
        return;
    }
    if (command == QLatin1String("write"))
        QVERIFY(out.contains(QStringLiteral("written ") + uid(0x10).toHex().toUpper()));
    else
        QCOMPARE(out.trimmed().split(QLatin1Char('\n')).last(),
                 QStringLiteral("2 written, 0 other model, 0 failed"));
    for (int i = 0; i < drivers; ++i)
        QVERIFY(holdsConfiguration(tagMemory(tagFiles.at(i))));

    // Writes go into the production record under XDG_DATA_HOME, never the user's own.
    const QDir records(dir.filePath(QStringLiteral("data/vantory/records")));
    const QStringList files = records.entryList(QDir::Files);
    QCOMPARE(files.size(), 1);
    const QString csv = QString::fromUtf8(readFile(records.filePath(files.first())));
    QCOMPARE(csv.count(QStringLiteral(",Written,")), drivers);
    for (int i = 0; i < drivers; ++i)
        QVERIFY(csv.contains(QString::fromLatin1(uid(0x10 + i).toHex()).toUpper()));
}

void TstCliRealReaders::secondInterrupt_recordsTheWriteAndLeaves_data()
{
    QTest::addColumn<QString>("reader");
    QTest::addColumn<int>("signal");
    QTest::newRow("r321, Ctrl-C twice") << "r321" << int(SIGINT);
    QTest::newRow("feig, SIGTERM twice") << "feig" << int(SIGTERM);
}

// A second Ctrl-C while a driver is written: the write is recorded as interrupted, and
// the program leaves at once instead of finishing it.
void TstCliRealReaders::secondInterrupt_recordsTheWriteAndLeaves()
{
    QFETCH(QString, reader);
    QFETCH(int, signal);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString config = dir.filePath(QStringLiteral("config.bin"));
    QVERIFY(writeFile(config, configuration()));
    const QString tag = dir.filePath(QStringLiteral("tag"));
    QVERIFY(writeTagFile(tag, uid(0x20), driverOnLine()));

    QProcess cli;
    QProcessEnvironment env = environmentFor(reader, tag);
    env.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("data")));
    cli.setProcessEnvironment(env);
    cli.start(m_cli, {QStringLiteral("write"), config, QStringLiteral("--reader"), reader,
                      QStringLiteral("--current"), QStringLiteral("1=%1").arg(kCurrent)});
    QVERIFY(cli.waitForStarted());
    // The first block of the drive area has reached the tag: the write is under way.
    QTRY_VERIFY_WITH_TIMEOUT(tagMemory(tag) != driverOnLine(), 20000);
    QElapsedTimer clock;
    clock.start();
    ::kill(pid_t(cli.processId()), signal);
    QTest::qWait(20);
    ::kill(pid_t(cli.processId()), signal);
    QVERIFY(cli.waitForFinished(5000));
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(cli.exitCode(), 128 + signal);

    const QDir records(dir.filePath(QStringLiteral("data/vantory/records")));
    const QStringList files = records.entryList(QDir::Files);
    QCOMPARE(files.size(), 1);
    const QList<QByteArray> lines = readFile(records.filePath(files.first())).trimmed().split('\n');
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines.last().contains(signal == SIGINT ? ",Interrupted (SIGINT),"
                                                    : ",Interrupted (SIGTERM),"),
             lines.last().constData());
}

QTEST_GUILESS_MAIN(TstCliRealReaders)
#include "tst_cli_realreaders.moc"
