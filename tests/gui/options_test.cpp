// SPDX-License-Identifier: MIT
// The window's command line and the port list it builds from discovered and named ports.
#include "gui_app.h"
#include "gui_test_main.h"
#include "support/fake_port.h"

using korvel::gui::ExtraPortsEnumerator;
using korvel::gui::Options;
using korvel::gui::ParseOptions;

using korvel::testing::FakePortList;

class OptionsTest : public QObject {
    Q_OBJECT
  private slots:
    void acceptedCommandLines_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("ports");
        QTest::addColumn<bool>("demo");
        QTest::addColumn<int>("records");
        QTest::newRow("nothing: exactly the plain tool") << QStringList{} << QStringList{} << false << 3000;
        QTest::newRow("ports keep their order") << QStringList{"--port", "/dev/pts/7", "--port=/tmp/link"}
                                                << QStringList{"/dev/pts/7", "/tmp/link"} << false << 3000;
        QTest::newRow("demo") << QStringList{"--demo"} << QStringList{} << true << 3000;
        QTest::newRow("demo with a full ring")
            << QStringList{"--demo", "--demo-records", "32767"} << QStringList{} << true << 32767;
        QTest::newRow("a path with spaces")
            << QStringList{"--port", "/tmp/my port"} << QStringList{"/tmp/my port"} << false << 3000;
    }
    void acceptedCommandLines() {
        QFETCH(QStringList, arguments);
        QString error;
        const std::optional<Options> options = ParseOptions(arguments, &error);
        QVERIFY2(options, qPrintable(error));
        QFETCH(QStringList, ports);
        QFETCH(bool, demo);
        QFETCH(int, records);
        QCOMPARE(options->ports, ports);
        QCOMPARE(options->demo, demo);
        QCOMPARE(options->demo_records, records);
    }

    void refusedCommandLinesSayWhy_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("says");
        QTest::newRow("port without a path") << QStringList{"--port"} << "--port needs a value";
        QTest::newRow("empty port") << QStringList{"--port="} << "device path";
        QTest::newRow("records out of range") << QStringList{"--demo-records", "40000"} << "0 to 32767";
        QTest::newRow("records not a number") << QStringList{"--demo-records", "many"} << "\"many\"";
        QTest::newRow("unknown option") << QStringList{"--fast"} << "unknown option \"--fast\"";
        QTest::newRow("a flag with a value") << QStringList{"--demo=1"} << "--demo takes no value";
        QTest::newRow("a stray word") << QStringList{"COM3"} << "unknown option \"COM3\"";
        QTest::newRow("overview with a port")
            << QStringList{"--overview", "--port", "/dev/pts/2"} << "takes no other option";
        QTest::newRow("overview with the demo")
            << QStringList{"--demo", "--overview"} << "takes no other option";
    }
    void refusedCommandLinesSayWhy() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, says);
        QString error;
        QVERIFY(!ParseOptions(arguments, &error));
        QVERIFY2(error.contains(says), qPrintable(error));
    }

    void overviewOpensNoWindow() {
        QString error;
        const std::optional<Options> plain = ParseOptions({}, &error);
        const std::optional<Options> overview = ParseOptions({"--overview"}, &error);
        QVERIFY2(plain && overview, qPrintable(error));
        QVERIFY(!plain->overview);
        QVERIFY(overview->overview);
    }

    void namedPortsFollowTheDiscoveredOnesWithoutRepeats() {
        auto discovered = std::make_unique<FakePortList>();
        FakePortList* system = discovered.get();
        system->names = {u"/dev/ttyUSB0", u"/dev/ttyS1"};
        ExtraPortsEnumerator ports(std::move(discovered), {u"/dev/pts/4", u"/dev/ttyUSB0"});
        ports.Add(u"/dev/pts/9");
        QCOMPARE(ports.List(),
                 (std::vector<std::u16string>{u"/dev/ttyUSB0", u"/dev/ttyS1", u"/dev/pts/4", u"/dev/pts/9"}));
        // An adapter unplugged: the named ports stay listed.
        system->names = {u"/dev/ttyS1"};
        QCOMPARE(ports.List(),
                 (std::vector<std::u16string>{u"/dev/ttyS1", u"/dev/pts/4", u"/dev/ttyUSB0", u"/dev/pts/9"}));
    }
};

KORVEL_GUI_TEST_MAIN(OptionsTest)
#include "options_test.moc"
