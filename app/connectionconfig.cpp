#include "app/connectionconfig.h"
#include "ui_connectionconfig.h"

#include "app/apptexts.h"

#include <QCheckBox>
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

void ConnectionConfig::setReaderChoice(ReaderType reader)
{
    // The list holds FEIG first, then the R321.
    const int index = reader == ReaderType::Feig ? 0 : reader == ReaderType::R321 ? 1 : -1;
    if (index >= 0 && index < ui->comboBox_Reader->count())
        ui->comboBox_Reader->setCurrentIndex(index);
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
    const int index = ui->comboBox_Reader->currentIndex();
    if (index == 0)
        emit readerChosen(ReaderType::Feig);
    else if (index == 1)
        emit readerChosen(ReaderType::R321);
}
