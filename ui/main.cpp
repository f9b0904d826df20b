#include <string>

#include <QApplication>
#include <QMessageBox>

#include "ui/MainWindow.h"
#include "ui/Theme.h"

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    std::string themeError;
    if (!ApplyRubyGraphiteTheme(app, themeError))
        QMessageBox::critical(nullptr, "TAVIX Encoder", QString::fromStdString(themeError));
    QApplication::setApplicationName("TAVIX Encoder Nativo");

    TFrmPrincipal window;
    window.show();
    return app.exec();
}
