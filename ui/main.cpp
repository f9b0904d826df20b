#include <cstring>
#include <string>
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>

#include "platform/ExePath.h"
#include "platform/OpenFileLimit.h"
#include "ui/MainWindow.h"
#include "ui/Theme.h"

namespace {

// Any option is for the program without a window, which is another
// executable beside this one: exec'd before the toolkit starts, it runs
// with no display and no Qt in the process.
[[noreturn]] void RunWithoutWindow(char* argv[])
{
    // An unknown folder is looked up on the PATH, never in the current one.
    const std::string dir = ExecutableDir();
    const std::string headless = dir.empty() ? "TavixEncoderHeadless" : dir + "TavixEncoderHeadless";
    execvp(headless.c_str(), argv);
    const std::string error = "TavixEncoder: " + headless + ": " + std::strerror(errno) + "\n";
    [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, error.data(), error.size());
    _exit(127);
}

bool IsOptionWithoutWindow(const char* AArg)
{
    for (const char* option : {"--headless", "--config", "--control-socket", "--list-devices", "--help", "-h", "--version"})
        if (std::strcmp(AArg, option) == 0)
            return true;
    return false;
}

} // namespace

int main(int argc, char* argv[])
{
    // Other arguments are the toolkit's own ("-platform", "-style"...).
    for (int i = 1; i < argc; ++i)
        if (IsOptionWithoutWindow(argv[i]))
            RunWithoutWindow(argv);
    RaiseOpenFileLimit();
    QApplication app(argc, argv);
    std::string themeError;
    if (!ApplyRubyGraphiteTheme(app, themeError))
        QMessageBox::critical(nullptr, "TAVIX Encoder", QString::fromStdString(themeError));
    QApplication::setApplicationName("TAVIX Encoder Nativo");

    TFrmPrincipal window;
    window.show();
    return app.exec();
}
