// SPDX-License-Identifier: MIT
// The window application: the Qt window and the shared start-up (link, then dialog) wired together, plus the
// Linux extras (--port, --demo, signals, session end, hot-plug).
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

#include "app/korvel_app.h"
#include "platform/clock.h"
#include "serial/hotplug_monitor.h"
#include "serial/port_enumerator.h"
#include "serial/serial_link.h"
#include "ui/korvel_dlg.h"

class QProcess;
class QSocketNotifier;

namespace korvel::gui {

class QtWindow;

struct Options {
    QStringList ports;        // --port PATH, in the order given
    bool demo = false;        // --demo: run against a child simulated recorder
    int demo_records = 3000;  // records the simulated recorder starts with
    QString settings_file;    // empty: the per-user file
    QString simulator;        // empty: found next to the program or in the build tree
    QString udev_control;     // empty: the system's udev; a missing path makes the port list rescanned
    bool overview = false;    // --overview: write and open the overview of the upload folder, no window
    bool help = false;
    bool version = false;
};

inline constexpr char kUsage[] =
    "usage: korvel [--port PATH]... [--demo [--demo-records N]]\n"
    "       korvel --overview\n"
    "Reads a winch running-speed recorder over a serial port.\n"
    "  --port PATH         add a serial port to the list (a pseudo-terminal, a socat link);\n"
    "                      the first one given is selected at start\n"
    "  --demo              run against the built-in simulated recorder\n"
    "  --demo-records N    records the simulated recorder holds (default 3000, at most 32767)\n"
    "  --overview          write the overview of every device in the upload folder and open it in\n"
    "                      the browser, without the window (the desktop entry's action)\n"
    "  --version           print the version and exit\n";

// Parses the command line (without the program name). On a mistake returns nothing and says why.
std::optional<Options> ParseOptions(const QStringList& arguments, QString* error);

// The discovered ports followed by the ones given on the command line, without repeats.
class ExtraPortsEnumerator : public PortEnumerator {
  public:
    ExtraPortsEnumerator(std::unique_ptr<PortEnumerator> discovered, std::vector<std::u16string> extra);
    std::vector<std::u16string> List() override;
    std::optional<std::vector<std::u16string>> Read() override;
    void Add(std::u16string path) { extra_.push_back(std::move(path)); }

  private:
    std::unique_ptr<PortEnumerator> discovered_;
    std::vector<std::u16string> extra_;
};

class GuiApp : public QObject {
    Q_OBJECT
  public:
    // discovered: the system's port list; nullptr uses the real discovery of this OS.
    explicit GuiApp(Options options, std::unique_ptr<PortEnumerator> discovered = nullptr);
    ~GuiApp() override;

    // Starts the demo recorder when asked, builds and initialises the dialog and shows the window.
    // False with an empty error when a termination signal came during the start.
    bool Start(QString* error);
    // The destruction steps and the end of the window, whatever asked for it (a signal, the session).
    void Shutdown();

    QtWindow& window() { return *window_; }
    CKorvelDlg& dialog() { return core_->Dialog(); }
    SerialLink& link() { return core_->Link(); }
    QString DemoPort() const { return demo_port_; }

    // Installs SIGTERM and SIGINT handlers that end the window through Shutdown.
    void HandleTerminationSignals();

  private:
    bool StartSimulator(QString* error);
    void StopSimulator();
    void OnMessage(const Message& message);
    void WatchDeviceChanges();

    Options options_;
    SystemClock clock_;
    ExtraPortsEnumerator ports_;
    std::unique_ptr<QProcess> simulator_;
    QString demo_port_;
    std::unique_ptr<QtWindow> window_;
    std::unique_ptr<CKorvelApp> core_;         // the link, then the dialog on window_; goes before window_
    std::unique_ptr<HotplugMonitor> hotplug_;  // reports to the dialog, so it goes first
    QSocketNotifier* signal_notifier_ = nullptr;
    bool shut_down_ = false;
};

// Where korvel-sim lives: next to the program (installed), or in the build tree's sim/ folder.
QString FindSimulator();

}  // namespace korvel::gui
