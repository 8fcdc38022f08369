#include "widgets/boundedspinbox.h"

#include <QKeyEvent>
#include <QLineEdit>

namespace
{
// Enough digits for any range the program sets (currents, kelvin).
constexpr int kMaxDigits = 6;
} // namespace

BoundedSpinBox::BoundedSpinBox(QWidget* parent) : QSpinBox(parent)
{
    // Half-typed numbers ("4" of "480") are no values: nothing is taken until Enter.
    setKeyboardTracking(false);
    connect(this, &QAbstractSpinBox::editingFinished, this, &BoundedSpinBox::announceHeld);
}

bool BoundedSpinBox::editPending() const
{
    return cleanText() != textFromValue(value());
}

bool BoundedSpinBox::typedNumber(const QString& text, int* number) const
{
    QString plain = text;
    if (!prefix().isEmpty() && plain.startsWith(prefix()))
        plain.remove(0, prefix().size());
    if (!suffix().isEmpty() && plain.endsWith(suffix()))
        plain.chop(suffix().size());
    plain = plain.trimmed();
    if (plain.isEmpty() || plain.size() > kMaxDigits)
        return false;
    for (const QChar c : plain)
        if (!c.isDigit())
            return false;
    bool ok = false;
    *number = plain.toInt(&ok);
    return ok;
}

QValidator::State BoundedSpinBox::validate(QString& text, int& pos) const
{
    const QValidator::State state = QSpinBox::validate(text, pos);
    int number = 0;
    // A whole number above the range is refused by QSpinBox key by key ("900" becomes
    // "90"); it is let through here and held at the limit when the typing is finished.
    if (state == QValidator::Invalid && typedNumber(text, &number))
        return QValidator::Intermediate;
    return state;
}

void BoundedSpinBox::fixup(QString& input) const
{
    int typed = 0;
    if (!typedNumber(input, &typed) || (typed >= minimum() && typed <= maximum())) {
        QSpinBox::fixup(input);
        return;
    }
    m_held = true;
    m_typed = typed;
    m_limit = typed < minimum() ? minimum() : maximum();
    input = prefix() + textFromValue(m_limit) + suffix();
}

void BoundedSpinBox::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && editPending()) {
        lineEdit()->setText(prefix() + textFromValue(value()) + suffix());
        selectAll();
        event->accept();
        return;
    }
    QSpinBox::keyPressEvent(event);
}

void BoundedSpinBox::announceHeld()
{
    if (!m_held)
        return;
    m_held = false;
    emit heldAtLimit(m_typed, m_limit);
}
