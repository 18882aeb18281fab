// SPDX-License-Identifier: MIT
// Whole-window figures for scripts/bench: start-up time to the first tick, and resident memory after a
// full-ring download from the demo recorder; with --check, the time from "检查记录…" until its text
// shows on the upload folder as it is, and the longest the window went without answering meanwhile.
// Prints one JSON line per figure.
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <functional>

#include "gui_app.h"
#include "protocol/record_index.h"
#include "qt_window.h"
#include "ui/controls.h"
#include "ui/texts.h"

namespace {

// Runs the event loop until done() holds; false when timeout_ms passed first.
bool RunUntil(const std::function<bool()>& done, int timeout_ms) {
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done()) loop.quit();
    });
    QTimer::singleShot(timeout_ms, &loop, &QEventLoop::quit);
    check.start(5);
    if (!done()) loop.exec();
    return done();
}

long StatusKiB(const char* field) {
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(static_cast<qsizetype>(strlen(field))).trimmed().split(' ')[0].toLong();
    return -1;
}

void Row(const char* name, double value, const char* unit, const char* goal) {
    std::printf("{\"name\": \"%s\", \"value\": %.3f, \"unit\": \"%s\", \"goal\": \"%s\"}\n", name, value,
                unit, goal);
}

}  // namespace

// "检查记录…" on the upload folder: until the text shows, with a 10 ms timer noting the longest the event
// loop went without running it.
int CheckRecords(const char* files) {
    korvel::gui::GuiApp korvel_app(korvel::gui::Options{});
    QString error;
    if (!korvel_app.Start(&error)) {
        std::fprintf(stderr, "gui bench: %s\n", qPrintable(error));
        return 1;
    }
    korvel::gui::QtWindow& window = korvel_app.window();
    QElapsedTimer since_tick;
    qint64 longest = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longest = std::max(longest, since_tick.elapsed());
        since_tick.restart();
    });
    ticker.start(10);
    QElapsedTimer check;
    check.start();
    since_tick.start();
    window.RecordMenu()->actions()[1]->trigger();
    const QString running = korvel::gui::ToQString(korvel::text::kCheckRunning);
    auto text = [&] {
        auto* edit =
            window.RecordCheck() ? window.RecordCheck()->findChild<QPlainTextEdit*>("checkText") : nullptr;
        return edit ? edit->toPlainText() : QString();
    };
    if (!RunUntil([&] { return !text().isEmpty() && text() != running; }, 120000)) {
        std::fprintf(stderr, "gui bench: the check did not end\n");
        return 1;
    }
    const double seconds = static_cast<double>(check.elapsed()) / 1000.0;
    if (!text().contains(QString::fromUtf8("%1 个文件").arg(files))) {
        std::fprintf(stderr, "gui bench: the check did not read the %s files:\n%s\n", files,
                     qPrintable(text()));
        return 1;
    }
    const std::string name = std::string("window: 检查记录… on ") + files + " files until the text shows";
    Row(name.c_str(), seconds, "s", "<= 1 s");
    Row("window: longest without answering during 检查记录…", static_cast<double>(longest), "ms",
        "<= 100 ms");
    return 0;
}

int main(int argc, char** argv) {
    QElapsedTimer since_start;
    since_start.start();
    QApplication app(argc, argv);
    if (argc == 3 && std::strcmp(argv[1], "--check") == 0) return CheckRecords(argv[2]);
    korvel::gui::Options options;
    options.demo = true;
    options.demo_records = korvel::kRingRecords;
    korvel::gui::GuiApp korvel_app(options);
    QString error;
    if (!korvel_app.Start(&error)) {
        std::fprintf(stderr, "gui bench: %s\n", qPrintable(error));
        return 1;
    }
    Row("window: start-up to the window shown", static_cast<double>(since_start.elapsed()), "ms",
        "<= 500 ms");
    korvel::gui::QtWindow& window = korvel_app.window();
    auto text = [&](int id) { return static_cast<QLabel*>(window.Control(id))->text(); };

    if (!RunUntil([&] { return !text(korvel::IDC_PORT_STATUS).isEmpty(); }, 10000)) {
        std::fprintf(stderr, "gui bench: the demo port did not open\n");
        return 1;
    }
    Row("window: start-up to the first tick", static_cast<double>(since_start.elapsed()), "ms", "<= 1500 ms");

    static_cast<QPushButton*>(window.Control(korvel::IDC_READ_INFO))->click();
    if (!RunUntil([&] { return window.Control(korvel::IDC_READ_DATA)->isVisible(); }, 10000)) {
        std::fprintf(stderr, "gui bench: no device information\n");
        return 1;
    }
    QElapsedTimer download;
    download.start();
    static_cast<QPushButton*>(window.Control(korvel::IDC_READ_DATA))->click();
    if (!RunUntil([&] { return text(korvel::IDC_RESULT).startsWith(QString::fromUtf8("读取完成")); },
                  600000)) {
        std::fprintf(stderr, "gui bench: the download did not finish: %s\n",
                     qPrintable(text(korvel::IDC_RESULT)));
        return 1;
    }
    const double seconds = static_cast<double>(download.elapsed()) / 1000.0;
    // The figure counts only when the whole ring arrived in the file.
    QFile file(QString::fromStdU16String(korvel_app.dialog().SavedFilePath()));
    const qsizetype lines = file.open(QIODevice::ReadOnly) ? file.readAll().count('\n') : -1;
    if (lines < 32766) {
        std::fprintf(stderr, "gui bench: %s holds %lld records, not the full ring\n",
                     qPrintable(file.fileName()), static_cast<long long>(lines));
        return 1;
    }
    Row("window: full-ring download (32767 records, demo)", seconds, "s", "");
    Row("window: resident memory after a full-ring download",
        static_cast<double>(StatusKiB("VmRSS:")) / 1024.0, "MB", "<= 60 MB");
    Row("window: peak resident memory", static_cast<double>(StatusKiB("VmHWM:")) / 1024.0, "MB", "<= 60 MB");
    return 0;
}
