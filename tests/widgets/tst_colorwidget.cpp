#include "widgets/colorwidget.h"

#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>
#include <QtTest>

namespace
{

const QString kRangeEn = QStringLiteral("Monochrome values range from 0 to 255");
const QString kRangeCn = QStringLiteral("单色值范围0~255");
const QString kRgbFormatEn = QStringLiteral("The format must be:r,g,b");
const QString kRgbFormatCn = QStringLiteral("格式必须为:r,g,b");
const QString kHexFormatEn = QStringLiteral("The format must be:#xxxxxx");

// What the user ends up with after typing or pasting a whole text into a field.
void enter(QLineEdit* edit, const QString& text)
{
    edit->setText(text);
    emit edit->textEdited(text);
}

} // namespace

class TstColorWidget : public QObject
{
    Q_OBJECT
  private slots:
    void init();
    void cleanup();

    void start_swatchAndFieldsNotInStepWithSliders();
    void textForms_data();
    void textForms();
    void brightnessRule_data();
    void brightnessRule();
    void hexDigits_data();
    void hexDigits();
    void slideStyle_isExact();
    void rgbField_valueAbove255_warnsOnceAndRewrites();
    void rgbField_chineseFlag_warnsInChinese();
    void rgbField_twoParts_warnsAndChangesNothing();
    void rgbField_validText_staysAsTyped();
    void rgbField_negativeValue_cutToZero();
    void rgbField_garbagePart_readsAsZero();
    void hexField_malformed_warns_data();
    void hexField_malformed_warns();
    void hexField_short_fillsFromLeft();
    void spinBox_above255_resetWithWarning_data();
    void spinBox_above255_resetWithWarning();
    void slider_updatesSwatchAndBothFields();
    void copyButton_putsHexTextOnClipboard();
    void picking_onlyStartsInSpectrum();
    void picking_takesScreenPixelUnderCursor();
    void warningTitle_followsLanguage();
    void paint_doesNotCrash();

  private:
    QStringList m_warnings;
    QStringList m_titles;
};

void TstColorWidget::init()
{
    m_warnings.clear();
    m_titles.clear();
    ColorWidget::setLanguage(false);
    ColorWidget::setWarningHook([this](const QString& title, const QString& text) {
        m_titles << title;
        m_warnings << text;
    });
}

void TstColorWidget::cleanup()
{
    ColorWidget::setWarningHook({});
    ColorWidget::setLanguage(false);
}

void TstColorWidget::start_swatchAndFieldsNotInStepWithSliders()
{
    ColorWidget w;
    QCOMPARE(w.rgbEdit()->text(), QStringLiteral("255,107,107"));
    QCOMPARE(w.hexEdit()->text(), QStringLiteral("#FF6B6B"));
    QCOMPARE(w.swatch()->styleSheet(),
             QStringLiteral("background-color: rgb(255, 107, 107);color: rgb(250, 250, 250);"));
    QCOMPARE(w.redSlider()->value(), 0);
    QCOMPARE(w.redSpinBox()->value(), 0);
    QCOMPARE(w.redSlider()->maximum(), 255);
    QCOMPARE(w.redSpinBox()->maximum(), 10000);
    QCOMPARE(w.size(), QSize(750, 108));
    QCOMPARE(w.windowTitle(), QStringLiteral("屏幕拾色器"));
    QCOMPARE(w.copyButton()->size(), QSize(36, 25));
    QVERIFY(w.copyButton()->isFlat());
    QVERIFY(m_warnings.isEmpty());
}

void TstColorWidget::textForms_data()
{
    QTest::addColumn<int>("r");
    QTest::addColumn<int>("g");
    QTest::addColumn<int>("b");
    QTest::addColumn<QString>("rgb");
    QTest::addColumn<QString>("hex");
    QTest::newRow("start colour") << 255 << 107 << 107 << "255, 107, 107"
                                  << "#FF6B6B";
    QTest::newRow("padded digits") << 12 << 34 << 56 << "12, 34, 56"
                                   << "#0C2238";
    QTest::newRow("black") << 0 << 0 << 0 << "0, 0, 0"
                           << "#000000";
    QTest::newRow("low byte only") << 256 << 511 << 0 << "256, 511, 0"
                                   << "#00FF00";
}

void TstColorWidget::textForms()
{
    QFETCH(int, r);
    QFETCH(int, g);
    QFETCH(int, b);
    QFETCH(QString, rgb);
    QFETCH(QString, hex);
    QCOMPARE(ColorWidget::rgbText(r, g, b), rgb);
    QCOMPARE(ColorWidget::hexText(r, g, b), hex);
}

void TstColorWidget::brightnessRule_data()
{
    QTest::addColumn<int>("r");
    QTest::addColumn<int>("g");
    QTest::addColumn<int>("b");
    QTest::addColumn<QString>("style");
    QTest::newRow("white needs black text")
        << 255 << 255 << 255 << "background:rgb(255, 255, 255);color:#000000";
    QTest::newRow("blue needs white text")
        << 0 << 0 << 255 << "background:rgb(0, 0, 255);color:#ffffff";
    QTest::newRow("grey 128 is light")
        << 128 << 128 << 128 << "background:rgb(128, 128, 128);color:#000000";
    QTest::newRow("grey 127 is dark")
        << 127 << 127 << 127 << "background:rgb(127, 127, 127);color:#ffffff";
    QTest::newRow("green is light") << 0 << 255 << 0 << "background:rgb(0, 255, 0);color:#000000";
    QTest::newRow("red is dark") << 255 << 0 << 0 << "background:rgb(255, 0, 0);color:#ffffff";
}

void TstColorWidget::brightnessRule()
{
    QFETCH(int, r);
    QFETCH(int, g);
    QFETCH(int, b);
    QFETCH(QString, style);
    QCOMPARE(ColorWidget::swatchStyle(r, g, b), style);
}

void TstColorWidget::hexDigits_data()
{
    QTest::addColumn<QChar>("c");
    QTest::addColumn<int>("value");
    QTest::newRow("0") << QChar('0') << 0;
    QTest::newRow("9") << QChar('9') << 9;
    QTest::newRow("A") << QChar('A') << 10;
    QTest::newRow("F") << QChar('F') << 15;
    QTest::newRow("a") << QChar('a') << 10;
    QTest::newRow("f") << QChar('f') << 15;
    QTest::newRow("G") << QChar('G') << 0;
    QTest::newRow("#") << QChar('#') << 0;
    QTest::newRow("full-width 1") << QChar(0xFF11) << 0;
}

void TstColorWidget::hexDigits()
{
    QFETCH(QChar, c);
    QFETCH(int, value);
    QCOMPARE(ColorWidget::hexDigitValue(c), value);
}

void TstColorWidget::slideStyle_isExact()
{
    QCOMPARE(
        ColorWidget::slideStyle(QStringLiteral("rgb(255,0,0)")),
        QStringLiteral("QSlider::handle:horizontal{width:12px;background-color:rgb(232,232,232);"
                       "margin:-4px 0px -4px 0px;border-radius:6px;}QSlider::groove:horizontal{"
                       "height:4px;background-color:rgb(219,219,219);}QSlider::add-page:horizontal{"
                       "background-color:rgb(219,219,219);}QSlider::sub-page:horizontal{"
                       "background-color:rgb(255,0,0);font: 12px;}"));
    ColorWidget w;
    QCOMPARE(w.greenSlider()->styleSheet(), ColorWidget::slideStyle("rgb(0,255,0)"));
}

void TstColorWidget::rgbField_valueAbove255_warnsOnceAndRewrites()
{
    ColorWidget w;
    enter(w.rgbEdit(), QStringLiteral("300,0,0"));
    QCOMPARE(m_warnings, QStringList{kRangeEn});
    QCOMPARE(w.redSpinBox()->value(), 255);
    QCOMPARE(w.redSlider()->value(), 255);
    QCOMPARE(w.rgbEdit()->text(), QStringLiteral("255, 0, 0"));
    QCOMPARE(w.hexEdit()->text(), QStringLiteral("#FF0000"));

    m_warnings.clear();
    enter(w.rgbEdit(), QStringLiteral("300,999,1"));
    QCOMPARE(m_warnings, (QStringList{kRangeEn, kRangeEn}));
    QCOMPARE(w.greenSlider()->value(), 255);
    QCOMPARE(w.rgbEdit()->text(), QStringLiteral("255, 255, 1"));
}

void TstColorWidget::rgbField_chineseFlag_warnsInChinese()
{
    ColorWidget::setLanguage(true);
    QVERIFY(ColorWidget::language());
    ColorWidget w;
    enter(w.rgbEdit(), QStringLiteral("0,300,0"));
    QCOMPARE(m_warnings, QStringList{kRangeCn});
    enter(w.rgbEdit(), QStringLiteral("1,2"));
    QCOMPARE(m_warnings.last(), kRgbFormatCn);
}

void TstColorWidget::rgbField_twoParts_warnsAndChangesNothing()
{
    ColorWidget w;
    w.redSlider()->setValue(10);
    const QString hexBefore = w.hexEdit()->text();
    enter(w.rgbEdit(), QStringLiteral("1,2"));
    QCOMPARE(m_warnings, QStringList{kRgbFormatEn});
    QCOMPARE(w.redSlider()->value(), 10);
    QCOMPARE(w.greenSlider()->value(), 0);
    QCOMPARE(w.hexEdit()->text(), hexBefore);
    QCOMPARE(w.rgbEdit()->text(), QStringLiteral("1,2"));

    enter(w.rgbEdit(), QStringLiteral("1,2,3,4"));
    QCOMPARE(m_warnings.size(), 2);
}

void TstColorWidget::rgbField_validText_staysAsTyped()
{
    ColorWidget w;
    enter(w.rgbEdit(), QStringLiteral("12,34,56"));
    QVERIFY(m_warnings.isEmpty());
    QCOMPARE(w.rgbEdit()->text(), QStringLiteral("12,34,56"));
    QCOMPARE(w.hexEdit()->text(), QStringLiteral("#0C2238"));
    QCOMPARE(w.redSlider()->value(), 12);
    QCOMPARE(w.greenSlider()->value(), 34);
    QCOMPARE(w.blueSlider()->value(), 56);
    QCOMPARE(w.blueSpinBox()->value(), 56);
    QCOMPARE(w.swatch()->styleSheet(), QStringLiteral("background:rgb(12, 34, 56);color:#ffffff"));

    // The field rewrites itself again once the user moves a slider.
    w.redSlider()->setValue(13);
    QCOMPARE(w.rgbEdit()->text(), QStringLiteral("13, 34, 56"));
}

void TstColorWidget::rgbField_negativeValue_cutToZero()
{
    ColorWidget w;
    enter(w.rgbEdit(), QStringLiteral("-5,10,20"));
    QCOMPARE(m_warnings, QStringList{kRangeEn});
    QCOMPARE(w.redSlider()->value(), 0);
    QCOMPARE(w.rgbEdit()->text(), QStringLiteral("0, 10, 20"));
    QCOMPARE(w.hexEdit()->text(), QStringLiteral("#000A14"));
}

void TstColorWidget::rgbField_garbagePart_readsAsZero()
{
    ColorWidget w;
    w.greenSlider()->setValue(99);
    enter(w.rgbEdit(), QStringLiteral("7,x,"));
    QVERIFY(m_warnings.isEmpty());
    QCOMPARE(w.redSlider()->value(), 7);
    QCOMPARE(w.greenSlider()->value(), 0);
    QCOMPARE(w.hexEdit()->text(), QStringLiteral("#070000"));
    QCOMPARE(w.rgbEdit()->text(), QStringLiteral("7,x,"));
}

void TstColorWidget::hexField_malformed_warns_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("no number sign") << "FF0000";
    QTest::newRow("eight characters") << "#FF00001";
    QTest::newRow("empty") << "";
}

void TstColorWidget::hexField_malformed_warns()
{
    QFETCH(QString, text);
    ColorWidget w;
    w.blueSlider()->setValue(40);
    enter(w.hexEdit(), text);
    QCOMPARE(m_warnings, QStringList{kHexFormatEn});
    QCOMPARE(w.blueSlider()->value(), 40);
    QCOMPARE(w.redSlider()->value(), 0);
}

void TstColorWidget::hexField_short_fillsFromLeft()
{
    ColorWidget w;
    w.greenSlider()->setValue(50);
    enter(w.hexEdit(), QStringLiteral("#1"));
    QVERIFY(m_warnings.isEmpty());
    QCOMPARE(w.redSlider()->value(), 16);
    QCOMPARE(w.greenSlider()->value(), 0);
    QCOMPARE(w.blueSlider()->value(), 0);
    QCOMPARE(w.hexEdit()->text(), QStringLiteral("#1"));
    QCOMPARE(w.rgbEdit()->text(), QStringLiteral("16, 0, 0"));

    enter(w.hexEdit(), QStringLiteral("#F"));
    QCOMPARE(w.redSlider()->value(), 240);
    enter(w.hexEdit(), QStringLiteral("#a0Zb1C"));
    QCOMPARE(w.redSlider()->value(), 160);
    QCOMPARE(w.greenSlider()->value(), 11);
    QCOMPARE(w.blueSlider()->value(), 28);
    QCOMPARE(w.swatch()->styleSheet(), QStringLiteral("background:rgb(160, 11, 28);color:#ffffff"));
}

void TstColorWidget::spinBox_above255_resetWithWarning_data()
{
    QTest::addColumn<int>("before");
    QTest::newRow("from 0") << 0;
    QTest::newRow("slider already at 255") << 255;
}

void TstColorWidget::spinBox_above255_resetWithWarning()
{
    QFETCH(int, before);
    ColorWidget w;
    w.greenSpinBox()->setValue(before);
    m_warnings.clear();
    w.greenSpinBox()->setValue(400);
    QCOMPARE(w.greenSlider()->value(), 255);
    QCOMPARE(w.greenSpinBox()->value(), 255);
    QCOMPARE(m_warnings, QStringList{kRangeEn});
}

void TstColorWidget::slider_updatesSwatchAndBothFields()
{
    ColorWidget w;
    w.blueSlider()->setValue(255);
    QCOMPARE(w.blueSpinBox()->value(), 255);
    QCOMPARE(w.rgbEdit()->text(), QStringLiteral("0, 0, 255"));
    QCOMPARE(w.hexEdit()->text(), QStringLiteral("#0000FF"));
    QCOMPARE(w.swatch()->styleSheet(), QStringLiteral("background:rgb(0, 0, 255);color:#ffffff"));
    w.redSpinBox()->setValue(255);
    w.greenSpinBox()->setValue(255);
    QCOMPARE(w.hexEdit()->text(), QStringLiteral("#FFFFFF"));
    QCOMPARE(w.swatch()->styleSheet(),
             QStringLiteral("background:rgb(255, 255, 255);color:#000000"));
}

void TstColorWidget::copyButton_putsHexTextOnClipboard()
{
    ColorWidget w;
    QSignalSpy copied(&w, &ColorWidget::clickCopy);
    w.hexEdit()->setText(QStringLiteral("#12")); // an unfinished entry is copied as it is
    QTest::mouseClick(w.copyButton(), Qt::LeftButton);
    QCOMPARE(copied.count(), 1);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("#12"));

    enter(w.rgbEdit(), QStringLiteral("12,34,56"));
    QTest::mouseClick(w.copyButton(), Qt::LeftButton);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("#0C2238"));
}

void TstColorWidget::picking_onlyStartsInSpectrum()
{
    ColorWidget w;
    QTest::mousePress(&w, Qt::LeftButton, {}, QPoint(299, 99));
    QVERIFY(w.isPicking());
    QTest::mouseRelease(&w, Qt::LeftButton, {}, QPoint(299, 99));
    QVERIFY(!w.isPicking());
    // QTest turns a null position into the centre, so the corner is sent by hand.
    QMouseEvent corner(QEvent::MouseButtonPress, QPointF(0, 0), w.mapToGlobal(QPoint(0, 0)),
                       Qt::RightButton, Qt::RightButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &corner);
    QVERIFY(w.isPicking());
    QTest::mouseRelease(&w, Qt::RightButton, {}, QPoint(0, 0));
    QTest::mousePress(&w, Qt::LeftButton, {}, QPoint(300, 50));
    QVERIFY(!w.isPicking());
    QTest::mousePress(&w, Qt::LeftButton, {}, QPoint(100, 100));
    QVERIFY(!w.isPicking());
}

void TstColorWidget::picking_takesScreenPixelUnderCursor()
{
    QWidget target;
    target.setWindowFlags(Qt::FramelessWindowHint);
    target.setStyleSheet(QStringLiteral("background: rgb(200, 30, 90);"));
    target.setGeometry(0, 0, 200, 200);
    target.show();
    QVERIFY(QTest::qWaitForWindowExposed(&target));
    QCursor::setPos(50, 50);

    ColorWidget w;
    w.hexEdit()->setText(QStringLiteral("#"));
    QTest::qWait(250);
    QCOMPARE(w.redSlider()->value(), 0); // nothing is taken before a press

    QTest::mousePress(&w, Qt::LeftButton, {}, QPoint(20, 20));
    QTRY_COMPARE(w.redSlider()->value(), 200);
    QCOMPARE(w.greenSlider()->value(), 30);
    QCOMPARE(w.blueSpinBox()->value(), 90);
    QCOMPARE(w.hexEdit()->text(), QStringLiteral("#C81E5A"));
    QCOMPARE(w.rgbEdit()->text(), QStringLiteral("200, 30, 90"));
    QTest::mouseRelease(&w, Qt::LeftButton, {}, QPoint(20, 20));
}

void TstColorWidget::warningTitle_followsLanguage()
{
    ColorWidget w;
    enter(w.hexEdit(), QStringLiteral("x"));
    ColorWidget::setLanguage(true);
    enter(w.hexEdit(), QStringLiteral("x"));
    QCOMPARE(m_titles, (QStringList{QStringLiteral("Warning!"), QStringLiteral("警告！")}));
    QCOMPARE(m_warnings.last(), QStringLiteral("格式必须为:#xxxxxx"));
}

void TstColorWidget::paint_doesNotCrash()
{
    ColorWidget w;
    const QImage image = w.grab().toImage();
    QCOMPARE(image.size(), QSize(750, 108));
    // The spectrum starts red on the left and ends magenta on the right.
    const QColor left = image.pixelColor(2, 50);
    QVERIFY(left.red() > 240 && left.green() < 20 && left.blue() < 20);
    const QColor right = image.pixelColor(296, 50);
    QVERIFY(right.red() > 200 && right.green() < 60 && right.blue() > 240);
}

QTEST_MAIN(TstColorWidget)
#include "tst_colorwidget.moc"
