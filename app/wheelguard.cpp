#include "app/wheelguard.h"

#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QEvent>
#include <QWidget>

WheelGuard* WheelGuard::install(QWidget* pane)
{
    auto* guard = new WheelGuard(pane);
    for (QAbstractSlider* slider : pane->findChildren<QAbstractSlider*>())
        guard->guard(slider);
    for (QAbstractSpinBox* box : pane->findChildren<QAbstractSpinBox*>())
        guard->guard(box);
    return guard;
}

void WheelGuard::guard(QWidget* widget)
{
    // With the default wheel focus, the wheel would first give the control the focus and
    // then edit it; a click or Tab still does.
    widget->setFocusPolicy(Qt::StrongFocus);
    widget->installEventFilter(this);
}

bool WheelGuard::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Wheel) {
        const auto* widget = qobject_cast<QWidget*>(watched);
        if (widget && !widget->hasFocus()) {
            // Kept from the control but left unaccepted, so Qt hands it to the parents.
            event->ignore();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}
