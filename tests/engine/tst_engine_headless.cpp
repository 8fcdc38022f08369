// The engine on its own: no window, no QApplication, only the engine library and the
// simulated readers. A Read fills the image, a Write sends it back.
#include "engine/tagengine.h"
#include "readers/sim/demodrivers.h"
#include "readers/sim/readerfield.h"
#include "readers/sim/simfeig.h"
#include "readers/sim/simr321.h"

#include <QtTest>

class TstEngineHeadless : public QObject
{
    Q_OBJECT
  private slots:
    void readThenWrite_data();
    void readThenWrite();
    void twoSessions_data();
    void twoSessions();
};

void TstEngineHeadless::readThenWrite_data()
{
    QTest::addColumn<int>("reader");
    QTest::newRow("FEIG") << 1;
    QTest::newRow("R321") << 2;
}

void TstEngineHeadless::readThenWrite()
{
    QFETCH(int, reader);
    QCOMPARE(QCoreApplication::instance()->metaObject()->className(), "QCoreApplication");
    ReaderField field;
    SimR321 r321(&field);
    SimFeig feig(&field);
    const auto tag = demodrivers::makeTag(demodrivers::Kind::Dt8, 0x77);
    field.layTag(tag);

    TagEngine engine(&r321, &feig);
    const TagImage& image = engine.document().image();
    QVector<uint8_t> tips;
    connect(&engine, &TagEngine::resultTip, this,
            [&](ResultTip tip, bool) { tips << uint8_t(tip); });
    QVERIFY(engine.connectReader(ReaderType(reader)));
    QVERIFY(engine.readerConnected());
    QTest::qWait(50);

    engine.startRead();
    QTRY_VERIFY(tips.contains(3)); // Read successfully
    QTRY_VERIFY(engine.idle());
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(image.image_v2.data()), 512),
             tag->memory().left(512));
    QCOMPARE(engine.uidMsbFirst(), tag->uidMsbFirst());

    engine.document().setChannelCurrent(0, 480);
    engine.startWrite();
    QTRY_VERIFY(tips.contains(5)); // Write successfully
    QCOMPARE(uint8_t(tag->memory().at(264)), uint8_t(480 >> 8));
    QCOMPARE(uint8_t(tag->memory().at(265)), uint8_t(480 & 0xFF));
}

void TstEngineHeadless::twoSessions_data()
{
    // Each session has a transport of its own that lists `listed` readers (identities
    // separated by '+'); it asks for `wants` (empty: the first of its kind nobody holds).
    QTest::addColumn<int>("reader");
    QTest::addColumn<QString>("listed");
    QTest::addColumn<QStringList>("wants");
    QTest::addColumn<QStringList>("gets"); // the identity connected; "in use": refused
    QTest::newRow("two R321 by identity")
        << 2 << "SIM-A+SIM-B" << QStringList{"SIM-B", "SIM-A"} << QStringList{"SIM-B", "SIM-A"};
    QTest::newRow("two R321, the first free each")
        << 2 << "SIM-A+SIM-B" << QStringList{"", ""} << QStringList{"SIM-A", "SIM-B"};
    QTest::newRow("one R321 asked for twice")
        << 2 << "SIM-A+SIM-B" << QStringList{"SIM-A", "SIM-A"} << QStringList{"SIM-A", "in use"};
    QTest::newRow("the first free, the other one asked for")
        << 2 << "SIM-A" << QStringList{"", "SIM-A"} << QStringList{"SIM-A", "in use"};
    QTest::newRow("two FEIG by device ID")
        << 1 << "0000000A+0000000B" << QStringList{"0000000b", "0000000A"}
        << QStringList{"0000000B", "0000000A"};
    QTest::newRow("one FEIG asked for twice")
        << 1 << "0000000A+0000000B" << QStringList{"0000000A", "0000000A"}
        << QStringList{"0000000A", "in use"};
}

// Two sessions in one program never open the same reader: each gets the one it asks for,
// or the first nobody holds, and a reader held already is refused as in use.
void TstEngineHeadless::twoSessions()
{
    QFETCH(int, reader);
    QFETCH(QString, listed);
    QFETCH(QStringList, wants);
    QFETCH(QStringList, gets);
    ReaderField field;
    const QStringList ids = listed.split(QLatin1Char('+'));
    std::vector<std::unique_ptr<SimR321>> hid;
    std::vector<std::unique_ptr<SimFeig>> feig;
    std::vector<std::unique_ptr<TagEngine>> engines;
    for (int i = 0; i < 2; ++i) {
        hid.push_back(std::make_unique<SimR321>(&field));
        QVector<HidInterfaceInfo> interfaces;
        for (const QString& id : ids) {
            HidInterfaceInfo info = SimR321::defaultInterface();
            info.serial = id;
            info.path = QStringLiteral("/dev/sim-") + id;
            interfaces << info;
        }
        hid.back()->setInterfaces(interfaces);
        // A FEIG transport per reader: session i's library knows reader i, or the one asked for.
        feig.push_back(std::make_unique<SimFeig>(&field, SimFeig::HandleBase + i * 0x1000));
        feig.back()->setDeviceId(wants.at(i).isEmpty() ? ids.value(i) : wants.at(i));
        engines.push_back(std::make_unique<TagEngine>(hid.back().get(), feig.back().get()));
    }
    for (int i = 0; i < 2; ++i) {
        QString inUse;
        connect(engines.at(i).get(), &TagEngine::readerInUse, this,
                [&inUse](const QString& id) { inUse = id.isEmpty() ? QStringLiteral("?") : id; });
        const bool connected =
            engines.at(i)->connectReader(ReaderChoice{ReaderType(reader), wants.at(i)});
        if (gets.at(i) == QLatin1String("in use")) {
            QVERIFY(!connected);
            QVERIFY(!inUse.isEmpty());
        } else {
            QVERIFY2(connected, qPrintable(gets.at(i)));
            QCOMPARE(engines.at(i)->readerIdentity(), gets.at(i));
        }
    }
}

QTEST_GUILESS_MAIN(TstEngineHeadless)
#include "tst_engine_headless.moc"
