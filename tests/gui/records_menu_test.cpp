// SPDX-License-Identifier: MIT
// The record items of the window: the context menu of the dialog's background and its shortcuts, and
// each item doing its work on planted record files, with a stand-in opener that notes what it was handed.
#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <memory>

#include "gui_app.h"
#include "gui_test_main.h"
#include "qt_window.h"
#include "support/fake_port.h"
#include "support/record_lines.h"
#include "support/sim_process.h"
#include "ui/controls.h"

using korvel::gui::GuiApp;
using korvel::gui::QtWindow;
using korvel::testing::SimProcess;

namespace {

constexpr int kWaitMs = 15000;

QString UploadDir() { return QDir::homePath() + "/hollin.data/upload"; }

void WriteText(const QString& path, const std::string& text) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(text.data(), static_cast<qint64>(text.size())), static_cast<qint64>(text.size()));
}

// Device 4711's records 0..99 and 110..199 in two downloads: one gap of ten records.
void PlantGap() {
    QDir(UploadDir()).removeRecursively();
    QVERIFY(QDir().mkpath(UploadDir()));
    using korvel::testing::RecordFileName;
    using korvel::testing::RecordLines;
    WriteText(UploadDir() + "/" + QString::fromStdString(RecordFileName(0, 4711)),
              RecordLines(0, 99, "4711"));
    WriteText(UploadDir() + "/" + QString::fromStdString(RecordFileName(60, 4711)),
              RecordLines(110, 199, "4711"));
}

}  // namespace

class RecordsMenuTest : public QObject {
    Q_OBJECT

    QTemporaryDir temp_;
    QStringList boxes_;

    // The opener the items hand their paths to: a script that appends each to a log.
    QString StandInOpener(const char* body = nullptr) {
        const QString script = temp_.path() + "/opener";
        WriteText(script, body ? std::string(body)
                               : "#!/bin/sh\nprintf '%s\\n' \"$1\" >> \"" + Log().toStdString() + "\"\n");
        QFile::setPermissions(script,
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QFile::remove(Log());
        qputenv("KORVEL_OPEN_WITH", script.toUtf8());
        return script;
    }
    QString Log() const { return temp_.path() + "/opened.log"; }
    QStringList Opened() const {
        QFile file(Log());
        if (!file.open(QIODevice::ReadOnly)) return {};
        return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    }

    std::unique_ptr<GuiApp> StartApp(const QString& port = {}) {
        korvel::gui::Options options;
        if (!port.isEmpty()) options.ports << port;
        options.settings_file = temp_.path() + "/settings.conf";
        options.udev_control = temp_.path() + "/no-udev";
        auto app = std::make_unique<GuiApp>(options, std::make_unique<korvel::testing::FakePortList>());
        QString error;
        if (!app->Start(&error)) return nullptr;
        app->link().m_reopenPause = std::chrono::milliseconds(0);
        app->window().SetMessageBoxHook([this](const QString& text) { boxes_ << text; });
        return app;
    }

    static QString CheckText(GuiApp& app) {
        QDialog* check = app.window().RecordCheck();
        return check ? check->findChild<QPlainTextEdit*>("checkText")->toPlainText() : QString();
    }

  private slots:
    void theMenuOpensOnTheBackgroundAndByTheMenuKey() {
        QtWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QMenu* menu = window.RecordMenu();
        QStringList texts, keys;
        for (QAction* action : menu->actions()) {
            texts << action->text();
            keys << action->shortcut().toString(QKeySequence::PortableText);
        }
        QCOMPARE(texts, (QStringList{"打开记录文件夹", "检查记录…", "运行速度报告…"}));
        QCOMPARE(keys, (QStringList{"Ctrl+O", "Ctrl+K", "Ctrl+P"}));

        // A right click on the background, and the menu key while a button has the focus.
        struct Case {
            QWidget* target;
            QContextMenuEvent::Reason reason;
        } cases[] = {{&window, QContextMenuEvent::Mouse},
                     {window.Control(korvel::IDC_READ_INFO), QContextMenuEvent::Keyboard},
                     {window.Control(korvel::IDC_RECORD_COUNT), QContextMenuEvent::Mouse}};
        for (const Case& c : cases) {
            menu->hide();
            QContextMenuEvent event(c.reason, QPoint(2, 2), c.target->mapToGlobal(QPoint(2, 2)));
            QApplication::sendEvent(c.target, &event);
            QVERIFY2(menu->isVisible(), qPrintable(c.target->objectName()));
        }
        // The template keeps its 30 controls: the menu is none of them.
        QCOMPARE(window.TemplateWidgets().size(), size_t{30});
        SaveMenuPicture(window);
        menu->hide();
    }

    void theItemsDoTheirWork() {
        PlantGap();
        // The daily task's log (Windows): the check names its last run.
        WriteText(UploadDir() + "/korvel-daily.log",
                  "\xEF\xBB\xBF"
                  "2026-12-08 12:00:01 每日下载开始：端口 COM3\r\n2026-12-08 12:00:09 每日下载完成\r\n");
        StandInOpener();
        SimProcess sim;
        QVERIFY2(sim.Start({"--records", "2000", "--product", "4711", "--clock", "2024-03-05 07:08:09"}),
                 sim.error().c_str());
        auto app = StartApp(QString::fromStdString(sim.link_path()));
        QVERIFY(app);
        QtWindow& window = app->window();
        window.activateWindow();  // a display without a window manager activates nothing itself
        QVERIFY(QTest::qWaitForWindowActive(&window));

        // The check, by its shortcut: a text window that fills in once the folder was read.
        QTest::keyClick(&window, Qt::Key_K, Qt::ControlModifier);
        QVERIFY(window.RecordCheck() && window.RecordCheck()->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(CheckText(*app).contains("verdict"), kWaitMs);
        const QString text = CheckText(*app);
        for (const char* expected :
             {"product 4711", "records: 190", "gaps: 1", "10 records missing",
              "pending: \u2248 32767 records not yet downloaded", "verdict: incomplete: 1 gap",
              "archive incomplete: 1 device, 2 files",
              "每日自动下载（korvel-daily.log）最近一次：2026-12-08 12:00:09 每日下载完成"})
            QVERIFY2(text.contains(QString::fromUtf8(expected)), qPrintable(expected + ("\n" + text)));
        QVERIFY(window.RecordCheck()->findChild<QPlainTextEdit*>("checkText")->isReadOnly());
        QTest::mouseClick(window.RecordCheck()->findChild<QPushButton*>("checkCopy"), Qt::LeftButton);
        QCOMPARE(QGuiApplication::clipboard()->text(), text);
        if (const QString dir = qEnvironmentVariable("KORVEL_SCREENSHOT_DIR");
            !dir.isEmpty() && QDir().mkpath(dir))
            QVERIFY(window.RecordCheck()->grab().save(dir + "/check-qt.png"));

        // The folder, and the overview while no device information was read.
        QTest::keyClick(&window, Qt::Key_O, Qt::ControlModifier);
        QTRY_COMPARE_WITH_TIMEOUT(Opened(), QStringList{UploadDir()}, kWaitMs);
        window.RecordMenu()->actions()[2]->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(Opened().size(), 2, kWaitMs);
        QVERIFY2(Opened()[1].endsWith("/korvel-report.html"), qPrintable(Opened()[1]));
        QVERIFY(QFile::exists(Opened()[1]));

        // After 读信息: the device's own page, and the record count tells what is not yet downloaded.
        QTRY_VERIFY_WITH_TIMEOUT(window.Control(korvel::IDC_READ_INFO)->isVisible(), kWaitMs);
        QTest::mouseClick(window.Control(korvel::IDC_READ_INFO), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(qobject_cast<QLabel*>(window.Control(korvel::IDC_PRODUCT_NO))->text(),
                                  QString("4711"), kWaitMs);
        // Newest saved record: seq 199, long before the device clock: its 2000 records are all new, and the
        // oldest goes when 32,768 - 2000 more are taken, 121 s apart.
        const QString overwritten = QDateTime(QDate(2024, 3, 5), QTime(7, 8, 9))
                                        .addSecs(int64_t{32768 - 2000} * 121)
                                        .toString("yyyy-MM-dd");
        QTRY_VERIFY_WITH_TIMEOUT(window.Control(korvel::IDC_RECORD_COUNT)->toolTip().contains(overwritten),
                                 kWaitMs);
        QVERIFY2(window.Control(korvel::IDC_RECORD_COUNT)->toolTip().contains("约 2000 条记录尚未下载"),
                 qPrintable(window.Control(korvel::IDC_RECORD_COUNT)->toolTip()));
        QTest::keyClick(&window, Qt::Key_P, Qt::ControlModifier);
        QTRY_COMPARE_WITH_TIMEOUT(Opened().size(), 3, kWaitMs);
        QVERIFY2(Opened()[2].endsWith("/korvel-report-4711.html"), qPrintable(Opened()[2]));

        // A download saves what was pending: the tooltip follows.
        QTest::mouseClick(window.Control(korvel::IDC_READ_DATA), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(
            qobject_cast<QLabel*>(window.Control(korvel::IDC_RESULT))->text().startsWith("读取完成"), 60000);
        QTRY_VERIFY_WITH_TIMEOUT(!window.Control(korvel::IDC_RECORD_COUNT)->toolTip().contains("约 2000 条"),
                                 kWaitMs);
        QVERIFY(window.Control(korvel::IDC_RECORD_COUNT)->toolTip().contains("条记录尚未下载"));
        QVERIFY(boxes_.isEmpty());
    }

    void failuresAreToldWithWhatToDo() {
        struct Case {
            const char* name;
            bool folder;         // the upload folder exists
            const char* opener;  // the stand-in's script; nullptr: a program that is not there
            const char *folder_box, *report_box;
        } cases[] = {
            {"opener missing", true, nullptr, "无法打开记录文件夹：",
             "运行速度报告已写出，但无法在浏览器中打开："},
            {"opener fails", true, "#!/bin/sh\nexit 3\n", "无法打开记录文件夹：",
             "运行速度报告已写出，但无法在浏览器中打开："},
            {"no folder", false, "#!/bin/sh\nexit 0\n", "记录文件夹不存在：", "记录文件夹不存在："},
        };
        auto app = StartApp();
        QVERIFY(app);
        for (const Case& c : cases) {
            PlantGap();
            if (!c.folder) QVERIFY(QDir(UploadDir()).removeRecursively());
            if (c.opener) {
                StandInOpener(c.opener);
            } else {
                qputenv("KORVEL_OPEN_WITH", (temp_.path() + "/not-there").toUtf8());
            }
            boxes_.clear();
            app->window().RecordMenu()->actions()[0]->trigger();
            QTRY_COMPARE_WITH_TIMEOUT(boxes_.size(), 1, kWaitMs);
            app->window().RecordMenu()->actions()[2]->trigger();
            QTRY_COMPARE_WITH_TIMEOUT(boxes_.size(), 2, kWaitMs);
            QVERIFY2(boxes_[0].startsWith(c.folder_box) && boxes_[0].contains(UploadDir()),
                     qPrintable(boxes_[0]));
            QVERIFY2(boxes_[1].startsWith(c.report_box), qPrintable(boxes_[1]));
            app->window().RecordMenu()->actions()[1]->trigger();
            QTRY_VERIFY_WITH_TIMEOUT(!CheckText(*app).startsWith("正在检查"), kWaitMs);
            QVERIFY2(c.folder == CheckText(*app).contains("10 records missing"), c.name);
        }
    }

  private:
    // The window with its menu open, for the README (KORVEL_SCREENSHOT_DIR).
    void SaveMenuPicture(QtWindow& window) {
        const QString dir = qEnvironmentVariable("KORVEL_SCREENSHOT_DIR");
        if (dir.isEmpty() || !QDir().mkpath(dir)) return;
        const QPixmap dialog = window.grab();
        const QPixmap menu = window.RecordMenu()->grab();
        const QPoint at(window.width() / 3, window.height() / 4);
        QPixmap picture(dialog.size().expandedTo(QSize(at.x() + menu.width(), at.y() + menu.height())));
        picture.fill(Qt::white);
        QPainter painter(&picture);
        painter.drawPixmap(0, 0, dialog);
        painter.drawPixmap(at, menu);
        painter.end();
        QVERIFY(picture.save(dir + "/menu-qt.png"));
    }
};

KORVEL_GUI_TEST_MAIN(RecordsMenuTest)
#include "records_menu_test.moc"
