// vantory-cli's commands run in this process against simulated readers, as a script
// would run them: output, files and exit codes.
#include "cli/clirunner.h"
#include "readers/sim/demodrivers.h"
#include "readers/sim/readerfield.h"
#include "readers/sim/simfeig.h"
#include "readers/sim/simr321.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

namespace
{

struct Cli {
    ReaderField field;
    SimR321 r321{&field};
    SimFeig feig{&field};
    QString out;
    QString err;
    QString recordDir;

    int run(const QStringList& args, bool cycle = false)
    {
        out.clear();
        err.clear();
        QTextStream o(&out);
        QTextStream e(&err);
        cli::Environment env;
        env.hid = &r321;
        env.feusb = &feig;
        env.field = cycle ? &field : nullptr;
        env.out = &o;
        env.err = &e;
        env.recordDir = recordDir;
        return cli::run(args, env);
    }
};

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TstCli : public QObject
{
    Q_OBJECT
  private slots:
    void readInfoWriteReadBack_data();
    void readInfoWriteReadBack();
    void autoWrite_countThree();
    void write_verifiedOrNot_data();
    void write_verifiedOrNot();
    void failures_exitCodes_data();
    void failures_exitCodes();
};

void TstCli::readInfoWriteReadBack_data()
{
    QTest::addColumn<QString>("reader");
    QTest::newRow("R321") << "r321";
    QTest::newRow("FEIG") << "feig";
}

void TstCli::readInfoWriteReadBack()
{
    QFETCH(QString, reader);
    QTemporaryDir dir;
    const QString saved = dir.filePath(QStringLiteral("first.bin"));
    Cli c;
    const auto first = demodrivers::makeTag(demodrivers::Kind::Dt8, 1);
    c.field.layTag(first);
    QCOMPARE(c.run({"read", "--reader", reader, "--json", "-o", saved}), int(cli::Ok));
    const QJsonObject report = QJsonDocument::fromJson(c.out.toUtf8()).object();
    QCOMPARE(report.value("model").toString(), QStringLiteral("VDR-40-700 DALI-2 DT8 TW"));
    QCOMPARE(report.value("uid").toString(),
             QString::fromLatin1(first->uidMsbFirst().toHex()).toUpper());
    QCOMPARE(fileBytes(saved), first->memory().left(512));

    QCOMPARE(c.run({"info", saved}), int(cli::Ok));
    QVERIFY(c.out.contains(QStringLiteral("Colour temperature  2700-6500 K")));

    // A second driver of the same model with other settings gets the first one's.
    c.field.clear();
    const auto second = demodrivers::makeTag(demodrivers::Kind::Dt8, 2);
    c.field.layTag(second);
    QCOMPARE(c.run({"write", saved, "--reader", reader, "--current", "1=480"}), int(cli::Ok));
    QCOMPARE(c.run({"read", "--reader", reader, "--json"}), int(cli::Ok));
    const QJsonObject back = QJsonDocument::fromJson(c.out.toUtf8()).object();
    QCOMPARE(back.value("channels").toArray().at(0).toObject().value("current_mA").toInt(), 480);
    QByteArray expected = first->memory().left(512);
    expected[264] = char(480 >> 8);
    expected[265] = char(480 & 0xFF);
    // Bytes the write does not own may differ (the last-current word follows channel 1).
    QCOMPARE(second->memory().mid(256, 234), expected.mid(256, 234));
}

void TstCli::autoWrite_countThree()
{
    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("c.bin"));
    QFile f(config);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(demodrivers::memory(demodrivers::Kind::Dt8));
    f.close();
    Cli c;
    c.recordDir = dir.filePath(QStringLiteral("records"));
    c.field.layTag(demodrivers::makeTag(demodrivers::Kind::Dt8, 9));
    QCOMPARE(c.run({"auto-write", config, "--count", "3"}, true), int(cli::Ok));
    QCOMPARE(c.out.count(QStringLiteral("  written")), 3);
    QVERIFY(c.out.contains(QStringLiteral("3/3")));
    // The production record has the three drivers, as the window would write them.
    const QStringList files = QDir(c.recordDir).entryList(QDir::Files);
    QCOMPARE(files.size(), 1);
    const QString csv = QString::fromUtf8(fileBytes(QDir(c.recordDir).filePath(files.first())));
    QCOMPARE(csv.count(QStringLiteral(",Auto write,")), 3);
    QCOMPARE(csv.count(QStringLiteral(",Written,")), 3);
    QCOMPARE(csv.count(QStringLiteral(",c.bin,")), 3); // the template is the file
}

void TstCli::write_verifiedOrNot_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("dropBlock"); // the tag keeps block 101's old bytes
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("reads"); // the Read's 12 block reads, then the read-back's
    QTest::addColumn<QString>("verified");
    QTest::newRow("verified") << QStringList{} << false << int(cli::Ok) << 12 + 6 << "yes";
    QTest::newRow("no verify") << QStringList{"--no-verify"} << false << int(cli::Ok) << 12
                               << "off";
    QTest::newRow("block dropped") << QStringList{} << true << int(cli::TagError) << 12 + 6 << "no";
    QTest::newRow("dropped, no verify")
        << QStringList{"--no-verify"} << true << int(cli::Ok) << 12 << "off";
}

void TstCli::write_verifiedOrNot()
{
    QFETCH(QStringList, options);
    QFETCH(bool, dropBlock);
    QFETCH(int, code);
    QFETCH(int, reads);
    QFETCH(QString, verified);
    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("c.bin"));
    QFile f(config);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QByteArray image = demodrivers::memory(demodrivers::Kind::Dt8).left(512);
    image[101 * 4] = char(image.at(101 * 4) ^ 0x5A); // differs from what the driver holds
    f.write(image);
    f.close();
    Cli c;
    c.recordDir = dir.filePath(QStringLiteral("records"));
    const auto tag = demodrivers::makeTag(demodrivers::Kind::Dt8, 5);
    if (dropBlock)
        tag->dropNextWriteOf(101);
    c.field.layTag(tag);
    QCOMPARE(c.run(QStringList{"write", config, "--reader", "r321"} + options), code);
    if (code != int(cli::Ok))
        QCOMPARE(c.err, QStringLiteral("vantory-cli: verify failed at block 101\n"));
    int readCommands = 0;
    for (const SimCommandRecord& r : c.field.commandLog())
        readCommands += r.isoCommand == 0x23 ? 1 : 0;
    QCOMPARE(readCommands, reads);
    const QStringList files = QDir(c.recordDir).entryList(QDir::Files);
    QCOMPARE(files.size(), 1);
    const QStringList lines =
        QString::fromUtf8(fileBytes(QDir(c.recordDir).filePath(files.first())))
            .split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines.last().split(QLatin1Char(',')).at(16), verified);
}

void TstCli::failures_exitCodes_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("setup");
    QTest::addColumn<int>("code");
    QTest::newRow("bad arguments")
        << QStringList{"read", "--bogus"} << "" << int(cli::BadArguments);
    QTest::newRow("current out of range")
        << QStringList{"write", "@config", "--current", "1=900"} << "" << int(cli::BadArguments);
    QTest::newRow("no reader") << QStringList{"read", "--reader", "r321"} << "unplug"
                               << int(cli::NoReader);
    QTest::newRow("no tag") << QStringList{"read", "--reader", "feig"} << "empty"
                            << int(cli::NoTag);
    QTest::newRow("tag error") << QStringList{"read", "--reader", "feig"} << "fail"
                               << int(cli::TagError);
    QTest::newRow("other model") << QStringList{"write", "@config"} << "other"
                                 << int(cli::OtherModel);
    QTest::newRow("bad file") << QStringList{"info", "@short"} << "" << int(cli::BadFile);
}

void TstCli::failures_exitCodes()
{
    QFETCH(QStringList, args);
    QFETCH(QString, setup);
    QFETCH(int, code);
    QTemporaryDir dir;
    const auto make = [&](const char* name, const QByteArray& bytes) {
        QFile f(dir.filePath(QLatin1String(name)));
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
        return f.fileName();
    };
    args.replaceInStrings(QStringLiteral("@config"),
                          make("config.bin", demodrivers::memory(demodrivers::Kind::Dt8)));
    args.replaceInStrings(QStringLiteral("@short"), make("short.bin", QByteArray(100, '\0')));
    Cli c;
    c.field.layTag(demodrivers::makeTag(
        setup == QLatin1String("other") ? demodrivers::Kind::OtherModel : demodrivers::Kind::Dt8,
        3));
    if (setup == QLatin1String("unplug"))
        c.field.setUnplugged(SimReaderKind::R321, true);
    if (setup == QLatin1String("empty"))
        c.field.clear();
    if (setup == QLatin1String("fail"))
        c.field.armReplyFault(SimReplyFault::BadCrc, 1, 1); // a damaged read reply
    QCOMPARE(c.run(args), code);
    QVERIFY(!c.err.isEmpty());
}

QTEST_GUILESS_MAIN(TstCli)
#include "tst_cli.moc"
