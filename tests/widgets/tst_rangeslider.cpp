#include "widgets/rangeslider.h"

#include <QSignalSpy>
#include <QSpinBox>
#include <QtTest>

namespace
{

void press(QWidget* w, QPoint pos, Qt::MouseButton button = Qt::LeftButton)
{
    QMouseEvent e(QEvent::MouseButtonPress, pos, w->mapToGlobal(pos), button, button,
                  Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

void move(QWidget* w, QPoint pos, Qt::MouseButtons buttons = Qt::LeftButton)
{
    QMouseEvent e(QEvent::MouseMove, pos, w->mapToGlobal(pos), Qt::NoButton, buttons,
                  Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

void release(QWidget* w, QPoint pos)
{
    QMouseEvent e(QEvent::MouseButtonRelease, pos, w->mapToGlobal(pos), Qt::LeftButton,
                  Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

// A horizontal slider with both handles and a usable length of 198 px.
struct Fixture {
    RangeSlider slider{Qt::Horizontal, RangeSlider::BothHandles};
    Fixture(int minimum, int maximum, int height = 20)
    {
        slider.resize(222, height);
        slider.setRange(minimum, maximum);
    }
};

} // namespace

class TstRangeSlider : public QObject
{
    Q_OBJECT
  private slots:
    void fresh_hasDefaults();
    void setRange_onFreshSlider_emitsInOrder();
    void setMinimum_aboveMaximum_swapsEnds();
    void setMaximum_belowMinimum_swapsEnds();
    void valueSetters_clamp_data();
    void valueSetters_clamp();
    void valueSetters_sameValue_stillEmit();
    void geometry_followsValues();
    void geometry_singleHandle();
    void emptyRange_handlesAtStart();
    void click_smallInterval_movesByOne_data();
    void click_smallInterval_movesByOne();
    void click_largeInterval_movesByTenth();
    void click_leftOfLowerHandle_lowersIt();
    void click_onHandle_startsDragWithoutStep();
    void click_outermostRow_neverSteps();
    void click_rightButton_ignored();
    void drag_lowerHandle_mapsPosition();
    void drag_lowerToUpper_snapsToUpperValue();
    void drag_upperHandle_belowLower_snapsToLowerValue();
    void move_withoutButton_doesNothing();
    void disabled_changesSpanColour();
    void spinBoxes_coupledBothWays();
    void paint_doesNotCrash();
};

void TstRangeSlider::fresh_hasDefaults()
{
    RangeSlider slider(Qt::Horizontal, RangeSlider::BothHandles);
    QCOMPARE(slider.getMinimum(), 0);
    QCOMPARE(slider.getMaximum(), 100);
    QCOMPARE(slider.getLowerValue(), 0);
    QCOMPARE(slider.getUpperValue(), 100);
    QCOMPARE(slider.getInterval(), 100);
    QVERIFY(slider.hasMouseTracking());
    QCOMPARE(slider.minimumSizeHint(), QSize(24, 11));
    QCOMPARE(slider.spanColor(), QColor(30, 144, 255));
    QVERIFY(RangeSlider(nullptr).hasMouseTracking());
}

void TstRangeSlider::setRange_onFreshSlider_emitsInOrder()
{
    RangeSlider slider(Qt::Horizontal, RangeSlider::BothHandles);
    QSignalSpy lower(&slider, &RangeSlider::lowerValueChanged);
    QSignalSpy upper(&slider, &RangeSlider::upperValueChanged);
    QSignalSpy range(&slider, &RangeSlider::rangeChanged);

    slider.setRange(1000, 12000);

    QCOMPARE(range.count(), 2);
    QCOMPARE(range.at(0), (QVariantList{0, 12000}));
    QCOMPARE(range.at(1), (QVariantList{1000, 12000}));
    QCOMPARE(lower.count(), 2);
    QCOMPARE(lower.at(0).at(0).toInt(), 0);
    QCOMPARE(lower.at(1).at(0).toInt(), 1000);
    QCOMPARE(upper.count(), 2);
    QCOMPARE(upper.at(0).at(0).toInt(), 12000);
    QCOMPARE(upper.at(1).at(0).toInt(), 12000);
    QCOMPARE(slider.getInterval(), 11000);
    QCOMPARE(slider.getLowerValue(), 1000);
    QCOMPARE(slider.getUpperValue(), 12000);
}

void TstRangeSlider::setMinimum_aboveMaximum_swapsEnds()
{
    RangeSlider slider(Qt::Horizontal, RangeSlider::BothHandles);
    QSignalSpy range(&slider, &RangeSlider::rangeChanged);
    slider.setMinimum(150);
    QCOMPARE(slider.getMinimum(), 100);
    QCOMPARE(slider.getMaximum(), 150);
    QCOMPARE(slider.getInterval(), 50);
    QCOMPARE(slider.getLowerValue(), 100);
    QCOMPARE(slider.getUpperValue(), 150);
    QCOMPARE(range.takeFirst(), (QVariantList{100, 150}));
}

void TstRangeSlider::setMaximum_belowMinimum_swapsEnds()
{
    RangeSlider slider(Qt::Horizontal, RangeSlider::BothHandles);
    slider.setRange(10, 100);
    slider.setMaximum(5);
    QCOMPARE(slider.getMinimum(), 5);
    QCOMPARE(slider.getMaximum(), 10);
    QCOMPARE(slider.getLowerValue(), 5);
    QCOMPARE(slider.getUpperValue(), 10);
}

void TstRangeSlider::valueSetters_clamp_data()
{
    QTest::addColumn<bool>("lowerHandle");
    QTest::addColumn<int>("input");
    QTest::addColumn<int>("expected");
    // Range 1000..12000 with the values at 3000..6000 before each call.
    QTest::newRow("lower inside") << true << 2700 << 2700;
    QTest::newRow("lower above upper") << true << 7000 << 6000;
    QTest::newRow("lower below minimum") << true << 10 << 1000;
    QTest::newRow("lower above maximum") << true << 20000 << 6000;
    QTest::newRow("upper inside") << false << 6500 << 6500;
    QTest::newRow("upper below lower") << false << 2000 << 3000;
    QTest::newRow("upper above maximum") << false << 20000 << 12000;
}

void TstRangeSlider::valueSetters_clamp()
{
    QFETCH(bool, lowerHandle);
    QFETCH(int, input);
    QFETCH(int, expected);
    Fixture f(1000, 12000);
    f.slider.setUpperValue(6000);
    f.slider.setLowerValue(3000);
    QSignalSpy lower(&f.slider, &RangeSlider::lowerValueChanged);
    QSignalSpy upper(&f.slider, &RangeSlider::upperValueChanged);
    if (lowerHandle) {
        f.slider.setLowerValue(input);
        QCOMPARE(f.slider.getLowerValue(), expected);
        QCOMPARE(lower.count(), 1);
        QCOMPARE(lower.at(0).at(0).toInt(), expected);
        QCOMPARE(upper.count(), 0);
    } else {
        f.slider.setUpperValue(input);
        QCOMPARE(f.slider.getUpperValue(), expected);
        QCOMPARE(upper.count(), 1);
        QCOMPARE(upper.at(0).at(0).toInt(), expected);
        QCOMPARE(lower.count(), 0);
    }
}

void TstRangeSlider::valueSetters_sameValue_stillEmit()
{
    Fixture f(0, 100);
    QSignalSpy lower(&f.slider, &RangeSlider::lowerValueChanged);
    QSignalSpy upper(&f.slider, &RangeSlider::upperValueChanged);
    f.slider.setLowerValue(0);
    f.slider.setUpperValue(100);
    QCOMPARE(lower.count(), 1);
    QCOMPARE(upper.count(), 1);
}

void TstRangeSlider::geometry_followsValues()
{
    Fixture f(0, 100);
    QCOMPARE(f.slider.usableLength(), 198);
    QCOMPARE(f.slider.lowerPosition(), 1);
    QCOMPARE(f.slider.upperPosition(), 210);
    QCOMPARE(f.slider.lowerHandleRect(), QRect(1, 4, 11, 11));
    QCOMPARE(f.slider.upperHandleRect(), QRect(210, 4, 11, 11));
    QCOMPARE(f.slider.grooveRect(), QRect(1, 7, 220, 5));
    const QRectF span = f.slider.spanRect();
    QCOMPARE(span.left(), 12.5);
    QCOMPARE(span.right(), 209.5);

    f.slider.setLowerValue(50);
    QCOMPARE(f.slider.lowerPosition(), 100); // 0.5 * 198 + 1
    f.slider.setUpperValue(75);
    QCOMPARE(f.slider.upperPosition(), 160); // 0.75 * 198 + 1 + 11 = 160.5

    RangeSlider vertical(Qt::Vertical, RangeSlider::BothHandles);
    vertical.resize(20, 222);
    QCOMPARE(vertical.upperHandleRect(), QRect(4, 210, 11, 11));
    QCOMPARE(vertical.grooveRect(), QRect(7, 1, 5, 220));
}

void TstRangeSlider::geometry_singleHandle()
{
    RangeSlider slider(Qt::Horizontal, RangeSlider::UpperHandle);
    slider.resize(222, 20);
    QCOMPARE(slider.usableLength(), 209);
    QCOMPARE(slider.upperPosition(), 210); // no lower handle: no 11 px offset
    const QRectF span = slider.spanRect();
    QCOMPARE(span.left(), 1.5);    // lower position + 0.5
    QCOMPARE(span.right(), 209.5); // upper near edge - 0.5
}

void TstRangeSlider::emptyRange_handlesAtStart()
{
    Fixture f(500, 500);
    QCOMPARE(f.slider.getInterval(), 0);
    QCOMPARE(f.slider.lowerPosition(), 1);
    QCOMPARE(f.slider.upperPosition(), 12);
    QVERIFY(!f.slider.grab().isNull());
    press(&f.slider, QPoint(100, 10)); // a step of 1 cannot leave the empty range
    QCOMPARE(f.slider.getLowerValue(), 500);
    QCOMPARE(f.slider.getUpperValue(), 500);
    move(&f.slider, QPoint(120, 10));
    QCOMPARE(f.slider.getUpperValue(), 500);
}

void TstRangeSlider::click_smallInterval_movesByOne_data()
{
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("lower");
    QTest::addColumn<int>("upper");
    // p1 = 1, p2 = 210; the middle between the handles is 12 + 99.
    QTest::newRow("nearer the lower handle") << 50 << 1 << 9;
    QTest::newRow("nearer the upper handle") << 180 << 0 << 8;
    QTest::newRow("exactly half way goes to upper") << 111 << 0 << 8;
}

void TstRangeSlider::click_smallInterval_movesByOne()
{
    QFETCH(int, x);
    QFETCH(int, lower);
    QFETCH(int, upper);
    Fixture f(0, 9);
    press(&f.slider, QPoint(x, 10));
    QCOMPARE(f.slider.getLowerValue(), lower);
    QCOMPARE(f.slider.getUpperValue(), upper);
    QVERIFY(!f.slider.isLowerPressed() && !f.slider.isUpperPressed());
}

void TstRangeSlider::click_largeInterval_movesByTenth()
{
    Fixture f(1000, 12000);
    press(&f.slider, QPoint(50, 10));
    QCOMPARE(f.slider.getLowerValue(), 2100);
    press(&f.slider, QPoint(200, 10));
    QCOMPARE(f.slider.getUpperValue(), 10900);
}

void TstRangeSlider::click_leftOfLowerHandle_lowersIt()
{
    Fixture f(0, 100);
    f.slider.setLowerValue(50); // p1 = 100
    press(&f.slider, QPoint(20, 10));
    QCOMPARE(f.slider.getLowerValue(), 40);
    f.slider.setUpperValue(50); // p2 = 0.5 * 198 + 12 = 111
    press(&f.slider, QPoint(140, 10));
    QCOMPARE(f.slider.getUpperValue(), 60);
}

void TstRangeSlider::click_onHandle_startsDragWithoutStep()
{
    Fixture f(0, 100);
    QSignalSpy lower(&f.slider, &RangeSlider::lowerValueChanged);
    QSignalSpy upper(&f.slider, &RangeSlider::upperValueChanged);
    press(&f.slider, QPoint(5, 10));
    QVERIFY(f.slider.isLowerPressed());
    QVERIFY(!f.slider.isUpperPressed());
    press(&f.slider, QPoint(215, 10));
    QVERIFY(f.slider.isUpperPressed());
    QVERIFY(!f.slider.isLowerPressed());
    QCOMPARE(lower.count() + upper.count(), 0);
    release(&f.slider, QPoint(215, 10));
    QVERIFY(!f.slider.isLowerPressed() && !f.slider.isUpperPressed());
}

void TstRangeSlider::click_outermostRow_neverSteps()
{
    Fixture thin(0, 100, 11); // the handles fill the whole height
    QSignalSpy lower(&thin.slider, &RangeSlider::lowerValueChanged);
    QSignalSpy upper(&thin.slider, &RangeSlider::upperValueChanged);
    press(&thin.slider, QPoint(5, 0));
    QVERIFY(thin.slider.isLowerPressed());
    press(&thin.slider, QPoint(100, 1));
    press(&thin.slider, QPoint(100, 10));
    press(&thin.slider, QPoint(100, 12));
    QCOMPARE(lower.count() + upper.count(), 0);
    press(&thin.slider, QPoint(100, 2));
    QCOMPARE(upper.count(), 0);
    QCOMPARE(lower.count(), 1);
}

void TstRangeSlider::click_rightButton_ignored()
{
    Fixture f(0, 9);
    press(&f.slider, QPoint(50, 10), Qt::RightButton);
    press(&f.slider, QPoint(5, 10), Qt::RightButton);
    QCOMPARE(f.slider.getLowerValue(), 0);
    QVERIFY(!f.slider.isLowerPressed());
}

void TstRangeSlider::drag_lowerHandle_mapsPosition()
{
    Fixture f(0, 100);
    press(&f.slider, QPoint(6, 10)); // offset 6 - (1 + 5) = 0
    QSignalSpy lower(&f.slider, &RangeSlider::lowerValueChanged);
    move(&f.slider, QPoint(105, 10)); // (105 - 6) / 198 * 100 = 50
    QCOMPARE(f.slider.getLowerValue(), 50);
    move(&f.slider, QPoint(-300, 10)); // far left of the widget
    QCOMPARE(f.slider.getLowerValue(), 0);
    QCOMPARE(lower.count(), 2);
}

void TstRangeSlider::drag_lowerToUpper_snapsToUpperValue()
{
    Fixture f(1000, 12000);
    f.slider.setUpperValue(6000);
    const int p2 = f.slider.upperPosition();
    press(&f.slider, QPoint(6, 10));
    move(&f.slider, QPoint(p2 - 4, 10)); // d + 4 == p2: too close
    QCOMPARE(f.slider.getLowerValue(), 6000);
}

void TstRangeSlider::drag_upperHandle_belowLower_snapsToLowerValue()
{
    Fixture f(0, 100);
    f.slider.setLowerValue(20);
    press(&f.slider, QPoint(215, 10)); // offset 215 - (210 + 5) = 0
    QVERIFY(f.slider.isUpperPressed());
    move(&f.slider, QPoint(f.slider.lowerPosition() + 10, 10));
    QCOMPARE(f.slider.getUpperValue(), 20);
    move(&f.slider, QPoint(166, 10)); // (166 - 6 - 11) / 198 * 100 = 75.2
    QCOMPARE(f.slider.getUpperValue(), 75);
}

void TstRangeSlider::move_withoutButton_doesNothing()
{
    Fixture f(0, 100);
    press(&f.slider, QPoint(6, 10));
    QSignalSpy lower(&f.slider, &RangeSlider::lowerValueChanged);
    move(&f.slider, QPoint(150, 10), Qt::NoButton);
    QCOMPARE(lower.count(), 0);
    QCOMPARE(f.slider.getLowerValue(), 0);
}

void TstRangeSlider::disabled_changesSpanColour()
{
    Fixture f(0, 100);
    f.slider.setEnabled(false);
    QCOMPARE(f.slider.spanColor(), QColor(Qt::darkGray));
    f.slider.setEnabled(true);
    QCOMPARE(f.slider.spanColor(), QColor(30, 144, 255));
}

void TstRangeSlider::spinBoxes_coupledBothWays()
{
    Fixture f(1000, 12000);
    QSpinBox warm;
    QSpinBox cool;
    warm.setRange(1000, 12000);
    cool.setRange(1000, 12000);
    warm.setValue(1000);
    cool.setValue(12000);
    connect(&warm, qOverload<int>(&QSpinBox::valueChanged), &f.slider, &RangeSlider::setLowerValue);
    connect(&cool, qOverload<int>(&QSpinBox::valueChanged), &f.slider, &RangeSlider::setUpperValue);
    connect(&f.slider, &RangeSlider::lowerValueChanged, &warm, &QSpinBox::setValue);
    connect(&f.slider, &RangeSlider::upperValueChanged, &cool, &QSpinBox::setValue);

    cool.setValue(3000);
    warm.setValue(5000); // above the coolest: the slider pulls it back
    QCOMPARE(f.slider.getUpperValue(), 3000);
    QCOMPARE(f.slider.getLowerValue(), 3000);
    QCOMPARE(warm.value(), 3000);
    f.slider.setUpperValue(6500);
    QCOMPARE(cool.value(), 6500);
}

void TstRangeSlider::paint_doesNotCrash()
{
    for (auto options : {RangeSlider::NoHandles, RangeSlider::LowerHandle, RangeSlider::UpperHandle,
                         RangeSlider::BothHandles}) {
        RangeSlider slider(Qt::Horizontal, options);
        slider.resize(5, 5); // smaller than the handles
        slider.setRange(1000, 12000);
        QVERIFY(!slider.grab().isNull());
        press(&slider, QPoint(2, 2));
        move(&slider, QPoint(4, 2));
    }
}

QTEST_MAIN(TstRangeSlider)
#include "tst_rangeslider.moc"
