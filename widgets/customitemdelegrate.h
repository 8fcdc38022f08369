#pragma once

#include <QRegExp>
#include <QStyledItemDelegate>

/// Edits a table cell in a line edit that accepts only text matching a pattern.
class CustomItemDelegrate : public QStyledItemDelegate
{
    Q_OBJECT

  public:
    CustomItemDelegrate(const QRegExp& pattern, QObject* parent = nullptr);

    QRegExp pattern() const { return m_pattern; }

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override;

  private:
    QRegExp m_pattern;
};
