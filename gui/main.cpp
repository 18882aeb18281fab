// SPDX-License-Identifier: MIT
// korvel: the window that reads a winch running-speed recorder.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>

#include "app/korvel_app.h"
#include "gui_app.h"
#include "records/record_file.h"
#include "text/utf8.h"
#include "text/version.h"

namespace {

// The overview of the upload folder in the browser, without the window; a failure is said on stderr and,
// where there is a display (the desktop action), in a message box.
int ShowOverview(int argc, char** argv) {
    const std::u16string message =
        korvel::WriteAndOpenReport(korvel::WideToUtf8(korvel::ResolveUploadFolder()), std::string());
    if (message.empty()) return 0;
    std::fprintf(stderr, "korvel: %s\n", korvel::WideToUtf8(message).c_str());
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) return 1;
    QApplication app(argc, argv);
    QMessageBox box(QMessageBox::Warning, QStringLiteral("korvel"), QString::fromStdU16String(message),
                    QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.exec();
    return 1;
}

}  // namespace

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
    if (options->overview) return ShowOverview(argc, argv);

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
