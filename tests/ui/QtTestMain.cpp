// GoogleTest entry for the window tests: one QApplication for the whole
// binary, themed as the program themes it.
#include <string>

#include <gtest/gtest.h>

#include <QApplication>

#include "ui/Theme.h"

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    std::string error;
    if (!ApplyRubyGraphiteTheme(app, error)) {
        fprintf(stderr, "theme: %s\n", error.c_str());
        return 1;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
