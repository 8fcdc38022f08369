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

QTEST_GUILESS_MAIN(TstEngineHeadless)
#include "tst_engine_headless.moc"
