#include "ui/Theme.h"

#include <QApplication>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>

namespace {

// Standard controls only: the window paints its own panels and labels.
const char* const KRubyGraphiteSheet = R"(
QPushButton {
    background-color: #2E3238; color: #F2F2F2;
    border: 1px solid #4A5058; border-radius: 3px; padding: 2px 10px;
}
QPushButton:hover { background-color: #383D44; border-color: #C2253D; }
QPushButton:pressed { background-color: #8E1B2C; border-color: #E0465C; }
QPushButton:default { border-color: #C2253D; }
QPushButton:disabled { color: #6B7279; background-color: #23262A; border-color: #33373C; }
QComboBox, QLineEdit {
    background-color: #2A2E33; color: #F2F2F2;
    border: 1px solid #4A5058; border-radius: 2px; padding: 1px 5px;
    selection-background-color: #9E1B32; selection-color: #FFFFFF;
}
QComboBox:hover, QComboBox:focus, QLineEdit:focus { border-color: #C2253D; }
QComboBox:disabled, QLineEdit:disabled { color: #6B7279; background-color: #23262A; }
QComboBox QAbstractItemView {
    background-color: #24272B; color: #F2F2F2; border: 1px solid #4A5058;
    selection-background-color: #9E1B32; selection-color: #FFFFFF;
}
QCheckBox { spacing: 6px; }
QCheckBox::indicator {
    width: 13px; height: 13px; border: 1px solid #5A616A; border-radius: 2px; background: #2A2E33;
}
QCheckBox::indicator:hover { border-color: #C2253D; }
QCheckBox::indicator:checked { background: #C2253D; border-color: #E0465C; }
QTabWidget::pane { border: 1px solid #3A3F45; top: -1px; }
QTabBar::tab {
    background: #2A2E33; color: #D8DDE1; border: 1px solid #3A3F45; border-bottom: none;
    padding: 4px 14px; margin-right: 2px; border-top-left-radius: 3px; border-top-right-radius: 3px;
}
QTabBar::tab:selected { background: #9E1B32; color: #FFFFFF; border-color: #C2253D; }
QTabBar::tab:hover:!selected { background: #383D44; }
QMessageBox { background-color: #1E2125; }
QMessageBox QLabel { color: #F2F2F2; }
QToolTip { background-color: #2A2E33; color: #F2F2F2; border: 1px solid #C2253D; }
)";

QPalette RubyGraphitePalette()
{
    QPalette p;
    p.setColor(QPalette::Window, QColor(0x1E, 0x21, 0x25));
    p.setColor(QPalette::WindowText, QColor(0xF2, 0xF2, 0xF2));
    p.setColor(QPalette::Base, QColor(0x2A, 0x2E, 0x33));
    p.setColor(QPalette::AlternateBase, QColor(0x24, 0x27, 0x2B));
    p.setColor(QPalette::Text, QColor(0xF2, 0xF2, 0xF2));
    p.setColor(QPalette::Button, QColor(0x2E, 0x32, 0x38));
    p.setColor(QPalette::ButtonText, QColor(0xF2, 0xF2, 0xF2));
    p.setColor(QPalette::Highlight, QColor(0xC2, 0x25, 0x3D));
    p.setColor(QPalette::HighlightedText, QColor(0xFF, 0xFF, 0xFF));
    p.setColor(QPalette::Light, QColor(0x4A, 0x50, 0x58));
    p.setColor(QPalette::Midlight, QColor(0x3A, 0x3F, 0x45));
    p.setColor(QPalette::Mid, QColor(0x30, 0x34, 0x39));
    p.setColor(QPalette::Dark, QColor(0x16, 0x18, 0x1B));
    p.setColor(QPalette::Shadow, QColor(0x08, 0x09, 0x0A));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x6B, 0x72, 0x79));
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(0x6B, 0x72, 0x79));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x6B, 0x72, 0x79));
    return p;
}

} // namespace

void InstallFontSubstitutes()
{
    // Carlito has Calibri's metrics; DejaVu Sans is the installed UI face.
    QFont::insertSubstitutions("Calibri", {"Carlito", "DejaVu Sans"});
    QFont::insertSubstitutions("Segoe UI", {"DejaVu Sans", "Carlito"});
    QFont::insertSubstitutions("Segoe UI Semibold", {"DejaVu Sans", "Carlito"});
}

QFont UiFont(const char* AFamily, int APixelHeight, bool ABold)
{
    QFont font(QString::fromLatin1(AFamily));
    font.setPixelSize(APixelHeight);
    if (ABold)
        font.setWeight(QFont::Bold);
    else if (QString::fromLatin1(AFamily).endsWith("Semibold"))
        font.setWeight(QFont::DemiBold);
    return font;
}

bool ApplyRubyGraphiteTheme(QApplication& AApp, std::string& AError)
{
    InstallFontSubstitutes();
    QStyle* style = QStyleFactory::create("Fusion");
    if (!style) {
        AError = "O tema Ruby Graphite não pôde ser aplicado: estilo Fusion indisponível.";
        return false;
    }
    AApp.setStyle(style);
    AApp.setPalette(RubyGraphitePalette());
    AApp.setStyleSheet(QString::fromLatin1(KRubyGraphiteSheet));
    return true;
}
