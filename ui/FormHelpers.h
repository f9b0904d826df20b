#pragma once

#include <string>

#include <QString>

class QColor;
class QComboBox;
class QFont;
class QLabel;
class QSlider;
class QWidget;

// Small pieces the window and the settings dialog share.

inline QString QStr(const std::string& AText)
{
    return QString::fromStdString(AText);
}

inline std::string StdStr(const QString& AText)
{
    return AText.toStdString();
}

// A tooltip that shows AText as it is: text that looks like markup (a
// server's words may) is escaped, line breaks kept.
QString PlainTip(const QString& AText);

// Nearest integer, halves to the even neighbour.
int RoundHalfEven(double AValue);

// The whole text as a 32-bit decimal integer; ADefault when it is not one.
int StrToIntDef(const QString& AText, int ADefault);

// A label that sizes itself to its text, its top-left corner at (AX, AY).
QLabel* NewLabel(QWidget* AParent, int AX, int AY, const QFont& AFont);
// A label of fixed width whose text is centred in it.
QLabel* NewCentredLabel(QWidget* AParent, int AX, int AY, int AWidth, const QFont& AFont);
void SetTextColor(QWidget* AWidget, const QColor& AColor);
void SetBackground(QWidget* AWidget, const QColor& AColor);

// Vertical band slider: -12 dB at the top, +12 at the bottom, steps of 1,
// a tick every 3 on both sides.
void SetupBandSlider(QSlider* ASlider);

// Clears the list and adds the five preset names in the language, in the
// order of EqPresetNames.
void FillEqPresetCombo(QComboBox* ACombo, const std::string& ALangCode);
// Selects the entry showing the preset's translated name, ignoring case;
// none for a preset without one ("custom").
void SelectEqPresetEntry(QComboBox* ACombo, const std::string& ALangCode, const std::string& APreset);
// The entry equal to AText ignoring case, or -1.
int FindComboText(QComboBox* ACombo, const QString& AText);
