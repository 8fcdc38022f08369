#include "app/connectionconfig.h"
#include "ui_connectionconfig.h"

#include "app/apptexts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QListView>
#include <QSignalBlocker>

ConnectionConfig::ConnectionConfig(QWidget* parent) : QDialog(parent), ui(new Ui::ConnectionConfig)
{
    ui->setupUi(this);

    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(12);
    setFont(font);

    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);

    // The item height of the style sheet applies only with a plain list view as popup.
    ui->comboBox_Reader->setStyleSheet(
        QStringLiteral("QComboBox { min-height: 40px; min-width: 60px;}QComboBox "
                       "QAbstractItemView::item { min-height: 40px; min-width: 60px;}"));
    ui->comboBox_Reader->setView(new QListView(ui->comboBox_Reader));

    // Takes effect at once, connected or not: it changes only what follows a write.
    connect(ui->checkBox_Verify, &QCheckBox::toggled, this, &ConnectionConfig::verifyChosen);
    connect(ui->checkBox_FastBatch, &QCheckBox::toggled, this, &ConnectionConfig::fastBatchChosen);

    Set_Language(false);
}

ConnectionConfig::~ConnectionConfig()
{
    delete ui;
}

void ConnectionConfig::Set_Language(bool chinese)
{
    ui->widget_title->setTitle(apptext::ConnectionTitle.pick(chinese));
    ui->label_Select->setText(apptext::ReaderBrand.pick(chinese));
    ui->pushButton_Connect->setText(apptext::ConnectOk.pick(chinese));
    ui->checkBox_Verify->setText(apptext::VerifyAfterWrite.pick(chinese));
    ui->checkBox_FastBatch->setText(apptext::FastBatch.pick(chinese));
    ui->checkBox_FastBatch->setToolTip(apptext::FastBatchTip.pick(chinese));
    dlg_lang_cn = chinese ? 1 : 0;
}

namespace
{

// The list holds FEIG first, then the R321, then the readers present one by one.
constexpr int kFirstOfKind = 2;

} // namespace

int ConnectionConfig::addReader(const ReaderChoice& reader)
{
    QComboBox* combo = ui->comboBox_Reader;
    if (reader.identity.isEmpty())
        return reader.type == ReaderType::Feig ? 0 : reader.type == ReaderType::R321 ? 1 : -1;
    for (int i = kFirstOfKind; i < combo->count(); ++i)
        if (combo->itemData(i, Qt::UserRole).toInt() == int(reader.type) &&
            combo->itemData(i, Qt::UserRole + 1).toString() == reader.identity)
            return i;
    const int kind = reader.type == ReaderType::Feig ? 0 : 1;
    combo->addItem(combo->itemText(kind) + QStringLiteral("  ") + reader.identity);
    const int index = combo->count() - 1;
    combo->setItemData(index, int(reader.type), Qt::UserRole);
    combo->setItemData(index, reader.identity, Qt::UserRole + 1);
    return index;
}

void ConnectionConfig::setReaderChoice(const ReaderChoice& reader)
{
    const int index = addReader(reader);
    if (index >= 0 && index < ui->comboBox_Reader->count())
        ui->comboBox_Reader->setCurrentIndex(index);
}

void ConnectionConfig::setReadersPresent(const QVector<ReaderChoice>& readers)
{
    const ReaderChoice chosen = readerChoice();
    QComboBox* combo = ui->comboBox_Reader;
    while (combo->count() > kFirstOfKind)
        combo->removeItem(combo->count() - 1);
    for (const ReaderChoice& r : readers)
        addReader(r);
    setReaderChoice(chosen);
}

ReaderChoice ConnectionConfig::readerChoice() const
{
    const int index = ui->comboBox_Reader->currentIndex();
    if (index == 0)
        return {ReaderType::Feig, QString()};
    if (index == 1)
        return {ReaderType::R321, QString()};
    if (index < 0)
        return {};
    return {ReaderType(ui->comboBox_Reader->itemData(index, Qt::UserRole).toInt()),
            ui->comboBox_Reader->itemData(index, Qt::UserRole + 1).toString()};
}

void ConnectionConfig::setVerifyChoice(bool on)
{
    const QSignalBlocker quiet(ui->checkBox_Verify);
    ui->checkBox_Verify->setChecked(on);
}

void ConnectionConfig::setFastBatchChoice(bool on)
{
    const QSignalBlocker quiet(ui->checkBox_FastBatch);
    ui->checkBox_FastBatch->setChecked(on);
}

void ConnectionConfig::on_pushButton_Connect_clicked()
{
    close();
    const ReaderChoice chosen = readerChoice();
    if (chosen.type != ReaderType::None)
        emit readerChosen(chosen);
}
