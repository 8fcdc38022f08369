#include "app/aboutusdialog.h"
#include "ui_aboutusdialog.h"

#include "app/apptexts.h"
#include "app/branding.h"
#include "app/uilog.h"

#include <QDir>
#include <QFont>
#include <QLabel>
#include <QUrl>
#include <QImage>
#include <QPixmap>

AboutUsDialog::AboutUsDialog(QWidget* parent) : QDialog(parent), ui(new Ui::AboutUsDialog)
{
    ui->setupUi(this);

    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(12);
    setFont(font);

    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    // Without a parent this is a window of its own; closing the main window must still
    // end the program while it is open.
    setAttribute(Qt::WA_QuitOnClose, false);

    m_records = new QLabel(this);
    m_records->setObjectName(QStringLiteral("label_Records"));
    m_records->setAlignment(Qt::AlignCenter);
    m_records->setWordWrap(true);
    m_records->setStyleSheet(QStringLiteral("color: rgb(140, 140, 140);\nfont: 12px;"));
    // The link opens the folder in the system's file manager.
    m_records->setOpenExternalLinks(true);
    m_records->setTextInteractionFlags(Qt::TextBrowserInteraction);
    m_records->hide();
    ui->verticalLayout->addWidget(m_records);

    Set_Language(false);
    Display_Icon(branding::aboutImage());
}

AboutUsDialog::~AboutUsDialog()
{
    delete ui;
}

void AboutUsDialog::Set_Language(bool chinese)
{
    ui->widget_title->setTitle(apptext::AboutTitle.pick(chinese));
    ui->label_Configuration->setText(apptext::AboutConfiguration.pick(chinese));
    ui->label_Version->setText(apptext::AboutVersion.pick(chinese));
    ui->label_company->setText(apptext::AboutCompany.pick(chinese));
    ui->label_Reserved->setText(apptext::AboutRights.pick(chinese));
    m_chinese = chinese;
    showRecordFolder();
}

void AboutUsDialog::setRecordFolder(const QString& folder)
{
    m_record_folder = folder;
    showRecordFolder();
}

void AboutUsDialog::showRecordFolder()
{
    if (!m_records)
        return;
    m_records->setVisible(!m_record_folder.isEmpty());
    const QString url = QUrl::fromLocalFile(m_record_folder).toString(QUrl::FullyEncoded);
    m_records->setText(QStringLiteral("%1<br><a href=\"%2\">%3</a>")
                           .arg(apptext::AboutRecords.pick(m_chinese).toHtmlEscaped(), url,
                                QDir::toNativeSeparators(m_record_folder).toHtmlEscaped()));
}

void AboutUsDialog::on_confiirmbtn_clicked()
{
    qCDebug(lcUi) << "close";
    close();
}

void AboutUsDialog::Display_Image(QString imagepath)
{
    // Kept for the form's slot list: prepares a scaled copy that nothing shows.
    const QImage image(imagepath);
    const QImage scaled = image.scaled(280, 211, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    Q_UNUSED(scaled);
}

void AboutUsDialog::Display_Icon(QString imagepath)
{
    const QPixmap pixmap = QPixmap::fromImage(QImage(imagepath));
    ui->iconlabel->setPixmap(pixmap);
    ui->iconlabel->resize(pixmap.size());
}
