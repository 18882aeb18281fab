// SPDX-License-Identifier: MIT
#include "gui_app.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QSessionManager>
#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>

#include "protocol/record_index.h"
#include "qt_window.h"
#include "serial/hotplug_monitor.h"
#include "serial/sysfs_ports.h"
#include "ui/controls.h"
#include "ui/texts.h"

namespace korvel::gui {
namespace {

std::unique_ptr<PortEnumerator> SystemPorts() { return std::make_unique<SysfsPortEnumerator>(); }

int g_signal_pipe[2] = {-1, -1};

extern "C" void OnTerminationSignal(int signo) {
    const int saved = errno;
    const char byte = static_cast<char>(signo);
    if (write(g_signal_pipe[1], &byte, 1) < 0) {
        // The pipe is full: a shutdown is already on its way.
    }
    errno = saved;
}

}  // namespace

std::optional<Options> ParseOptions(const QStringList& arguments, QString* error) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption port(QStringList{"port"}, QString(), "PATH");
    const QCommandLineOption demo("demo");
    const QCommandLineOption demo_records(QStringList{"demo-records"}, QString(), "N");
    const QCommandLineOption overview("overview");
    const QCommandLineOption help(QStringList{"h", "help"});
    const QCommandLineOption version(QStringList{"version"});
    parser.addOptions({port, demo, demo_records, overview, help, version});

    const auto refuse = [error](const QString& sentence) {
        *error = sentence;
        return std::nullopt;
    };
    const auto unknown = [&](const QString& argument) {
        return refuse("unknown option \"" + argument + "\" (korvel --help lists the options)");
    };
    // The parser skips the program name.
    if (!parser.parse(QStringList{"korvel"} + arguments)) {
        // Qt names the mistakes its own way; the first faulty argument gets our sentence.
        for (const QString& argument : arguments) {
            const QString option = argument.section('=', 0, 0);
            QString name = option;
            while (name.startsWith('-')) name.remove(0, 1);
            if (!argument.startsWith('-') || name.isEmpty()) continue;
            if (parser.unknownOptionNames().contains(name)) return unknown(argument);
            const bool takes_value = port.names().contains(name) || demo_records.names().contains(name);
            if (!takes_value && argument.contains('=')) return refuse(option + " takes no value");
        }
        // A value can only be missing after the last argument.
        return refuse(arguments.back() + " needs a value");
    }
    if (!parser.positionalArguments().isEmpty()) return unknown(parser.positionalArguments().front());

    Options options;
    options.ports = parser.values(port);
    if (options.ports.contains(QString())) {
        *error = "--port needs a device path, for example --port /dev/pts/3";
        return std::nullopt;
    }
    options.demo = parser.isSet(demo);
    options.help = parser.isSet(help);
    options.overview = parser.isSet(overview);
    if (options.overview && (options.demo || !options.ports.isEmpty() || parser.isSet(demo_records))) {
        *error = "--overview opens no window: it takes no other option";
        return std::nullopt;
    }
    options.version = parser.isSet(version);
    if (parser.isSet(demo_records)) {
        const QString value = parser.value(demo_records);
        bool ok = false;
        options.demo_records = value.toInt(&ok);
        if (!ok || options.demo_records < 0 || options.demo_records > korvel::kRingRecords) {
            *error = "--demo-records needs a whole number from 0 to " +
                     QString::number(korvel::kRingRecords) + ", not \"" + value + "\"";
            return std::nullopt;
        }
    }
    return options;
}

ExtraPortsEnumerator::ExtraPortsEnumerator(std::unique_ptr<PortEnumerator> discovered,
                                           std::vector<std::u16string> extra)
    : discovered_(std::move(discovered)), extra_(std::move(extra)) {}

std::optional<std::vector<std::u16string>> ExtraPortsEnumerator::Read() {
    std::vector<std::u16string> ports;
    if (discovered_) {
        auto discovered = discovered_->Read();
        if (!discovered) return std::nullopt;
        ports = std::move(*discovered);
    }
    for (const std::u16string& path : extra_)
        if (std::find(ports.begin(), ports.end(), path) == ports.end()) ports.push_back(path);
    return ports;
}

std::vector<std::u16string> ExtraPortsEnumerator::List() { return Read().value_or(extra_); }

QString FindSimulator() {
    const QString dir = QCoreApplication::applicationDirPath();
    for (const QString& candidate :
         {dir + "/korvel-sim", dir + "/../sim/korvel-sim", dir + "/../../sim/korvel-sim"}) {
        QFileInfo info(candidate);
        if (info.isFile() && info.isExecutable()) return info.canonicalFilePath();
    }
    return {};
}

GuiApp::GuiApp(Options options, std::unique_ptr<PortEnumerator> discovered)
    : options_(std::move(options)), ports_(discovered ? std::move(discovered) : SystemPorts(), {}) {
    for (const QString& port : options_.ports) ports_.Add(ToU16(port));
}

GuiApp::~GuiApp() {
    if (window_ && !window_->Destroyed()) window_->done(QDialog::Rejected);
    hotplug_.reset();
    core_.reset();
    StopSimulator();
    if (signal_notifier_) {
        signal(SIGTERM, SIG_DFL);
        signal(SIGINT, SIG_DFL);
    }
}

bool GuiApp::Start(QString* error) {
    if (options_.demo && !StartSimulator(error)) return false;

    window_ = std::make_unique<QtWindow>(options_.settings_file);
    QApplication::setWindowIcon(window_->windowIcon());
    // Received chunks reach the dialog on this thread, in order, through the event queue. The reader is
    // joined by the destruction steps, before this object goes away.
    UiPost post = [this](std::function<void()> task) {
        QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
    };
    core_ = std::make_unique<CKorvelApp>(*window_, clock_, ports_, std::move(post));
    core_->Link().m_bOpenInBackground = true;  // an open blocked in the driver never freezes the window
    if (shut_down_) return false;              // a signal came while "InfoCreate false!" was open
    window_->SetHandler([this](const Message& message) { OnMessage(message); });
    window_->SetRecordHandler([this](RecordItem item) {
        if (!core_) return;
        if (item == RecordItem::CheckRecords) window_->ShowRecordCheck(ToQString(text::kCheckRunning));
        core_->RunRecordItem(item,
                             [this](std::u16string text) { window_->ShowRecordCheck(ToQString(text)); });
    });
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager&) {
        if (!core_) return;
        dialog().Dispatch(Message{Msg::QueryEndSession});
        dialog().Dispatch(Message{Msg::EndSession, 0, Notify::None, 1});
    });

    core_->InitInstance();

    // A port named on the command line (or the demo's) is chosen instead of the remembered index; the
    // remembered index is left as it is.
    QString wanted = demo_port_;
    if (wanted.isEmpty() && !options_.ports.isEmpty()) wanted = options_.ports.front();
    if (!wanted.isEmpty()) {
        const std::u16string path = ToU16(wanted);
        for (int i = 0; i < window_->ComboCount(IDC_PORT); ++i) {
            if (window_->ComboItemText(IDC_PORT, i) == path) {
                window_->ComboSelect(IDC_PORT, i);
                dialog().UsePort(path);
                break;
            }
        }
    }
    WatchDeviceChanges();
    window_->show();
    return true;
}

void GuiApp::OnMessage(const Message& message) {
    if (!core_) return;
    dialog().Dispatch(message);
    if (message.msg == Msg::Timer) {
        // Without udev the port list is compared once a tick instead.
        if (hotplug_ && !hotplug_->UsesUdev()) hotplug_->Tick();
        core_->UpdateRecordCountTip();
        window_->SetToolTip(IDC_PORT_STATUS, QString::fromStdString(dialog().LastOpenFailure().message));
        // While the status line reports a failed save, its tooltip gives the system's reason.
        const auto* result = qobject_cast<QLabel*>(window_->Control(IDC_RESULT));
        const bool save_failed = dialog().SaveFailed() && result &&
                                 (result->text().startsWith(ToQString(text::kSaveFailedPrefix)) ||
                                  result->text().startsWith(ToQString(text::kNotRecordedPrefix)));
        window_->SetToolTip(IDC_RESULT,
                            save_failed ? QString::fromStdString(dialog().SaveFailure().message) : QString());
    }
}

void GuiApp::WatchDeviceChanges() {
    auto on_change = [this](uintptr_t event) {
        if (core_) dialog().Dispatch(Message{Msg::DeviceChange, 0, Notify::None, event});
    };
    hotplug_ = options_.udev_control.isEmpty()
                   ? std::make_unique<HotplugMonitor>(ports_, on_change)
                   : std::make_unique<HotplugMonitor>(ports_, on_change, options_.udev_control.toStdString());
    if (hotplug_->UsesUdev()) {
        auto* notifier = new QSocketNotifier(hotplug_->Fd(), QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, [this] { hotplug_->OnReadable(); });
    }
}

void GuiApp::Shutdown() {
    if (shut_down_) return;
    shut_down_ = true;
    // A message box may be open in its own loop: close it first, so that loop ends too.
    while (QWidget* modal = QApplication::activeModalWidget()) {
        if (modal == window_.get() || !modal->close()) break;
    }
    if (window_ && !window_->Destroyed()) window_->done(QDialog::Rejected);
    QCoreApplication::quit();
}

void GuiApp::HandleTerminationSignals() {
    if (signal_notifier_) return;
    if (g_signal_pipe[0] < 0 && pipe2(g_signal_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    signal_notifier_ = new QSocketNotifier(g_signal_pipe[0], QSocketNotifier::Read, this);
    connect(signal_notifier_, &QSocketNotifier::activated, this, [this] {
        char drain[16];
        while (read(g_signal_pipe[0], drain, sizeof drain) > 0) {
        }
        Shutdown();
    });
    struct sigaction action = {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

bool GuiApp::StartSimulator(QString* error) {
    const QString program = options_.simulator.isEmpty() ? FindSimulator() : options_.simulator;
    if (program.isEmpty()) {
        *error = "--demo needs korvel-sim next to korvel; build or install it with korvel";
        return false;
    }
    simulator_ = std::make_unique<QProcess>();
    simulator_->setProgram(program);
    simulator_->setArguments({"--records", QString::number(options_.demo_records), "--exit-on-stdin-eof"});
    simulator_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // The recorder ends with the window, even when the window is killed.
    simulator_->setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
    simulator_->start();
    if (!simulator_->waitForStarted(5000)) {
        *error = "cannot start " + program + ": " + simulator_->errorString();
        return false;
    }
    while (!simulator_->canReadLine()) {
        if (!simulator_->waitForReadyRead(10000)) {
            *error = program + " did not announce its port: " + simulator_->errorString();
            return false;
        }
    }
    demo_port_ = QString::fromUtf8(simulator_->readLine()).trimmed();
    ports_.Add(ToU16(demo_port_));
    return true;
}

void GuiApp::StopSimulator() {
    if (!simulator_ || simulator_->state() == QProcess::NotRunning) return;
    simulator_->closeWriteChannel();
    if (simulator_->waitForFinished(2000)) return;
    simulator_->terminate();
    if (!simulator_->waitForFinished(2000)) simulator_->kill();
    simulator_->waitForFinished(1000);
}

}  // namespace korvel::gui
