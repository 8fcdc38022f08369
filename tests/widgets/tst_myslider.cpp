#include "widgets/myslider.h"

#include <QGridLayout>
#include <QLabel>
#include <QSlider>
#include <QSpinBox>
#include <QtTest>

class TstMySlider : public QObject
{
    Q_OBJECT
  private slots:
    void form_matchesLayout();
    void setRange_showsEndsWithoutUnit();
    void setValue_clampsInBothControls_data();
    void setValue_clampsInBothControls();
    void setRange_movesOutsideValueToNearerBound_data();
    void setRange_movesOutsideValueToNearerBound();
    void beforeFirstRange_spinBoxCutsTo99();
    void spinBox_andSlider_stayInStep();
    void setLabels_showsCurrentLabelOnly();
};

void TstMySlider::form_matchesLayout()
{
    myslider w;
    QCOMPARE(w.objectName(), QStringLiteral("myslider"));
    QCOMPARE(w.size(), QSize(272, 147));
    QCOMPARE(w.focusPolicy(), Qt::NoFocus);
    QCOMPARE(w.windowTitle(), QStringLiteral("Form"));

    auto* frame = w.findChild<QWidget*>(QStringLiteral("widget"));
    QVERIFY(frame);
    QCOMPARE(frame->styleSheet(), QStringLiteral("#widget{border:1px solid rgb(219,219,219)}"));
    QVERIFY(w.findChild<QGridLayout*>(QStringLiteral("gridLayout_2")));
    QVERIFY(frame->findChild<QGridLayout*>(QStringLiteral("gridLayout")));

    auto* title = w.findChild<QLabel*>(QStringLiteral("label_currentname"));
    QVERIFY(title);
    QCOMPARE(title->text(), QStringLiteral("CH1 Current(mA)"));
    QCOMPARE(title->styleSheet(), QStringLiteral("font: 12px;\nfont: Bold;"));
    QVERIFY(title->font().bold());
    // Raised above its siblings: last in the frame's stacking order.
    QCOMPARE(frame->children().last(), static_cast<QObject*>(title));

    auto* spin = w.findChild<QSpinBox*>(QStringLiteral("CurrentspinBox"));
    QVERIFY(spin);
    QCOMPARE(spin->minimumSize(), QSize(80, 30));
    QCOMPARE(spin->styleSheet(), QStringLiteral("font: 18px;"));
    // A typed number counts once the typing is finished, not key by key.
    QVERIFY(!spin->keyboardTracking());

    auto* slider = w.findChild<QSlider*>(QStringLiteral("CurrentSlider"));
    QVERIFY(slider);
    QCOMPARE(slider->orientation(), Qt::Horizontal);
    QCOMPARE(slider->maximum(), 1000);
    QCOMPARE(slider->pageStep(), 10);
    QVERIFY(slider->hasTracking());
    QCOMPARE(slider->styleSheet(),
             QStringLiteral(
                 "QSlider::handle:horizontal{width:12px;background-color:rgb(232,232,232);margin:"
                 "-4px 0px -4px 0px;border-radius:6px;}QSlider::groove:horizontal{height:4px;"
                 "background-color:rgb(219,219,219);}QSlider::add-page:horizontal{background-"
                 "color:rgb(219,219,219);}QSlider::sub-page:horizontal{background-color:rgb(26,"
                 "110,217);}"));

    auto* minLabel = w.findChild<QLabel*>(QStringLiteral("MinCurrentlabel"));
    auto* maxLabel = w.findChild<QLabel*>(QStringLiteral("MaxCurrentlabel"));
    QVERIFY(minLabel && maxLabel);
    QCOMPARE(minLabel->text(), QStringLiteral("50"));
    QCOMPARE(maxLabel->text(), QStringLiteral("400"));
    QCOMPARE(maxLabel->styleSheet(), QStringLiteral("font: 12px;"));
}

void TstMySlider::setRange_showsEndsWithoutUnit()
{
    myslider w;
    w.setRange(QStringLiteral("CH1 Current(mA):"), 50, 400, QStringLiteral("mA"));
    QCOMPARE(w.title(), QStringLiteral("CH1 Current(mA):"));
    QCOMPARE(w.minimumText(), QStringLiteral("50"));
    QCOMPARE(w.maximumText(), QStringLiteral("400"));
    QCOMPARE(w.sliderMinimum(), 50);
    QCOMPARE(w.sliderMaximum(), 400);
    QCOMPARE(w.spinBoxMinimum(), 50);
    QCOMPARE(w.spinBoxMaximum(), 400);

    w.setRange(QStringLiteral("x"), 1200, 10000, QStringLiteral("mA"));
    QCOMPARE(w.maximumText(), QStringLiteral("10000")); // no digit grouping
}

void TstMySlider::setValue_clampsInBothControls_data()
{
    QTest::addColumn<int>("input");
    QTest::addColumn<int>("expected");
    QTest::newRow("inside") << 157 << 157;
    QTest::newRow("at maximum") << 400 << 400;
    QTest::newRow("above maximum") << 500 << 400;
    QTest::newRow("below minimum") << 10 << 50;
    QTest::newRow("negative") << -3 << 50;
}

void TstMySlider::setValue_clampsInBothControls()
{
    QFETCH(int, input);
    QFETCH(int, expected);
    myslider w;
    w.setRange(QStringLiteral("CH1 Current(mA):"), 50, 400, QStringLiteral("mA"));
    w.setValue(200);
    w.setValue(input);
    QCOMPARE(w.value(), expected);
    QCOMPARE(w.spinBoxValue(), expected);
}

void TstMySlider::setRange_movesOutsideValueToNearerBound_data()
{
    QTest::addColumn<int>("minimum");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("expected");
    QTest::newRow("range above the value") << 200 << 300 << 200;
    QTest::newRow("range below the value") << 10 << 100 << 100;
    QTest::newRow("range above the old maximum") << 500 << 600 << 500;
    QTest::newRow("range containing the value") << 100 << 200 << 157;
}

void TstMySlider::setRange_movesOutsideValueToNearerBound()
{
    QFETCH(int, minimum);
    QFETCH(int, maximum);
    QFETCH(int, expected);
    myslider w;
    w.setRange(QStringLiteral("CH1"), 50, 400, QStringLiteral("mA"));
    w.setValue(157);
    w.setRange(QStringLiteral("CH1"), minimum, maximum, QStringLiteral("mA"));
    QCOMPARE(w.value(), expected);
    QCOMPARE(w.spinBoxValue(), expected);
}

void TstMySlider::beforeFirstRange_spinBoxCutsTo99()
{
    myslider w;
    QCOMPARE(w.sliderMaximum(), 1000);
    QCOMPARE(w.spinBoxMaximum(), 99);
    w.setValue(157);
    QCOMPARE(w.value(), 99);
    QCOMPARE(w.spinBoxValue(), 99);
}

void TstMySlider::spinBox_andSlider_stayInStep()
{
    myslider w;
    w.setRange(QStringLiteral("CH1"), 50, 400, QStringLiteral("mA"));
    auto* spin = w.findChild<QSpinBox*>(QStringLiteral("CurrentspinBox"));
    auto* slider = w.findChild<QSlider*>(QStringLiteral("CurrentSlider"));
    spin->setValue(321);
    QCOMPARE(w.value(), 321);
    slider->triggerAction(QAbstractSlider::SliderPageStepAdd);
    QCOMPARE(spin->value(), 331);
    slider->setValue(60);
    QCOMPARE(spin->value(), 60);
}

void TstMySlider::setLabels_showsCurrentLabelOnly()
{
    myslider w;
    w.setRange(QStringLiteral("CH2 Current(mA):"), 50, 400, QStringLiteral("mA"));
    w.setLabels(QStringLiteral("B_CH:"), QStringLiteral("CH2 Current(mA)"));
    QCOMPARE(w.title(), QStringLiteral("CH2 Current(mA)"));
    w.setLabels(QStringLiteral("B路："), QStringLiteral("设备电流二（mA）"));
    QCOMPARE(w.title(), QStringLiteral("设备电流二（mA）"));
}

QTEST_MAIN(TstMySlider)
#include "tst_myslider.moc"
