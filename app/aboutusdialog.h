#pragma once

#include <QDialog>
#include <QString>

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

  private slots:
    void on_confiirmbtn_clicked();
    void Display_Image(QString imagepath);
    void Display_Icon(QString imagepath);

  private:
    Ui::AboutUsDialog* ui;
};
