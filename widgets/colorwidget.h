#pragma once

#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>

class QClipboard;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QSpinBox;
class QTimer;

/// RGB colour picker: a screen-picking spectrum, sliders, spin boxes and
/// editable "r,g,b" and "#RRGGBB" fields.
class ColorWidget : public QWidget
{
    Q_OBJECT

  public:
    /// Receives a warning instead of the modal box (title, text).
    using WarningHook = std::function<void(const QString&, const QString&)>;

    /// A parsed "r,g,b" text.
    struct RgbParse {
        bool wellFormed = false; ///< exactly three comma-separated parts
        int red = 0;
        int green = 0;
        int blue = 0;
        int cutCount = 0; ///< values that had to be brought into 0..255
    };
    /// A parsed "#rrggbb" text.
    struct HexParse {
        bool wellFormed = false;
        int red = 0;
        int green = 0;
        int blue = 0;
    };

    explicit ColorWidget(QWidget* parent = nullptr);

    static void setLanguage(bool chinese);
    static bool language();
    /// Installs a receiver for warnings; an empty hook restores the modal box.
    static void setWarningHook(WarningHook hook);

    static QString rgbText(int red, int green, int blue);
    static QString hexText(int red, int green, int blue);
    /// True when the colour is light enough to need dark text on it.
    static bool isLight(int red, int green, int blue);
    static QString swatchStyle(int red, int green, int blue);
    static int hexDigitValue(QChar c);
    static RgbParse parseRgbText(const QString& text);
    static HexParse parseHexText(const QString& text);
    static QString slideStyle(const QString& subcolor);

    // The children, for the window's wiring and for tests.
    QSlider* redSlider() const { return Rslider; }
    QSlider* greenSlider() const { return Gslider; }
    QSlider* blueSlider() const { return Bslider; }
    QSpinBox* redSpinBox() const { return Rspinbox; }
    QSpinBox* greenSpinBox() const { return Gspinbox; }
    QSpinBox* blueSpinBox() const { return Bspinbox; }
    QLineEdit* rgbEdit() const { return txtRgb; }
    QLineEdit* hexEdit() const { return txtWeb; }
    QLabel* swatch() const { return m_swatch; }
    QPushButton* copyButton() const { return m_copyButton; }
    bool isPicking() const { return m_picking; }

  signals:
    void clickCopy();

  private slots:
    void showColorValue();
    void Slider_SetRgbValue(int red, int green, int blue);
    void txtRgb_SetRabValue(int red, int green, int blue, uint8_t flag);
    void txtWeb_SetRabValue(int red, int green, int blue);
    void CommonTip(QString tip);
    int ConvertHexChar(QChar c);
    QString SetSlideStyle(QString subcolor);
    void Rslider_valueChanged(int value);
    void Gslider_valueChanged(int value);
    void Bslider_valueChanged(int value);
    void Rspinbox_valueChanged(int value);
    void Gspinbox_valueChanged(int value);
    void Bspinbox_valueChanged(int value);
    void txtRgb_textEdited(QString arg1);
    void txtWeb_textEdited(QString arg1);
    void onCopyTextButtonClicked();
    void Tip_ColorRange(bool state);
    void Tip_ColorHexFormat(bool state);
    void Tip_ColorFormat(bool state);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    void spinboxChanged(QSpinBox* spinbox, int value);
    void setSpinValues(int red, int green, int blue);

    static bool s_chinese;
    static WarningHook s_warningHook;

    QClipboard* m_clipboard = nullptr;
    bool m_picking = false;
    QTimer* m_pickTimer = nullptr;
    bool m_rgbLive = true;
    bool m_hexLive = true;
    QSlider* Rslider = nullptr;
    QSlider* Gslider = nullptr;
    QSlider* Bslider = nullptr;
    QSpinBox* Rspinbox = nullptr;
    QSpinBox* Gspinbox = nullptr;
    QSpinBox* Bspinbox = nullptr;
    QLineEdit* txtRgb = nullptr;
    QLineEdit* txtWeb = nullptr;
    QLabel* m_swatch = nullptr;
    QLabel* m_swatchCaption = nullptr;
    QPushButton* m_copyButton = nullptr;
};
