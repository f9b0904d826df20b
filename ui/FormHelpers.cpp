#include "ui/FormHelpers.h"

#include <charconv>
#include <cmath>
#include <cstdint>

#include <QComboBox>
#include <QLabel>
#include <QSlider>
#include <QTextDocument>

#include "dsp/EqPresets.h"
#include "platform/Text.h"
#include "ui/Lang.h"

int RoundHalfEven(double AValue)
{
    const double r = std::nearbyint(AValue);
    if (!(r >= INT32_MIN)) // NaN too
        return INT32_MIN;
    if (r > INT32_MAX)
        return INT32_MAX;
    return static_cast<int>(r);
}

int StrToIntDef(const QString& AText, int ADefault)
{
    const std::string text = AText.toStdString();
    const char* first = text.data();
    const char* last = first + text.size();
    if (first != last && *first == '+')
        ++first;
    int32_t value = 0;
    const auto res = std::from_chars(first, last, value);
    if (first == last || res.ec != std::errc() || res.ptr != last)
        return ADefault;
    return value;
}

QLabel* NewLabel(QWidget* AParent, int AX, int AY, const QFont& AFont)
{
    auto* label = new QLabel(AParent);
    label->setFont(AFont);
    label->move(AX, AY);
    return label;
}

QLabel* NewCentredLabel(QWidget* AParent, int AX, int AY, int AWidth, const QFont& AFont)
{
    auto* label = new QLabel(AParent);
    label->setFont(AFont);
    label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    label->setGeometry(AX, AY, AWidth, label->fontMetrics().height() + 2);
    return label;
}

void SetTextColor(QWidget* AWidget, const QColor& AColor)
{
    QPalette p = AWidget->palette();
    p.setColor(QPalette::WindowText, AColor);
    p.setColor(QPalette::Text, AColor);
    AWidget->setPalette(p);
}

void SetBackground(QWidget* AWidget, const QColor& AColor)
{
    QPalette p = AWidget->palette();
    p.setColor(QPalette::Window, AColor);
    AWidget->setPalette(p);
    AWidget->setAutoFillBackground(true);
}

void SetupBandSlider(QSlider* ASlider)
{
    ASlider->setOrientation(Qt::Vertical);
    ASlider->setRange(-12, 12);
    ASlider->setSingleStep(1);
    ASlider->setPageStep(3);
    ASlider->setTickInterval(3);
    ASlider->setTickPosition(QSlider::TicksBothSides);
    ASlider->setInvertedAppearance(true); // minimum at the top
    ASlider->setInvertedControls(true);
    // The tick marks are drawn in a shade of the window colour: a mid grey
    // keeps them visible on the dark panel as on the white dialog.
    QPalette p = ASlider->palette();
    p.setColor(QPalette::Window, QColor(0x9A, 0xA3, 0xAA));
    ASlider->setPalette(p);
}

void FillEqPresetCombo(QComboBox* ACombo, const std::string& ALangCode)
{
    ACombo->clear();
    for (const char* name : EqPresetNames)
        ACombo->addItem(QStr(Translate(ALangCode, std::string("preset_") + name)));
}

int FindComboText(QComboBox* ACombo, const QString& AText)
{
    for (int i = 0; i < ACombo->count(); ++i)
        if (ACombo->itemText(i).compare(AText, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

void SelectEqPresetEntry(QComboBox* ACombo, const std::string& ALangCode, const std::string& APreset)
{
    const std::string text = Translate(ALangCode, "preset_" + AsciiLower(APreset));
    ACombo->setCurrentIndex(FindComboText(ACombo, QStr(text)));
}

QString PlainTip(const QString& AText)
{
    if (!Qt::mightBeRichText(AText))
        return AText;
    return "<p style='white-space:pre-wrap'>" + AText.toHtmlEscaped() + "</p>";
}
