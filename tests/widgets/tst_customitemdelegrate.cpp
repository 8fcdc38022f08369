#include "widgets/customitemdelegrate.h"

#include <QLineEdit>
#include <QStandardItemModel>
#include <QTableWidget>
#include <QtTest>

namespace
{

// The two patterns of the constant-lumen table.
const QRegExp kTimePattern(QStringLiteral("^([0-9]|[1-9]\\d|[1][0][0])$"));
const QRegExp kLevelPattern(QStringLiteral("^([1-9]|[1-9]\\d|[1][0][0])$"));

} // namespace

class TstCustomItemDelegrate : public QObject
{
    Q_OBJECT
  private slots:
    void editor_acceptsOnlyPattern_data();
    void editor_acceptsOnlyPattern();
    void typing_refusedCharactersNeverAppear_data();
    void typing_refusedCharactersNeverAppear();
    void editorData_roundTripsThroughModel();
    void tableRows_useTheirOwnDelegate();
};

void TstCustomItemDelegrate::editor_acceptsOnlyPattern_data()
{
    QTest::addColumn<bool>("levelRow");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("time 0") << false << "0" << true;
    QTest::newRow("level 0") << true << "0" << false;
    QTest::newRow("time 100") << false << "100" << true;
    QTest::newRow("level 100") << true << "100" << true;
    QTest::newRow("time 101") << false << "101" << false;
    QTest::newRow("level 101") << true << "101" << false;
    QTest::newRow("time 07") << false << "07" << false;
    QTest::newRow("level 07") << true << "07" << false;
    QTest::newRow("level 1") << true << "1" << true;
    QTest::newRow("time 55") << false << "55" << true;
    QTest::newRow("time 1000") << false << "1000" << false;
    QTest::newRow("time -1") << false << "-1" << false;
    QTest::newRow("time empty") << false << "" << false;
    QTest::newRow("time with blank") << false << "5 " << false;
}

void TstCustomItemDelegrate::editor_acceptsOnlyPattern()
{
    QFETCH(bool, levelRow);
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    CustomItemDelegrate delegate(levelRow ? kLevelPattern : kTimePattern, nullptr);
    QWidget parent;
    QWidget* editor = delegate.createEditor(&parent, QStyleOptionViewItem(), QModelIndex());
    auto* lineEdit = qobject_cast<QLineEdit*>(editor);
    QVERIFY(lineEdit);
    QCOMPARE(lineEdit->parentWidget(), &parent);
    QVERIFY(lineEdit->validator());
    // Owned by its editor, so closing an editor leaves nothing behind on the view.
    QCOMPARE(lineEdit->validator()->parent(), static_cast<QObject*>(lineEdit));
    int pos = 0;
    QString input = text;
    const bool acceptable = lineEdit->validator()->validate(input, pos) == QValidator::Acceptable;
    QCOMPARE(acceptable, accepted);
}

void TstCustomItemDelegrate::typing_refusedCharactersNeverAppear_data()
{
    QTest::addColumn<bool>("levelRow");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<bool>("acceptable");
    QTest::newRow("time 07") << false << "07"
                             << "0" << true;
    QTest::newRow("time 101") << false << "101"
                              << "10" << true;
    QTest::newRow("level 0") << true << "0"
                             << "" << false;
    QTest::newRow("level 42") << true << "42"
                              << "42" << true;
    QTest::newRow("level a1") << true << "a1"
                              << "1" << true;
}

void TstCustomItemDelegrate::typing_refusedCharactersNeverAppear()
{
    QFETCH(bool, levelRow);
    QFETCH(QString, keys);
    QFETCH(QString, shown);
    QFETCH(bool, acceptable);
    CustomItemDelegrate delegate(levelRow ? kLevelPattern : kTimePattern, nullptr);
    QWidget parent;
    auto* lineEdit = qobject_cast<QLineEdit*>(
        delegate.createEditor(&parent, QStyleOptionViewItem(), QModelIndex()));
    QVERIFY(lineEdit);
    QTest::keyClicks(lineEdit, keys);
    QCOMPARE(lineEdit->text(), shown);
    QCOMPARE(lineEdit->hasAcceptableInput(), acceptable);
}

void TstCustomItemDelegrate::editorData_roundTripsThroughModel()
{
    QStandardItemModel model(2, 16);
    model.setData(model.index(0, 3), 15);
    CustomItemDelegrate delegate(kTimePattern, nullptr);
    QWidget parent;
    QWidget* editor = delegate.createEditor(&parent, QStyleOptionViewItem(), model.index(0, 3));
    delegate.setEditorData(editor, model.index(0, 3));
    auto* lineEdit = qobject_cast<QLineEdit*>(editor);
    QCOMPARE(lineEdit->text(), QStringLiteral("15"));

    lineEdit->setText(QStringLiteral("40"));
    delegate.setModelData(editor, &model, model.index(0, 3));
    const QVariant stored = model.data(model.index(0, 3), Qt::EditRole);
    QCOMPARE(stored.userType(), static_cast<int>(QMetaType::QString));
    QCOMPARE(stored.toString(), QStringLiteral("40"));
    QCOMPARE(delegate.pattern(), kTimePattern);
}

void TstCustomItemDelegrate::tableRows_useTheirOwnDelegate()
{
    QTableWidget table(2, 16);
    CustomItemDelegrate timeDelegate(kTimePattern, nullptr);
    CustomItemDelegrate levelDelegate(kLevelPattern, nullptr);
    table.setItemDelegateForRow(0, &timeDelegate);
    table.setItemDelegateForRow(1, &levelDelegate);
    table.setItem(1, 2, new QTableWidgetItem(QStringLiteral("92")));
    table.show();
    QVERIFY(QTest::qWaitForWindowExposed(&table));

    table.editItem(table.item(1, 2));
    auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    QVERIFY(editor);
    QCOMPARE(editor->text(), QStringLiteral("92"));
    editor->selectAll();
    QTest::keyClicks(editor, QStringLiteral("0"));
    QCOMPARE(editor->text(), QStringLiteral("92")); // a lone 0 is refused in the Level row
    editor->selectAll();
    QTest::keyClicks(editor, QStringLiteral("77"));
    QTest::keyClick(editor, Qt::Key_Return);
    QTRY_COMPARE(table.item(1, 2)->text(), QStringLiteral("77")); // committed queued
}

QTEST_MAIN(TstCustomItemDelegrate)
#include "tst_customitemdelegrate.moc"
