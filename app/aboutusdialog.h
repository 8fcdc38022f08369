#pragma once

#include <QDialog>
#include <QString>

class QLabel;

namespace Ui
{
class AboutUsDialog;
}

/// Frameless dialog with the product image, the software's purpose, version and rights.
class AboutUsDialog : public QDialog
{
    Q_OBJECT

  public:
    explicit AboutUsDialog(QWidget* parent = nullptr);
    ~AboutUsDialog() override;

    /// Sets the dialog's texts in the given language.
    void Set_Language(bool chinese);
    /// Shows where the production records are kept, as a link that opens the folder;
    /// empty hides the line.
    void setRecordFolder(const QString& folder);

  private slots:
    void on_confiirmbtn_clicked();
    void Display_Image(QString imagepath);
    void Display_Icon(QString imagepath);

  private:
    void showRecordFolder();

    Ui::AboutUsDialog* ui;
    QLabel* m_records = nullptr;
    QString m_record_folder;
    bool m_chinese = false;
};
