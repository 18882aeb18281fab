// SPDX-License-Identifier: MIT
// The real window, driven by simulated clicks, against the simulated recorder on a pseudo-terminal.
// Each state the operator can see is also saved as a picture under the build folder.
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "gui_app.h"
#include "gui_test_main.h"
#include "qt_window.h"
#include "support/fake_port.h"
#include "support/paths.h"
#include "support/sim_process.h"
#include "ui/controls.h"

using korvel::gui::GuiApp;
using korvel::gui::Options;
using korvel::testing::SimProcess;

namespace {

// The machine's own serial ports are never listed in these tests: only the simulator's, and names
// that lead nowhere.
using NoDiscoveredPorts = korvel::testing::FakePortList;

// A port open attempt, a state change, a download step: none takes longer than this here.
constexpr int kWaitMs = 15000;

QString UploadDir() { return QDir::homePath() + "/hollin.data/upload"; }

}  // namespace

class AppTest : public QObject {
    Q_OBJECT

    std::unique_ptr<GuiApp> StartApp(const QString& port, const QString& settings,
                                     NoDiscoveredPorts** discovered = nullptr) {
        Options options;
        if (!port.isEmpty()) options.ports << port;
        options.settings_file = settings;
        options.udev_control = temp_.path() + "/no-udev";  // the port list is rescanned every tick
        auto system = std::make_unique<NoDiscoveredPorts>();
        if (discovered) *discovered = system.get();
        auto app = std::make_unique<GuiApp>(options, std::move(system));
        QString error;
        if (!app->Start(&error)) return nullptr;
        app->link().m_reopenPause = std::chrono::milliseconds(0);  // before the first tick
        app->window().SetMessageBoxHook([this](const QString& text) { boxes_ << text; });
        return app;
    }

    static QString Text(GuiApp& app, int id) {
        QWidget* w = app.window().Control(id);
        if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
        if (auto* button = qobject_cast<QPushButton*>(w)) return button->text();
        return {};
    }
    static bool Shown(GuiApp& app, int id) { return app.window().Control(id)->isVisible(); }
    static bool Enabled(GuiApp& app, int id) { return app.window().Control(id)->isEnabled(); }
    static void Click(GuiApp& app, int id) { QTest::mouseClick(app.window().Control(id), Qt::LeftButton); }

    void Snapshot(GuiApp& app, const QString& name) {
        const QString dir = qEnvironmentVariable("KORVEL_SCREENSHOT_DIR");
        if (dir.isEmpty() || !QDir().mkpath(dir)) return;
        QVERIFY(app.window().grab().save(dir + "/" + name + ".png"));
    }

    QString SettingsPath(const QString& name) { return temp_.path() + "/" + name + ".conf"; }

    QTemporaryDir temp_;
    QStringList boxes_;

  private slots:
    // The session below runs under de_DE.UTF-8 (set by the test's environment), where printf writes a
    // decimal comma: its record counts must still read with a point.
    void theSessionRunsUnderADecimalCommaLocale() {
        char probe[16];
        std::snprintf(probe, sizeof probe, "%.1f", 8.4);
        if (QByteArray(probe) != "8,4") QSKIP("de_DE.UTF-8 is not installed (scripts/setup generates it)");
        QCOMPARE(QByteArray(probe), QByteArray("8,4"));
    }

    void aSessionThroughEveryState() {
        SimProcess sim;
        QVERIFY2(sim.Start({"--records", "2000", "--product", "4711", "--firmware", "KVR V3.1", "--clock",
                            "2024-03-05 07:08:09"}),
                 sim.error().c_str());
        auto app = StartApp(QString::fromStdString(sim.link_path()), SettingsPath("session"));
        QVERIFY(app);
        GuiApp& a = *app;
        QCOMPARE(a.window().windowTitle(), QString("绞车运行速度记录仪读取程序 2.0-8-gc788d8a 2022-07-30"));
        QCOMPARE(a.window().ComboSelection(korvel::IDC_BAUD), 9);
        QCOMPARE(a.window().ComboItemText(korvel::IDC_PORT, 0), korvel::gui::ToU16(sim.link_path().c_str()));

        // Before the first tick the port has never been open.
        QCOMPARE(Text(a, 1007), QString());
        QVERIFY(!Shown(a, 1013) && !Shown(a, 1012) && !Shown(a, 1020));
        Snapshot(a, "state-1-never-open");

        // The first tick opens the port.
        QTRY_COMPARE_WITH_TIMEOUT(Text(a, 1007), QString("已打开"), kWaitMs);
        QVERIFY(Shown(a, 1013) && Enabled(a, 1013));
        QVERIFY(!Shown(a, 1012) && !Shown(a, 1020));
        QVERIFY(a.window().Control(1007)->toolTip().isEmpty());
        Snapshot(a, "state-3-open-no-info");

        // "读信息" fills the device's fields and offers the download.
        Click(a, 1013);
        QTRY_COMPARE_WITH_TIMEOUT(Text(a, 1014), QString("4711"), kWaitMs);
        QCOMPARE(Text(a, 1015), QString("KVR 2 V3.1"));
        QCOMPARE(Text(a, 1016), QString("2000 (67.2小时)"));
        QVERIFY2(Text(a, 1021).startsWith("2024-03-05 07:0"), qPrintable(Text(a, 1021)));
        QVERIFY(QRegularExpression("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$")
                    .match(Text(a, 1022))
                    .hasMatch());
        QVERIFY(Shown(a, 1012) && Shown(a, 1020));
        QCOMPARE(Text(a, 1012), QString("读数据"));
        Snapshot(a, "state-4-device-info");

        // "读数据" runs the download; the choices that would disturb it are locked meanwhile.
        Click(a, 1012);
        QCOMPARE(Text(a, 1012), QString("终止读数据"));
        for (int id : {1013, 1020, 1001, 1006}) QVERIFY2(!Enabled(a, id), qPrintable(QString::number(id)));
        QVERIFY(Enabled(a, 1012));
        Snapshot(a, "state-5-download-running");
        const QRegularExpression done("^读取完成，耗时\\d+秒$");
        QTRY_VERIFY_WITH_TIMEOUT(done.match(Text(a, 1017)).hasMatch(), 60000);
        QCOMPARE(Text(a, 1012), QString("读数据"));
        for (int id : {1013, 1020, 1001, 1006, 1012}) QVERIFY(Enabled(a, id));
        const QStringList files = QDir(UploadDir()).entryList({"*-4711-1267.txt"}, QDir::Files);
        QCOMPARE(files.size(), 1);
        QFile file(UploadDir() + "/" + files[0]);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll().count('\n'), 2000);
        // The next tick shows the byte counters of the download.
        QTRY_VERIFY_WITH_TIMEOUT(Text(a, 1003) != "0" && Text(a, 1019) != "0(0)", kWaitMs);
        Snapshot(a, "state-4-download-finished");
        QVERIFY(boxes_.isEmpty());

        // Stopped by the operator.
        QVERIFY(sim.AddRecords(3000));
        Click(a, 1013);
        QTRY_COMPARE_WITH_TIMEOUT(Text(a, 1016), QString("5000 (168.1小时)"), kWaitMs);
        Click(a, 1012);
        QCOMPARE(Text(a, 1012), QString("终止读数据"));
        Click(a, 1012);
        QCOMPARE(Text(a, 1017), QString("已取消"));
        QCOMPARE(Text(a, 1012), QString("读数据"));
        for (int id : {1013, 1020, 1001, 1006}) QVERIFY(Enabled(a, id));

        // The device hangs up: the window shows it within a tick or two, and takes the device up again
        // when it returns.
        QVERIFY(sim.Control("hangup"));
        QTRY_COMPARE_WITH_TIMEOUT(Text(a, 1007), QString("已关闭"), kWaitMs);
        QVERIFY(!Shown(a, 1013) && !Shown(a, 1012) && !Shown(a, 1020));
        QCOMPARE(Text(a, 1014), QString());
        Snapshot(a, "state-2-closed-after-open");
        QVERIFY(sim.Control("replug"));
        QVERIFY(sim.WaitForEvent("pty"));
        QTRY_COMPARE_WITH_TIMEOUT(Text(a, 1007), QString("已打开"), kWaitMs);
        QVERIFY(Shown(a, 1013));
    }

    // The recorder dies in the middle of a download, round after round, and comes back on the same link:
    // the window says the download was cut off and nothing saved, and the first "读信息" on the new
    // connection fills the fields.
    void aRecorderKilledMidReplyLeavesNothingForTheNextConnection() {
        const std::vector<std::string> args = {"--records", "3300", "--baud", "38400", "--chunk", "7"};
        SimProcess sim;
        QVERIFY2(sim.Start(args), sim.error().c_str());
        const QString link = QString::fromStdString(sim.link_path());
        auto app = StartApp(link, SettingsPath("killed"));
        QVERIFY(app);
        GuiApp& a = *app;
        QTRY_COMPARE_WITH_TIMEOUT(Text(a, 1007), QString("已打开"), kWaitMs);
        const QStringList files = QDir(UploadDir()).entryList(QDir::Files);
        for (int round = 0; round < 3; ++round) {
            Click(a, 1013);
            QTRY_COMPARE_WITH_TIMEOUT(Text(a, 1014), QString("1234"), kWaitMs);
            Click(a, 1012);
            const uint32_t cut = a.dialog().m_nRxBytes + 300 + 419 * static_cast<uint32_t>(round);
            QTRY_VERIFY_WITH_TIMEOUT(a.dialog().m_nRxBytes >= cut, kWaitMs);
            sim.Kill();
            QFile::remove(link);
            QTRY_COMPARE_WITH_TIMEOUT(Text(a, 1007), QString("已关闭"), kWaitMs);
            QCOMPARE(Text(a, 1017), QString("端口已断开，读数据中止，未保存任何记录"));
            QCOMPARE(Text(a, 1012), QString("读数据"));
            QVERIFY(Enabled(a, 1001) && Enabled(a, 1006));
            QCOMPARE(QDir(UploadDir()).entryList(QDir::Files), files);

            QVERIFY2(sim.Start(args), sim.error().c_str());
            QTRY_COMPARE_WITH_TIMEOUT(Text(a, 1007), QString("已打开"), kWaitMs);
            Click(a, 1013);
            QTRY_COMPARE_WITH_TIMEOUT(Text(a, 1014), QString("1234"), kWaitMs);
            QVERIFY(Shown(a, 1012) && Shown(a, 1020));
        }
    }

    // Another rate while the device's information is shown: the port reopens after its pause with DTR
    // low, and meanwhile the status never reads "已关闭" and the information stays.
    void aRateChangeKeepsTheInformationAndShowsNoClosedPort() {
        SimProcess sim;
        QVERIFY2(sim.Start({"--records", "20"}), sim.error().c_str());
        auto app = StartApp(QString::fromStdString(sim.link_path()), SettingsPath("rate"));
        QVERIFY(app);
        GuiApp& a = *app;
        a.link().m_reopenPause = std::chrono::milliseconds(500);  // as the window has it: ticks fall in it
        QTRY_COMPARE_WITH_TIMEOUT(Text(a, 1007), QString("已打开"), kWaitMs);
        for (int attempt = 0; attempt < 3; ++attempt) {
            Click(a, 1013);
            QTRY_COMPARE_WITH_TIMEOUT(Text(a, 1014), QString("1234"), kWaitMs);
            QTRY_VERIFY_WITH_TIMEOUT(Text(a, 1019) != "0(0)", kWaitMs);  // a tick counted the reply
            QStringList statuses, products;
            QTimer watch;
            connect(&watch, &QTimer::timeout, [&] {
                if (statuses.isEmpty() || statuses.back() != Text(a, 1007)) statuses << Text(a, 1007);
                if (products.isEmpty() || products.back() != Text(a, 1014)) products << Text(a, 1014);
            });
            watch.start(5);
            auto* baud = static_cast<QComboBox*>(a.window().Control(1006));
            baud->setFocus();
            QTest::keyClick(baud, attempt % 2 ? Qt::Key_Down : Qt::Key_Up);
            // Reopened, and a tick came after it (the counters start again at 0).
            QTRY_VERIFY_WITH_TIMEOUT(a.link().m_bOpen && !a.link().Opening() && Text(a, 1019) == "0(0)",
                                     kWaitMs);
            watch.stop();
            QCOMPARE(statuses, QStringList{"已打开"});
            QCOMPARE(products, QStringList{"1234"});
            QVERIFY(Shown(a, 1012) && Shown(a, 1020) && Shown(a, 1013));
        }
    }

    void aFailedSaveGivesTheSystemsReasonInTheTooltip() {
        SimProcess sim;
        QVERIFY2(sim.Start({"--records", "5"}), sim.error().c_str());
        auto app = StartApp(QString::fromStdString(sim.link_path()), SettingsPath("save"));
        QVERIFY(app);
        GuiApp& a = *app;
        QTRY_COMPARE_WITH_TIMEOUT(Text(a, 1007), QString("已打开"), kWaitMs);
        Click(a, 1013);
        QTRY_VERIFY_WITH_TIMEOUT(Shown(a, 1012), kWaitMs);
        QVERIFY(QDir().rename(UploadDir(), UploadDir() + "-gone"));
        Click(a, 1012);
        QTRY_VERIFY_WITH_TIMEOUT(Text(a, 1017).startsWith("保存失败："), kWaitMs);
        // In the system's words, in the language of the session's locale.
        const QString reason = QString::fromLocal8Bit(std::strerror(ENOENT));
        QTRY_VERIFY2_WITH_TIMEOUT(a.window().Control(1017)->toolTip().contains(reason),
                                  qPrintable(a.window().Control(1017)->toolTip()), kWaitMs);
        QVERIFY(QDir().rename(UploadDir() + "-gone", UploadDir()));
        // Once the line shows something else, the reason goes with it.
        Click(a, 1013);
        QTRY_VERIFY_WITH_TIMEOUT(a.window().Control(1017)->toolTip().isEmpty(), kWaitMs);
    }

    void aPortThatCannotOpenSaysWhyInTheTooltip() {
        const QString missing = temp_.path() + "/no-such-port";
        auto app = StartApp(missing, SettingsPath("missing"));
        QVERIFY(app);
        QWidget* status = app->window().Control(1007);
        QTRY_VERIFY_WITH_TIMEOUT(!status->toolTip().isEmpty(), kWaitMs);
        QCOMPARE(Text(*app, 1007), QString());  // never open: not "已关闭"
        QVERIFY(!Shown(*app, 1013));
        const QString tip = status->toolTip();
        QVERIFY2(tip.contains("no-such-port"), qPrintable(tip));
    }

    void anAdapterPluggedInJoinsTheListAndTheChosenPortStays() {
        const QString chosen = temp_.path() + "/chosen-port";
        NoDiscoveredPorts* system = nullptr;
        auto app = StartApp(chosen, SettingsPath("hotplug"), &system);
        QVERIFY(app);
        QCOMPARE(app->window().ComboCount(1001), 1);
        const std::u16string adapter = korvel::gui::ToU16(temp_.path() + "/plugged-adapter");
        system->names = {adapter};
        QTRY_COMPARE_WITH_TIMEOUT(app->window().ComboCount(1001), 2, kWaitMs);
        QCOMPARE(app->window().ComboItemText(1001, 0), adapter);  // discovered ports come first
        QCOMPARE(app->window().ComboSelection(1001), 1);
        QCOMPARE(app->dialog().m_strPortName, korvel::gui::ToU16(chosen));
        system->names.clear();
        QTRY_COMPARE_WITH_TIMEOUT(app->window().ComboCount(1001), 1, kWaitMs);
        QCOMPARE(app->window().ComboSelection(1001), 0);
    }

    void settingsSurviveARestartAndAnOutOfRangeBaudOpensNothing() {
        SimProcess sim;
        QVERIFY2(sim.Start({"--records", "10"}), sim.error().c_str());
        const QString port = QString::fromStdString(sim.link_path());
        const QString settings = SettingsPath("restart");
        {
            auto app = StartApp(port, settings);
            QVERIFY(app);
            auto* baud = static_cast<QComboBox*>(app->window().Control(1006));
            baud->setFocus();
            QTest::keyClick(baud, Qt::Key_Up);  // 115200 → 57600, as the operator would
            QCOMPARE(app->window().ComboSelection(1006), 8);
        }
        {
            auto app = StartApp(port, settings);
            QVERIFY(app);
            QCOMPARE(app->window().ComboSelection(1006), 8);
            // The port named on the command line is chosen without touching the remembered index.
            QCOMPARE(app->window().ComboSelection(1001), 0);
            QVERIFY(!QSettings(settings, QSettings::IniFormat).contains("Settings/PortIndex"));
        }

        {
            QSettings edit(settings, QSettings::IniFormat);
            edit.setValue("Settings/Baud", 16);
        }
        auto app = StartApp(port, settings);
        QVERIFY(app);
        QCOMPARE(app->window().ComboSelection(1006), -1);
        for (int tick = 0; tick < 3; ++tick) app->dialog().Dispatch(korvel::Message{korvel::Msg::Timer});
        QCOMPARE(app->link().m_bOpen, 0);
        QCOMPARE(Text(*app, 1007), QString());
        QVERIFY(boxes_.isEmpty());
    }

    void terminationClosesThePortAndEndsTheDemoRecorder_data() {
        QTest::addColumn<int>("signo");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
    }
    void terminationClosesThePortAndEndsTheDemoRecorder() {
        QFETCH(int, signo);
        const QString korvel = QString::fromStdString(korvel::testing::BinaryDir()) + "/gui/korvel";
        QProcess process;
        process.setProgram(korvel);
        process.setArguments({"--demo", "--demo-records", "50"});
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start();
        QVERIFY(process.waitForStarted(kWaitMs));
        // The simulated recorder is the window's child.
        const QString children = QString("/proc/%1/task/%1/children").arg(process.processId());
        QString child;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                QFile f(children);
                if (!f.open(QIODevice::ReadOnly)) return false;
                child = QString::fromUtf8(f.readAll()).trimmed().section(' ', 0, 0);
                return !child.isEmpty();
            }(),
            kWaitMs);
        QVERIFY(::kill(static_cast<pid_t>(process.processId()), signo) == 0);
        QVERIFY(process.waitForFinished(kWaitMs));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        // Gone, or a zombie waiting for its new parent to reap it.
        auto ended = [&] {
            QFile stat(QString("/proc/%1/stat").arg(child));
            if (!stat.open(QIODevice::ReadOnly)) return true;
            const QByteArray text = stat.readAll();
            return text.mid(text.lastIndexOf(')') + 2, 1) == "Z";
        };
        QTRY_VERIFY_WITH_TIMEOUT(ended(), kWaitMs);
    }
};

KORVEL_GUI_TEST_MAIN(AppTest)
#include "app_test.moc"
