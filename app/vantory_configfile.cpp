#include "app/vantory.h"
#include "ui_vantory.h"

#include "app/apptexts.h"
#include "engine/enginetexts.h"
#include "model/configfile.h"
#include "model/modellog.h"
#include "widgets/noticewidget.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QSaveFile>

// Opening and saving a configuration file: the raw 512-byte tag image.

namespace
{

constexpr int kRefusalNoticeMs = 3000;

// The dialog captions are the same in both languages.
const QString kOpenCaption = QStringLiteral("打开文件");
const QString kSaveCaption = QStringLiteral("保存文件");

// %1 is the file name, %2 the system's reason or a size.
constexpr BiText kCannotOpen{"无法打开文件“%1”：%2", "Cannot open the file \"%1\": %2"};
constexpr BiText kCannotRead{"无法读取文件“%1”：%2", "Cannot read the file \"%1\": %2"};
constexpr BiText kTooShort{"文件“%1”只有 %2 字节，配置文件必须有 512 字节，未载入任何数据。",
                           "The file \"%1\" is only %2 bytes long; a configuration file has "
                           "512 bytes. Nothing was loaded."};
// %1 is the file name, %2 why (configfile::refusalReason).
constexpr BiText kNotConfiguration{"文件“%1”不是本程序的配置文件：%2。未载入任何数据。",
                                   "The file \"%1\" is not a configuration file of this "
                                   "program: %2. Nothing was loaded."};
constexpr BiText kReplaceFile{"文件“%1”已存在，要替换它吗？",
                              "The file \"%1\" already exists. Do you want to replace it?"};
constexpr BiText kCannotSave{"无法保存文件“%1”：%2", "Cannot save the file \"%1\": %2"};

} // namespace

void Vantory::setFileDialogHook(FileDialogHook hook)
{
    m_file_dialog_hook = std::move(hook);
}

QString Vantory::chooseConfigFile(FileDialogMode mode, const QString& caption,
                                  const QString& proposedName)
{
    const QString filter = configfile::fileFilter();
    // Both dialogs start in the folder of the last file opened or saved.
    const QString start = m_config_folder.isEmpty() || proposedName.isEmpty()
                              ? m_config_folder + proposedName
                              : QDir(m_config_folder).filePath(proposedName);
    QString path;
    if (m_file_dialog_hook) {
        path = m_file_dialog_hook(mode, caption, proposedName, filter);
    } else if (mode == FileDialogMode::Open) {
        path = QFileDialog::getOpenFileName(this, caption, start, filter);
    } else {
        QFileDialog dialog(this, caption, start, filter);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(QStringLiteral("bin"));
        if (dialog.exec() == QDialog::Accepted) {
            const QString chosen = dialog.selectedFiles().value(0);
            path = configfile::withBinSuffix(chosen);
            // The dialog asked about replacing the name typed, not the one saved.
            if (path != chosen && QFile::exists(path) &&
                QMessageBox::question(this, caption,
                                      kReplaceFile.pick(lang_cn).arg(
                                          QDir::toNativeSeparators(path))) != QMessageBox::Yes)
                path.clear();
        }
    }
    // A saved name must end in ".bin", or Open's filter hides the file. The dialogs add it
    // only to names without any dot, and a model name such as "...-1.5A" has one.
    if (mode == FileDialogMode::Save)
        path = configfile::withBinSuffix(path);
    if (!path.isEmpty()) {
        m_config_folder = QFileInfo(path).absolutePath();
        rememberSetting(QStringLiteral("configFolder"), m_config_folder);
    }
    return path;
}

void Vantory::on_actionOpen_BIN_configure_triggered()
{
    const QString path = chooseConfigFile(FileDialogMode::Open, kOpenCaption, QString());
    if (path.isEmpty())
        return; // cancelled
    openConfigFile(path);
}

void Vantory::openConfigFile(const QString& path)
{
    // A write sends from the image while it runs; between the drivers of an auto-write
    // batch a file may be opened and becomes the next driver's template.
    if (m_engine->sequenceRunning()) {
        m_notice->showNotice(this, apptext::OpenRefusedBusy.pick(lang_cn), kRefusalNoticeMs);
        return;
    }
    const QString shownName = QDir::toNativeSeparators(path);

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        showWarningText(kCannotOpen.pick(lang_cn).arg(shownName, file.errorString()));
        return;
    }
    // Only the first 512 bytes are the image; the rest of a longer file is not read.
    QByteArray bytes;
    while (bytes.size() < configfile::FileSize) {
        const QByteArray piece = file.read(configfile::FileSize - bytes.size());
        if (piece.isEmpty())
            break;
        bytes.append(piece);
    }
    if (file.error() != QFileDevice::NoError) {
        showWarningText(kCannotRead.pick(lang_cn).arg(shownName, file.errorString()));
        return;
    }
    file.close();

    const configfile::LoadResult result =
        m_engine->openConfiguration(bytes, QFileInfo(path).fileName());
    if (result.error == configfile::LoadError::TooShort) {
        qCDebug(lcModel) << "configuration file too short:" << path << bytes.size();
        showWarningText(kTooShort.pick(lang_cn).arg(shownName, QString::number(bytes.size())));
        return;
    }
    if (!result.ok()) {
        qCDebug(lcModel) << "not a configuration file:" << path;
        showWarningText(kNotConfiguration.pick(lang_cn).arg(
            shownName, configfile::refusalReason(result, lang_cn != 0)));
        return;
    }
    if (result.repaired)
        showCloCorrectionNotice();
}

void Vantory::on_actionSave_BIN_configure_triggered()
{
    if (refusedWhileTyping())
        return;
    // The clock may not have ticked yet right after start.
    const QDateTime stamp = current_time.isValid() ? current_time : QDateTime::currentDateTime();
    const QString proposed = configfile::proposedFileName(ui->Productlabel->text(), stamp);
    const QString path = chooseConfigFile(FileDialogMode::Save, kSaveCaption, proposed);
    if (path.isEmpty())
        return; // cancelled
    const QString shownName = QDir::toNativeSeparators(path);

    // Written beside the target and renamed over it on commit, so a failed save leaves
    // an existing file as it was.
    QSaveFile file(path);
    // Unbuffered, so that a short write (a full disk) shows in write()'s result; through
    // the buffer Qt can lose it and still commit.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        showWarningText(kCannotSave.pick(lang_cn).arg(shownName, file.errorString()));
        return;
    }

    const QByteArray bytes = m_engine->configurationToSave();
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        showWarningText(kCannotSave.pick(lang_cn).arg(shownName, reason));
        return;
    }
    qCDebug(lcModel) << "configuration saved:" << path;
    // What Write and Auto Scan send is now this file.
    doc().savedAs(QFileInfo(path).fileName());
}
