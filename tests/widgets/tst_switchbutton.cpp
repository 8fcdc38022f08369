#include "widgets/switchbutton.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

class TstSwitchButton : public QObject
{
    Q_OBJECT
  private slots:
    void defaults();
    void click_50x20_stepsToThirtyInSixTicks();
    void click_timerDriven_reachesEndAndStops();
    void ticks_overshootOneFrameThenSnap();
    void click_duringMovement_reversesFromCurrentPlace();
    void setChecked_startsMovementWithoutSignal();
    void setChecked_sameValue_stillMoves();
    void animationOff_clickJumpsAtOnce();
    void animationOff_setCheckedJumpsAtOnce();
    void narrowSwitch_snapsInsteadOfTickingForever();
    void setters_storeValues();
    void paint_onAndOffAndDisabled();
};

void TstSwitchButton::defaults()
{
    switchbutton sw;
    QVERIFY(!sw.isChecked());
    QCOMPARE(sw.space(), 2);
    QCOMPARE(sw.radius(), 5);
    QVERIFY(sw.animation());
    QVERIFY(!sw.showText());
    QVERIFY(!sw.showCircle());
    QCOMPARE(sw.bgColorOn(), QColor(26, 110, 217));
    QCOMPARE(sw.bgColorOff(), QColor(190, 190, 190));
    QCOMPARE(sw.sliderColorOn(), QColor(255, 255, 255));
    QCOMPARE(sw.textColor(), QColor(255, 255, 255));
    QCOMPARE(sw.textOn(), QStringLiteral("ON"));
    QCOMPARE(sw.textOff(), QStringLiteral("OFF"));
    QCOMPARE(sw.startX(), 0);
    QCOMPARE(sw.endX(), 0);
    QVERIFY(!sw.isMoving());
}

void TstSwitchButton::click_50x20_stepsToThirtyInSixTicks()
{
    switchbutton sw;
    sw.resize(50, 20);
    QSignalSpy spy(&sw, &switchbutton::statusChanged);
    QTest::mouseClick(&sw, Qt::LeftButton, {}, QPoint(10, 10));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toBool(), true);
    QVERIFY(sw.isChecked());
    QCOMPARE(sw.step(), 5);
    QCOMPARE(sw.endX(), 30);
    QVERIFY(sw.isMoving());

    const QVector<int> expected{5, 10, 15, 20, 25, 30};
    for (int x : expected) {
        sw.updateValue();
        QCOMPARE(sw.startX(), x);
        QVERIFY(sw.isMoving());
    }
    sw.updateValue();
    QCOMPARE(sw.startX(), 30);
    QVERIFY(!sw.isMoving());
}

void TstSwitchButton::click_timerDriven_reachesEndAndStops()
{
    switchbutton sw;
    sw.resize(50, 20);
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(&sw, Qt::LeftButton, {}, QPoint(10, 10));
    QTRY_COMPARE_WITH_TIMEOUT(sw.startX(), 30, 2000);
    QTRY_VERIFY_WITH_TIMEOUT(!sw.isMoving(), 2000);
    // Six 30 ms steps and one stopping tick: never quicker than about 180 ms.
    QVERIFY2(clock.elapsed() >= 170, qPrintable(QString::number(clock.elapsed())));
}

void TstSwitchButton::ticks_overshootOneFrameThenSnap()
{
    switchbutton sw;
    sw.resize(60, 20); // step 6, end 40: 42 for one frame
    QTest::mouseClick(&sw, Qt::LeftButton, {}, QPoint(10, 10));
    for (int i = 0; i < 7; ++i)
        sw.updateValue();
    QCOMPARE(sw.startX(), 42);
    sw.updateValue();
    QCOMPARE(sw.startX(), 40);
    QVERIFY(!sw.isMoving());

    QCOMPARE(switchbutton::stepFor(60), 6);
    QCOMPARE(switchbutton::endFor(true, 60, 20), 40);
    QCOMPARE(switchbutton::endFor(false, 60, 20), 0);
}

void TstSwitchButton::click_duringMovement_reversesFromCurrentPlace()
{
    switchbutton sw;
    sw.resize(50, 20);
    QSignalSpy spy(&sw, &switchbutton::statusChanged);
    QTest::mouseClick(&sw, Qt::LeftButton, {}, QPoint(10, 10));
    sw.updateValue();
    sw.updateValue();
    QCOMPARE(sw.startX(), 10);
    QTest::mouseClick(&sw, Qt::LeftButton, {}, QPoint(10, 10));
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(1).at(0).toBool(), false);
    QCOMPARE(sw.endX(), 0);
    sw.updateValue();
    QCOMPARE(sw.startX(), 5);
    sw.updateValue();
    QCOMPARE(sw.startX(), 0);
    sw.updateValue();
    QVERIFY(!sw.isMoving());
}

void TstSwitchButton::setChecked_startsMovementWithoutSignal()
{
    switchbutton sw;
    sw.resize(50, 20);
    QSignalSpy spy(&sw, &switchbutton::statusChanged);
    sw.setChecked(true);
    QVERIFY(sw.isChecked());
    QVERIFY(sw.isMoving());
    QCOMPARE(sw.endX(), 30);
    QTRY_COMPARE(sw.startX(), 30);
    QCOMPARE(spy.count(), 0);
}

void TstSwitchButton::setChecked_sameValue_stillMoves()
{
    switchbutton sw;
    sw.resize(50, 20);
    sw.setChecked(false);
    QVERIFY(sw.isMoving()); // setMoved runs in every case
    QCOMPARE(sw.step(), 5);
    sw.updateValue();
    QVERIFY(!sw.isMoving());
    QCOMPARE(sw.startX(), 0);
}

void TstSwitchButton::animationOff_clickJumpsAtOnce()
{
    switchbutton sw;
    sw.resize(50, 20);
    sw.setAnimation(false);
    QTest::mouseClick(&sw, Qt::LeftButton, {}, QPoint(10, 10));
    QCOMPARE(sw.startX(), 30);
    QVERIFY(!sw.isMoving());
    QTest::mouseClick(&sw, Qt::RightButton, {}, QPoint(10, 10)); // any button toggles
    QVERIFY(!sw.isChecked());
    QCOMPARE(sw.startX(), 0);
}

void TstSwitchButton::animationOff_setCheckedJumpsAtOnce()
{
    switchbutton sw;
    sw.resize(50, 20);
    sw.setAnimation(false);
    sw.setChecked(true);
    QCOMPARE(sw.startX(), 30);
    QVERIFY(!sw.isMoving());
}

void TstSwitchButton::narrowSwitch_snapsInsteadOfTickingForever()
{
    switchbutton sw;
    sw.resize(8, 4);
    QTest::mouseClick(&sw, Qt::LeftButton, {}, QPoint(2, 2));
    QCOMPARE(sw.step(), 0);
    sw.updateValue();
    QCOMPARE(sw.startX(), 4);
    QVERIFY(!sw.isMoving());
}

void TstSwitchButton::setters_storeValues()
{
    switchbutton sw;
    sw.setSpace(3);
    sw.setRadius(8);
    sw.setShowText(true);
    sw.setShowCircle(true);
    sw.setBgColorOn(Qt::green);
    sw.setBgColorOff(Qt::gray);
    sw.setSliderColorOn(Qt::black);
    sw.setSliderColorOff(Qt::yellow);
    sw.setTextColor(Qt::red);
    sw.setTextOn(QStringLiteral("开"));
    sw.setTextOff(QStringLiteral("关"));
    QCOMPARE(sw.space(), 3);
    QCOMPARE(sw.radius(), 8);
    QVERIFY(sw.showText() && sw.showCircle());
    QCOMPARE(sw.bgColorOn(), QColor(Qt::green));
    QCOMPARE(sw.bgColorOff(), QColor(Qt::gray));
    QCOMPARE(sw.sliderColorOn(), QColor(Qt::black));
    QCOMPARE(sw.sliderColorOff(), QColor(Qt::yellow));
    QCOMPARE(sw.textColor(), QColor(Qt::red));
    QCOMPARE(sw.textOn(), QStringLiteral("开"));
    QCOMPARE(sw.textOff(), QStringLiteral("关"));
}

void TstSwitchButton::paint_onAndOffAndDisabled()
{
    switchbutton sw;
    sw.resize(50, 20);
    sw.setAnimation(false);
    // Middle of the track above the text: translucent while enabled, opaque when disabled.
    sw.setEnabled(false);
    QCOMPARE(sw.grab().toImage().pixelColor(25, 1), QColor(190, 190, 190));
    sw.setEnabled(true);
    QVERIFY(sw.grab().toImage().pixelColor(25, 1) != QColor(190, 190, 190));

    sw.setChecked(true);
    sw.setEnabled(false);
    const QImage on = sw.grab().toImage();
    QCOMPARE(on.pixelColor(25, 1), QColor(26, 110, 217));
    QCOMPARE(on.pixelColor(40, 10), QColor(255, 255, 255)); // knob at the right end
    QCOMPARE(on.pixelColor(4, 10).blue(), 217);             // no knob at the left end
}

QTEST_MAIN(TstSwitchButton)
#include "tst_switchbutton.moc"
