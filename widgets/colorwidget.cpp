#include "widgets/colorwidget.h"

#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QGridLayout>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QLinearGradient>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

namespace
{
Q_LOGGING_CATEGORY(lcWidgets, "vantory.widgets")

const QRect kSpectrumRect(QPoint(0, 0), QPoint(299, 99));
} // namespace

bool ColorWidget::s_chinese = false;
ColorWidget::WarningHook ColorWidget::s_warningHook;

ColorWidget::ColorWidget(QWidget* parent) : QWidget(parent)
{
    m_clipboard = QApplication::clipboard();

    m_pickTimer = new QTimer(this);
    m_pickTimer->setInterval(100);

    auto makeSlider = [this](const QString& color) {
        auto* slider = new QSlider(Qt::Horizontal, this);
        slider->setRange(0, 255);
        slider->setSingleStep(1);
        slider->setStyleSheet(SetSlideStyle(color));
        return slider;
    };
    Rslider = makeSlider(QStringLiteral("rgb(255,0,0)"));
    Gslider = makeSlider(QStringLiteral("rgb(0,255,0)"));
    Bslider = makeSlider(QStringLiteral("rgb(0,0,255)"));

    auto makeSpinbox = [this]() {
        auto* spinbox = new QSpinBox(this);
        // Wider than a channel on purpose: out-of-range entries are caught with a warning.
        spinbox->setRange(0, 10000);
        spinbox->setSingleStep(1);
        spinbox->setStyleSheet(QStringLiteral("font: 12px;"));
        return spinbox;
    };
    Rspinbox = makeSpinbox();
    Gspinbox = makeSpinbox();
    Bspinbox = makeSpinbox();

    txtRgb = new QLineEdit(QStringLiteral("255,107,107"), this);
    txtRgb->setStyleSheet(QStringLiteral("font: 12px;"));
    txtWeb = new QLineEdit(QStringLiteral("#FF6B6B"), this);
    txtWeb->setStyleSheet(QStringLiteral("font: 12px;"));

    m_swatch = new QLabel(this);
    m_swatch->setStyleSheet(
        QStringLiteral("background-color: rgb(255, 107, 107);color: rgb(250, 250, 250);"));
    m_swatch->setMinimumSize(30, 20);
    m_swatch->setMaximumSize(30, 20);

    m_swatchCaption = new QLabel(this);
    m_swatchCaption->setMinimumHeight(18);
    m_swatchCaption->setAlignment(Qt::AlignCenter);

    auto makeCaption = [this](const QString& text) {
        auto* label = new QLabel(text, this);
        label->setStyleSheet(QStringLiteral("font: 12px;"));
        return label;
    };

    m_copyButton = new QPushButton(this);
    m_copyButton->setFixedSize(36, 25);
    m_copyButton->setFlat(true);
    m_copyButton->setIcon(QIcon(QStringLiteral(":image/images/UI_img/输入_Property_1_默认.png")));
    m_copyButton->setIconSize(m_copyButton->size());

    auto* swatchBox = new QVBoxLayout;
    swatchBox->setSpacing(0);
    swatchBox->addWidget(m_swatch);
    swatchBox->addWidget(m_swatchCaption);

    auto* grid = new QGridLayout(this);
    grid->setSpacing(6);
    // The left part stays free for the painted spectrum.
    grid->setContentsMargins(350, 0, 0, 0);
    grid->addWidget(makeCaption(QStringLiteral("R")), 0, 0);
    grid->addWidget(Rslider, 0, 1);
    grid->addWidget(Rspinbox, 0, 2);
    grid->addWidget(makeCaption(QStringLiteral("RGB")), 0, 3);
    grid->addLayout(swatchBox, 0, 4, 3, 1);
    grid->addWidget(txtRgb, 0, 5);
    grid->addWidget(makeCaption(QStringLiteral("G")), 1, 0);
    grid->addWidget(Gslider, 1, 1);
    grid->addWidget(Gspinbox, 1, 2);
    grid->addWidget(makeCaption(QStringLiteral("HEX")), 1, 3);
    grid->addWidget(txtWeb, 1, 5);
    grid->addWidget(m_copyButton, 1, 6);
    grid->addWidget(makeCaption(QStringLiteral("B")), 2, 0);
    grid->addWidget(Bslider, 2, 1);
    grid->addWidget(Bspinbox, 2, 2);

    setWindowTitle(QStringLiteral("屏幕拾色器"));
    setFixedSize(750, 108);

    connect(Rspinbox, qOverload<int>(&QSpinBox::valueChanged), Rslider, &QSlider::setValue);
    connect(Rspinbox, qOverload<int>(&QSpinBox::valueChanged), this,
            &ColorWidget::Rspinbox_valueChanged);
    connect(Rslider, &QSlider::valueChanged, Rspinbox, &QSpinBox::setValue);
    connect(Rslider, &QSlider::valueChanged, this, &ColorWidget::Rslider_valueChanged);

    connect(Gspinbox, qOverload<int>(&QSpinBox::valueChanged), Gslider, &QSlider::setValue);
    connect(Gspinbox, qOverload<int>(&QSpinBox::valueChanged), this,
            &ColorWidget::Gspinbox_valueChanged);
    connect(Gslider, &QSlider::valueChanged, Gspinbox, &QSpinBox::setValue);
    connect(Gslider, &QSlider::valueChanged, this, &ColorWidget::Gslider_valueChanged);

    connect(Bspinbox, qOverload<int>(&QSpinBox::valueChanged), Bslider, &QSlider::setValue);
    connect(Bspinbox, qOverload<int>(&QSpinBox::valueChanged), this,
            &ColorWidget::Bspinbox_valueChanged);
    connect(Bslider, &QSlider::valueChanged, Bspinbox, &QSpinBox::setValue);
    connect(Bslider, &QSlider::valueChanged, this, &ColorWidget::Bslider_valueChanged);

    connect(txtRgb, &QLineEdit::textEdited, this, &ColorWidget::txtRgb_textEdited);
    connect(txtWeb, &QLineEdit::textEdited, this, &ColorWidget::txtWeb_textEdited);
    connect(m_copyButton, &QPushButton::clicked, this, &ColorWidget::onCopyTextButtonClicked);
    connect(m_pickTimer, &QTimer::timeout, this, &ColorWidget::showColorValue);
    m_pickTimer->start();
}

void ColorWidget::setLanguage(bool chinese)
{
    s_chinese = chinese;
}

bool ColorWidget::language()
{
    return s_chinese;
}

void ColorWidget::setWarningHook(WarningHook hook)
{
    s_warningHook = std::move(hook);
}

QString ColorWidget::rgbText(int red, int green, int blue)
{
    return QStringLiteral("%1, %2, %3").arg(red).arg(green).arg(blue);
}

QString ColorWidget::hexText(int red, int green, int blue)
{
    return QStringLiteral("#%1%2%3")
        .arg(red & 0xFF, 2, 16, QLatin1Char('0'))
        .arg(green & 0xFF, 2, 16, QLatin1Char('0'))
        .arg(blue & 0xFF, 2, 16, QLatin1Char('0'))
        .toUpper();
}

bool ColorWidget::isLight(int red, int green, int blue)
{
    return (0.299 * red + 0.587 * green + 0.114 * blue) / 255 > 0.5;
}

QString ColorWidget::swatchStyle(int red, int green, int blue)
{
    const QColor textColor = isLight(red, green, blue) ? QColor(Qt::black) : QColor(Qt::white);
    return QStringLiteral("background:rgb(%1);color:%2")
        .arg(rgbText(red, green, blue), textColor.name());
}

int ColorWidget::hexDigitValue(QChar c)
{
    const ushort u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    return 0;
}

ColorWidget::RgbParse ColorWidget::parseRgbText(const QString& text)
{
    RgbParse result;
    const QStringList parts = text.split(QLatin1Char(','), Qt::KeepEmptyParts);
    if (parts.size() != 3)
        return result;
    result.wellFormed = true;
    int values[3];
    for (int i = 0; i < 3; ++i) {
        int v = parts.at(i).toInt(); // a part that does not parse reads as 0
        if (v > 255) {
            v = 255;
            ++result.cutCount;
        } else if (v < 0) {
            // A minus sign would otherwise show a different colour in the hex field.
            v = 0;
            ++result.cutCount;
        }
        values[i] = v;
    }
    result.red = values[0];
    result.green = values[1];
    result.blue = values[2];
    return result;
}

ColorWidget::HexParse ColorWidget::parseHexText(const QString& text)
{
    HexParse result;
    if (text.isEmpty() || text.at(0) != QLatin1Char('#') || text.size() > 7)
        return result;
    result.wellFormed = true;
    int digits[6] = {0, 0, 0, 0, 0, 0};
    for (int i = 1; i < text.size(); ++i)
        digits[i - 1] = hexDigitValue(text.at(i));
    result.red = digits[0] * 16 + digits[1];
    result.green = digits[2] * 16 + digits[3];
    result.blue = digits[4] * 16 + digits[5];
    return result;
}

QString ColorWidget::slideStyle(const QString& subcolor)
{
    return QStringLiteral("QSlider::handle:horizontal{width:12px;background-color:rgb(232,232,"
                          "232);margin:-4px 0px -4px 0px;border-radius:6px;}QSlider::groove:"
                          "horizontal{height:4px;background-color:rgb(219,219,219);}QSlider::"
                          "add-page:horizontal{background-color:rgb(219,219,219);}") +
           QStringLiteral("QSlider::sub-page:horizontal{background-color:") + subcolor +
           QStringLiteral(";") + QStringLiteral("font: 12px;}");
}

void ColorWidget::setSpinValues(int red, int green, int blue)
{
    Rspinbox->setValue(red);
    Gspinbox->setValue(green);
    Bspinbox->setValue(blue);
}

void ColorWidget::showColorValue()
{
    if (!m_picking)
        return;
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QPoint pos = QCursor::pos();
    const QPixmap grab = screen->grabWindow(0, pos.x(), pos.y(), 2, 2);
    if (grab.isNull())
        return;
    const QImage image = grab.toImage();
    if (!image.valid(0, 0))
        return;
    const QColor color = image.pixelColor(0, 0);
    const int red = color.red();
    const int green = color.green();
    const int blue = color.blue();

    setSpinValues(red, green, blue);
    m_swatch->setStyleSheet(swatchStyle(red, green, blue));
    if (m_rgbLive)
        txtRgb->setText(rgbText(red, green, blue));
    if (m_hexLive)
        txtWeb->setText(hexText(red, green, blue));
}

void ColorWidget::Slider_SetRgbValue(int red, int green, int blue)
{
    m_swatch->setStyleSheet(swatchStyle(red, green, blue));
    if (m_rgbLive)
        txtRgb->setText(rgbText(red, green, blue));
    if (m_hexLive)
        txtWeb->setText(hexText(red, green, blue));
}

void ColorWidget::txtRgb_SetRabValue(int red, int green, int blue, uint8_t flag)
{
    setSpinValues(red, green, blue);
    m_swatch->setStyleSheet(swatchStyle(red, green, blue));
    if (m_rgbLive || flag != 0)
        txtRgb->setText(rgbText(red, green, blue));
    if (m_hexLive)
        txtWeb->setText(hexText(red, green, blue));
}

void ColorWidget::txtWeb_SetRabValue(int red, int green, int blue)
{
    setSpinValues(red, green, blue);
    m_swatch->setStyleSheet(swatchStyle(red, green, blue));
    if (m_rgbLive)
        txtRgb->setText(rgbText(red, green, blue));
}

void ColorWidget::CommonTip(QString tip)
{
    const QString title = s_chinese ? QStringLiteral("警告！") : QStringLiteral("Warning!");
    if (s_warningHook) {
        s_warningHook(title, tip);
        return;
    }
    QMessageBox::warning(this, title, tip, QMessageBox::Ok);
}

int ColorWidget::ConvertHexChar(QChar c)
{
    return hexDigitValue(c);
}

QString ColorWidget::SetSlideStyle(QString subcolor)
{
    return slideStyle(subcolor);
}

void ColorWidget::Rslider_valueChanged(int value)
{
    Slider_SetRgbValue(value, Gslider->value(), Bslider->value());
}

void ColorWidget::Gslider_valueChanged(int value)
{
    Slider_SetRgbValue(Rslider->value(), value, Bslider->value());
}

void ColorWidget::Bslider_valueChanged(int value)
{
    Slider_SetRgbValue(Rslider->value(), Gslider->value(), value);
}

void ColorWidget::spinboxChanged(QSpinBox* spinbox, int value)
{
    qCDebug(lcWidgets) << value;
    if (value >= 256) {
        spinbox->setValue(255);
        Tip_ColorRange(s_chinese);
    }
}

void ColorWidget::Rspinbox_valueChanged(int value)
{
    spinboxChanged(Rspinbox, value);
}

void ColorWidget::Gspinbox_valueChanged(int value)
{
    spinboxChanged(Gspinbox, value);
}

void ColorWidget::Bspinbox_valueChanged(int value)
{
    spinboxChanged(Bspinbox, value);
}

void ColorWidget::txtRgb_textEdited(QString arg1)
{
    const RgbParse parsed = parseRgbText(arg1);
    qCDebug(lcWidgets) << "rgb parts:" << arg1.split(QLatin1Char(',')).size();
    if (!parsed.wellFormed) {
        Tip_ColorFormat(s_chinese);
        return;
    }
    for (int i = 0; i < parsed.cutCount; ++i)
        Tip_ColorRange(s_chinese);

    // Leave the field being typed in alone unless a value had to be cut.
    m_rgbLive = false;
    txtRgb_SetRabValue(parsed.red, parsed.green, parsed.blue, parsed.cutCount > 0 ? 1 : 0);
    m_rgbLive = true;
}

void ColorWidget::txtWeb_textEdited(QString arg1)
{
    qCDebug(lcWidgets) << "hex length:" << arg1.size();
    const HexParse parsed = parseHexText(arg1);
    if (!parsed.wellFormed) {
        Tip_ColorHexFormat(s_chinese);
        return;
    }
    qCDebug(lcWidgets) << parsed.red << parsed.green << parsed.blue;
    m_hexLive = false;
    txtWeb_SetRabValue(parsed.red, parsed.green, parsed.blue);
    m_hexLive = true;
}

void ColorWidget::onCopyTextButtonClicked()
{
    emit clickCopy();
    m_clipboard->setText(txtWeb->text());
}

void ColorWidget::Tip_ColorRange(bool state)
{
    CommonTip(state ? QStringLiteral("单色值范围0~255")
                    : QStringLiteral("Monochrome values range from 0 to 255"));
}

void ColorWidget::Tip_ColorHexFormat(bool state)
{
    CommonTip(state ? QStringLiteral("格式必须为:#xxxxxx")
                    : QStringLiteral("The format must be:#xxxxxx"));
}

void ColorWidget::Tip_ColorFormat(bool state)
{
    CommonTip(state ? QStringLiteral("格式必须为:r,g,b")
                    : QStringLiteral("The format must be:r,g,b"));
}

void ColorWidget::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient gradient(QPointF(0, 100), QPointF(300, 100));
    gradient.setColorAt(0.0, Qt::red);
    gradient.setColorAt(0.2, QColor(255, 125, 0));
    gradient.setColorAt(0.4, Qt::yellow);
    gradient.setColorAt(0.6, Qt::green);
    gradient.setColorAt(0.8, Qt::blue);
    gradient.setColorAt(0.9, QColor(0, 255, 255));
    gradient.setColorAt(1.0, QColor(255, 0, 255));
    painter.setPen(QPen(Qt::black, 1, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    painter.setBrush(gradient);
    painter.drawRect(kSpectrumRect);
}

void ColorWidget::mousePressEvent(QMouseEvent* event)
{
    if (kSpectrumRect.contains(event->localPos().toPoint()))
        m_picking = true;
    QWidget::mousePressEvent(event);
}

void ColorWidget::mouseReleaseEvent(QMouseEvent* event)
{
    m_picking = false;
    QWidget::mouseReleaseEvent(event);
}
