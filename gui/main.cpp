// SPDX-License-Identifier: MIT
// korvel: the window that reads a winch running-speed recorder.
#include <QApplication>
#include <cstdio>

#include "gui_app.h"
#include "text/version.h"

int main(int argc, char** argv) {
    // The command line is read before Qt starts, so --help and mistakes need no display.
    QStringList arguments;
    for (int i = 1; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    QString error;
    const std::optional<korvel::gui::Options> options = korvel::gui::ParseOptions(arguments, &error);
    if (!options) {
        std::fprintf(stderr, "korvel: %s\n", qPrintable(error));
        return 2;
    }
    if (options->help) {
        std::fputs(korvel::gui::kUsage, stdout);
        return 0;
    }
    if (options->version) {
        std::puts(korvel::VersionLine("korvel").c_str());
        return 0;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName("korvel");
    QGuiApplication::setDesktopFileName("korvel");
    korvel::gui::GuiApp korvel_app(*options);
    korvel_app.HandleTerminationSignals();
    if (!korvel_app.Start(&error)) {
        if (error.isEmpty()) return 0;  // ended by a signal while starting
        std::fprintf(stderr, "korvel: %s\n", qPrintable(error));
        return 1;
    }
    return app.exec();
}
