#include "widgets/titlebar.h"

#include "ui_titlebar.h"

#include <QMouseEvent>

TitleBar::TitleBar(QWidget* parent) : QWidget(parent), m_ui(new Ui::TitleBar)
{
    // setupUi also connects on_pushButtonClose_clicked by name.
    m_ui->setupUi(this);
}

TitleBar::~TitleBar()
{
    delete m_ui;
}

void TitleBar::setTitle(const QString& title)
{
    m_ui->label_Title->setText(title);
}

QString TitleBar::title() const
{
    return m_ui->label_Title->text();
}

void TitleBar::on_pushButtonClose_clicked()
{
    window()->close();
}

void TitleBar::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        m_pressed = true;
        m_lastPoint = event->screenPos().toPoint();
    }
}

void TitleBar::mouseMoveEvent(QMouseEvent* event)
{
    if (m_pressed) {
        const QPoint global = event->screenPos().toPoint();
        if (QWidget* dialog = parentWidget())
            dialog->move(dialog->pos() + (global - m_lastPoint));
        m_lastPoint = global;
    }
}

void TitleBar::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        m_pressed = false;
}
