#include "widgets/myslider.h"

#include "ui_myslider.h"
#include "widgets/boundedspinbox.h"

myslider::myslider(QWidget* parent) : QWidget(parent), m_ui(new Ui::myslider)
{
    m_ui->setupUi(this);
    m_ui->widget->setStyleSheet(QStringLiteral("#widget{border:1px solid rgb(219,219,219)}"));
    m_ui->CurrentSlider->setStyleSheet(QStringLiteral(
        "QSlider::handle:horizontal{width:12px;background-color:rgb(232,232,232);margin:-4px "
        "0px -4px 0px;border-radius:6px;}QSlider::groove:horizontal{height:4px;background-"
        "color:rgb(219,219,219);}QSlider::add-page:horizontal{background-color:rgb(219,219,219)"
        ";}QSlider::sub-page:horizontal{background-color:rgb(26,110,217);}"));

    // Each control mirrors the other; the loop ends because an unchanged value is not signalled.
    connect(m_ui->CurrentspinBox, qOverload<int>(&QSpinBox::valueChanged), m_ui->CurrentSlider,
            &QSlider::setValue);
    connect(m_ui->CurrentSlider, &QSlider::valueChanged, m_ui->CurrentspinBox, &QSpinBox::setValue);
    // The slider holds the value; the box follows it, and gives it a typed number only
    // when the typing is finished.
    connect(m_ui->CurrentSlider, &QSlider::valueChanged, this, &myslider::valueChanged);
    connect(m_ui->CurrentspinBox, &BoundedSpinBox::heldAtLimit, this, &myslider::heldAtLimit);
}

bool myslider::editPending() const
{
    return m_ui->CurrentspinBox->editPending();
}

myslider::~myslider()
{
    delete m_ui;
}

void myslider::setRange(const QString& title, int minimum, int maximum, const QString& unit)
{
    Q_UNUSED(unit)
    m_ui->label_currentname->setText(title);
    m_ui->CurrentSlider->setMinimum(minimum);
    m_ui->CurrentSlider->setMaximum(maximum);
    m_ui->CurrentspinBox->setMinimum(minimum);
    m_ui->CurrentspinBox->setMaximum(maximum);
    m_ui->MinCurrentlabel->setText(QString::number(minimum));
    m_ui->MaxCurrentlabel->setText(QString::number(maximum));
}

void myslider::setValue(int value)
{
    m_ui->CurrentSlider->setValue(value);
}

int myslider::value() const
{
    return m_ui->CurrentSlider->value();
}

void myslider::setLabels(const QString& channelLabel, const QString& currentLabel)
{
    Q_UNUSED(channelLabel)
    m_ui->label_currentname->setText(currentLabel);
}

int myslider::spinBoxValue() const
{
    return m_ui->CurrentspinBox->value();
}

int myslider::spinBoxMinimum() const
{
    return m_ui->CurrentspinBox->minimum();
}

int myslider::spinBoxMaximum() const
{
    return m_ui->CurrentspinBox->maximum();
}

int myslider::sliderMinimum() const
{
    return m_ui->CurrentSlider->minimum();
}

int myslider::sliderMaximum() const
{
    return m_ui->CurrentSlider->maximum();
}

QString myslider::title() const
{
    return m_ui->label_currentname->text();
}

QString myslider::minimumText() const
{
    return m_ui->MinCurrentlabel->text();
}

QString myslider::maximumText() const
{
    return m_ui->MaxCurrentlabel->text();
}
