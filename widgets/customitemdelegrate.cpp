#include "widgets/customitemdelegrate.h"

#include <QLineEdit>
#include <QRegExpValidator>

CustomItemDelegrate::CustomItemDelegrate(const QRegExp& pattern, QObject* parent)
    : QStyledItemDelegate(parent), m_pattern(pattern)
{
}

QWidget* CustomItemDelegrate::createEditor(QWidget* parent, const QStyleOptionViewItem&,
                                           const QModelIndex&) const
{
    auto* editor = new QLineEdit(parent);
    // The validator goes with its editor; parented to the view it would outlive every
    // edit and pile up for as long as the table lives.
    editor->setValidator(new QRegExpValidator(m_pattern, editor));
    return editor;
}

void CustomItemDelegrate::setEditorData(QWidget* editor, const QModelIndex& index) const
{
    if (auto* lineEdit = qobject_cast<QLineEdit*>(editor))
        lineEdit->setText(index.data(Qt::EditRole).toString());
}

void CustomItemDelegrate::setModelData(QWidget* editor, QAbstractItemModel* model,
                                       const QModelIndex& index) const
{
    if (auto* lineEdit = qobject_cast<QLineEdit*>(editor))
        model->setData(index, lineEdit->text(), Qt::EditRole);
}
