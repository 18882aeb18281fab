// SPDX-License-Identifier: MIT
// The record items of the window: the context menu of the dialog's background and its shortcuts, and
// each item doing its work on planted record files, with a stand-in opener that notes what it was handed.
#include <unistd.h>
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
#include <QRegularExpression>
#include <QScrollBar>
#include <memory>

#include "gui_app.h"
#include "gui_test_main.h"
#include "ledger/ledger.h"
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
            if (action->isSeparator()) continue;
            texts << action->text();
            keys << action->shortcut().toString(QKeySequence::PortableText);
        }
        QCOMPARE(texts, (QStringList{"打开记录文件夹", "检查记录…", "运行速度报告…", "操作指南"}));
        QCOMPARE(keys, (QStringList{"Ctrl+O", "Ctrl+K", "Ctrl+P", "F1"}));

        // A right click on the background, and the menu key while a button or a combo box has the focus.
        struct Case {
            QWidget* target;
            QContextMenuEvent::Reason reason;
        } cases[] = {{&window, QContextMenuEvent::Mouse},
                     {window.Control(korvel::IDC_READ_INFO), QContextMenuEvent::Keyboard},
                     {window.Control(korvel::IDC_PORT), QContextMenuEvent::Keyboard},
                     {window.Control(korvel::IDC_BAUD), QContextMenuEvent::Mouse},
                     {window.Control(korvel::IDC_RECORD_COUNT), QContextMenuEvent::Mouse}};
        for (const Case& c : cases) {
            menu->hide();
            QContextMenuEvent event(c.reason, QPoint(2, 2), c.target->mapToGlobal(QPoint(2, 2)));
            QApplication::sendEvent(c.target, &event);
            QVERIFY2(menu->isVisible(), qPrintable(c.target->metaObject()->className()));
        }
        // The key itself, typed while each combo box has the focus (the port list has it at the start).
        for (int id : {korvel::IDC_PORT, korvel::IDC_BAUD}) {
            menu->hide();
            QTest::keyClick(window.Control(id), Qt::Key_Menu);
            QVERIFY2(menu->isVisible(), qPrintable(QString::number(id)));
        }
        // The template keeps its 30 controls: the menu is none of them.
        QCOMPARE(window.TemplateWidgets().size(), size_t{30});
        SaveMenuPicture(window);
        menu->hide();
    }

    void theItemsDoTheirWork() {
        PlantGap();
        // The first file was recorded by its download, the second not.
        QVERIFY(!korvel::AppendLedgerEntry(UploadDir().toStdString(),
                                           korvel::testing::RecordFileName(0, 4711), 4711));
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
        QTRY_VERIFY_WITH_TIMEOUT(CheckText(*app).contains("产品编号"), kWaitMs);
        const QString text = CheckText(*app);
        // In Chinese, the folder's verdict first, then the device's before what it rests on.
        const char* expected[] = {
            "记录不完整：1 台设备，2 个文件",
            "下载台账：1 个文件已证实，0 个被改动，0 个缺失，1 个未记入；台账链完整",
            "产品编号 4711：不完整（1 个缺口）",
            "记录 190 条",
            "待下载：约 32767 条尚未下载",
            "缺口 1 个：",
            "缺少 10 条",
            "每日自动下载（korvel-daily.log）最近一次：2026-12-08 12:00:09 每日下载完成"};
        qsizetype at = 0;
        for (const char* line : expected) {
            const qsizetype found = text.indexOf(QString::fromUtf8(line));
            QVERIFY2(found >= at, qPrintable(line + ("\n" + text)));
            at = found;
        }
        QVERIFY2(!text.contains("verdict") && !text.contains("missing"), qPrintable(text));
        auto* view = window.RecordCheck()->findChild<QPlainTextEdit*>("checkText");
        QVERIFY(view->isReadOnly());
        // Nothing needs a sideways scroll at the window's own size; the verdict and each gap's bounds fit
        // on a line of their own.
        QTRY_COMPARE(view->horizontalScrollBar()->maximum(), 0);
        for (const QString& line : text.split('\n')) {
            if (line.contains("产品编号") || line.contains("+08:00"))
                QVERIFY2(view->fontMetrics().horizontalAdvance(line) < view->viewport()->width(),
                         qPrintable(line));
        }
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
        const QRegularExpression overview("/korvel-pages-\\d+/korvel-report-\\d{8}-\\d{6}\\.html$");
        QVERIFY2(overview.match(Opened()[1]).hasMatch(), qPrintable(Opened()[1]));
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
        QVERIFY2(Opened()[2].contains("/korvel-report-4711-"), qPrintable(Opened()[2]));

        // A download saves what was pending: the tooltip follows.
        QTest::mouseClick(window.Control(korvel::IDC_READ_DATA), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(
            qobject_cast<QLabel*>(window.Control(korvel::IDC_RESULT))->text().startsWith("读取完成"), 60000);
        QTRY_VERIFY_WITH_TIMEOUT(!window.Control(korvel::IDC_RECORD_COUNT)->toolTip().contains("约 2000 条"),
                                 kWaitMs);
        QVERIFY(window.Control(korvel::IDC_RECORD_COUNT)->toolTip().contains("条记录尚未下载"));
        QVERIFY(boxes_.isEmpty());
    }

    // The pages go to one folder of this user's that keeps the newest ten; F1 and the menu's last item
    // open the guide from there.
    void pagesKeepTheNewestTenAndTheGuideOpensByF1() {
        qputenv("TMPDIR", temp_.path().toUtf8());
        const QString pages = temp_.path() + "/korvel-pages-" + QString::number(::geteuid());
        QVERIFY(QDir().mkpath(pages));
        QVERIFY(QFile::setPermissions(
            pages, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
        const QDateTime old = QDateTime::currentDateTime().addDays(-1);
        for (int i = 0; i < 12; ++i) {
            const QString page = pages + QString("/old-%1.html").arg(i, 2, 10, QChar('0'));
            WriteText(page, "<p>old</p>");
            QFile file(page);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.setFileTime(old.addSecs(i), QFileDevice::FileModificationTime));
        }
        WriteText(pages + "/notes.txt", "not a page");
        PlantGap();
        StandInOpener();
        auto app = StartApp();
        QVERIFY(app);
        QtWindow& window = app->window();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTest::keyClick(&window, Qt::Key_P, Qt::ControlModifier);
        QTRY_COMPARE_WITH_TIMEOUT(Opened().size(), 1, kWaitMs);
        QVERIFY2(Opened()[0].startsWith(pages + "/korvel-report-"), qPrintable(Opened()[0]));
        QStringList kept = QDir(pages).entryList({"*.html"}, QDir::Files, QDir::Name);
        QCOMPARE(kept.size(), 10);
        QVERIFY2(!kept.contains("old-00.html") && !kept.contains("old-01.html") &&
                     !kept.contains("old-02.html") && kept.contains("old-03.html"),
                 qPrintable(kept.join(' ')));
        QVERIFY(QFile::exists(pages + "/notes.txt"));

        QTest::keyClick(window.Control(korvel::IDC_PORT), Qt::Key_F1);
        QTRY_COMPARE_WITH_TIMEOUT(Opened().size(), 2, kWaitMs);
        QCOMPARE(Opened()[1], pages + "/korvel-guide.html");
        QFile guide(Opened()[1]);
        QVERIFY(guide.open(QIODevice::ReadOnly));
        QCOMPARE(guide.readAll().toStdString(), std::string(korvel::OperatorGuide()));
        window.RecordMenu()->actions().back()->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(Opened().size(), 3, kWaitMs);
        QCOMPARE(Opened()[2], Opened()[1]);
        QVERIFY(boxes_.isEmpty());
        qunsetenv("TMPDIR");
    }

    void failuresAreToldWithWhatToDo() {
        struct Case {
            const char* name;
            bool folder;         // the upload folder exists
            const char* opener;  // the stand-in's script; nullptr: a program that is not there
            const char *folder_box, *report_box;
        } cases[] = {
            {"opener missing", true, nullptr, "无法打开记录文件夹。请在文件管理器中自行打开：",
             "运行速度报告已写出，但无法在浏览器中打开。请在浏览器中自行打开："},
            {"opener fails", true, "#!/bin/sh\nexit 3\n", "无法打开记录文件夹。请在文件管理器中自行打开：",
             "运行速度报告已写出，但无法在浏览器中打开。请在浏览器中自行打开："},
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
            // The system's words (English) stand in a paragraph of their own: the window's sentence,
            // the path it names taken out, holds no Latin letter.
            for (const QString& box : boxes_) {
                QString sentence = box.section("\n\n", 0, 0);
                sentence.remove(QRegularExpression("/\\S*"));
                QVERIFY2(!sentence.contains(QRegularExpression("[A-Za-z]")), qPrintable(box));
            }
            app->window().RecordMenu()->actions()[1]->trigger();
            QTRY_VERIFY_WITH_TIMEOUT(!CheckText(*app).startsWith("正在检查"), kWaitMs);
            QVERIFY2(c.folder == CheckText(*app).contains("缺少 10 条"), c.name);
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
