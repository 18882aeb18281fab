// SPDX-License-Identifier: MIT
// The Qt window layer alone: the template realised as widgets, the combo and timer semantics the
// dialog relies on, closing, message boxes and the remembered integers.
#include <QComboBox>
#include <QDir>
#include <QFontMetrics>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QTextDocument>
#include <QTimer>
#include <vector>

#include "gui_test_main.h"
#include "qt_window.h"
#include "ui/controls.h"

using korvel::Message;
using korvel::Msg;
using korvel::Notify;
using korvel::gui::QtWindow;

namespace {

struct Row {
    int id;
    const char* text;
    int x, y, w, h;
};

// Dialog template 102 as the operator sees it, written out independently of the code under test.
const Row kTemplate[] = {
    {1001, "", 283, 7, 69, 121},       {1020, "同步时间", 162, 42, 69, 14}, {1013, "读信息", 162, 7, 69, 14},
    {1012, "读数据", 162, 64, 69, 14}, {1, "关闭", 283, 121, 69, 14},       {2, "Cancel", 305, 98, 47, 12},
    {1002, "", 286, 103, 44, 116},     {-1, "端口", 233, 9, 45, 8},         {1003, "", 283, 55, 69, 12},
    {1006, "", 283, 23, 69, 93},       {1007, "", 283, 39, 69, 12},         {-1, "状态", 233, 41, 45, 8},
    {-1, "发送", 233, 57, 45, 8},      {1011, "", 7, 103, 345, 8},          {1014, "", 71, 7, 82, 8},
    {1015, "", 71, 22, 161, 8},        {-1, "产品编号:", 7, 7, 57, 8},      {-1, "固件信息:", 7, 22, 57, 8},
    {-1, "记录数量:", 7, 67, 57, 8},   {1016, "", 71, 67, 84, 8},           {1017, "", 7, 127, 251, 8},
    {1018, "", 7, 115, 251, 8},        {-1, "接收", 233, 73, 45, 8},        {1019, "", 283, 71, 69, 12},
    {-1, "设备时间:", 7, 37, 57, 8},   {-1, "电脑时间:", 7, 52, 57, 8},     {1021, "", 71, 37, 84, 8},
    {1022, "", 71, 52, 84, 8},         {1023, "", 7, 90, 345, 6},           {-1, "速率", 233, 25, 45, 8},
};

QString TextOf(QWidget* widget) {
    if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
    if (auto* button = qobject_cast<QPushButton*>(widget)) return button->text();
    return {};
}

}  // namespace

class WindowTest : public QObject {
    Q_OBJECT
  private slots:
    void dialogUnitsFollowTheFont() {
        QtWindow window;
        const QFont font = window.font();
        QVERIFY(font.pointSize() >= 8 && font.pointSize() <= 9);
        QFontMetrics metrics(font);
        const double average =
            metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") / 52.0;
        QVERIFY(std::abs(window.Units().base_x - average) <= 0.5 + 1e-9);
        QCOMPARE(window.Units().base_y, metrics.height());
        QCOMPARE(window.size(),
                 QSize(qRound(359 * window.Units().base_x / 4.0), qRound(142 * window.Units().base_y / 8.0)));
        QCOMPARE(window.minimumSize(), window.maximumSize());  // not resizable
        const Qt::WindowFlags flags = window.windowFlags();
        QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        QVERIFY(!window.windowIcon().isNull());
        QVERIFY(window.windowIcon().availableSizes().contains(QSize(256, 256)));
    }

    void everyControlSitsWhereItsRowSays() {
        QtWindow window;
        const auto& widgets = window.TemplateWidgets();
        QCOMPARE(widgets.size(), std::size(kTemplate));
        const double bx = window.Units().base_x, by = window.Units().base_y;
        for (size_t i = 0; i < widgets.size(); ++i) {
            const Row& row = kTemplate[i];
            const QRect g = widgets[i]->geometry();
            const QString where = QString("row %1 (id %2)").arg(i).arg(row.id);
            QVERIFY2(g.x() == qRound(row.x * bx / 4) && g.y() == qRound(row.y * by / 8), qPrintable(where));
            QVERIFY2(g.width() == qRound(row.w * bx / 4), qPrintable(where));
            if (qobject_cast<QComboBox*>(widgets[i])) {
                // The row's height is the dropped list's: the closed box is smaller and shows several rows.
                QVERIFY2(g.height() < qRound(row.h * by / 8), qPrintable(where));
                QVERIFY2(static_cast<QComboBox*>(widgets[i])->maxVisibleItems() >= 3, qPrintable(where));
            } else {
                QVERIFY2(g.height() == qRound(row.h * by / 8), qPrintable(where));
            }
            QCOMPARE(TextOf(widgets[i]), QString::fromUtf8(row.text));
            if (row.id != -1) QCOMPARE(window.Control(row.id), widgets[i]);
            QVERIFY2(QRect(QPoint(0, 0), window.size()).contains(g), qPrintable(where));
        }
    }

    void tabOrderIsTemplateOrder() {
        QtWindow window;
        std::vector<QWidget*> expected;
        for (QWidget* w : window.TemplateWidgets())
            if (w->focusPolicy() & Qt::TabFocus) expected.push_back(w);
        // Combo boxes and buttons: 1001, 1020, 1013, 1012, 1, 2, 1002, 1006.
        QCOMPARE(expected.size(), size_t{8});
        std::vector<QWidget*> chain;
        QWidget* w = expected.front();
        do {
            if (std::find(expected.begin(), expected.end(), w) != expected.end()) chain.push_back(w);
            w = w->nextInFocusChain();
        } while (w != expected.front() && chain.size() < 20);
        QCOMPARE(chain, expected);
    }

    void initialStatesAndStyles() {
        QtWindow window;
        struct State {
            int id;
            bool visible, enabled;
        };
        const State states[] = {{1001, true, true},   {1020, false, true}, {1013, false, true},
                                {1012, false, true},  {1, true, true},     {2, false, true},
                                {1002, false, false}, {1006, true, true},  {1018, true, false},
                                {1023, true, true},   {1011, true, true}};
        for (const State& s : states) {
            QVERIFY2(window.Control(s.id)->isVisibleTo(&window) == s.visible,
                     qPrintable(QString::number(s.id)));
            QVERIFY2(window.Control(s.id)->isEnabled() == s.enabled, qPrintable(QString::number(s.id)));
        }
        QVERIFY(static_cast<QPushButton*>(window.Control(1))->isDefault());
        for (int id : {1003, 1007, 1019}) {
            auto* field = static_cast<QLabel*>(window.Control(id));
            QVERIFY(field->frameShape() != QFrame::NoFrame);
            QVERIFY(field->alignment() & Qt::AlignHCenter);
        }
        for (QWidget* w : window.TemplateWidgets()) {
            auto* label = qobject_cast<QLabel*>(w);
            if (!label) continue;
            QCOMPARE(label->textFormat(), Qt::PlainText);
            if (w->objectName() == "static") QVERIFY(label->alignment() & Qt::AlignRight);
        }
        QVERIFY(qobject_cast<korvel::gui::ElidedLabel*>(window.Control(1011)));
        QVERIFY(qobject_cast<korvel::gui::ElidedLabel*>(window.Control(1018)));
        QVERIFY(!static_cast<QProgressBar*>(window.Control(1023))->isTextVisible());

        QCOMPARE(window.ComboCount(1006), 16);
        QCOMPARE(window.ComboItemText(1006, 0), u"300");
        QCOMPARE(window.ComboItemText(1006, 9), u"115200");
        QCOMPARE(window.ComboItemText(1006, 15), u"4000000");
        QCOMPARE(window.ComboSelection(1006), -1);
        QCOMPARE(window.ComboCount(1001), 0);
    }

    void markupFromTheDeviceIsShownLiterally() {
        QtWindow window;
        const QStringList samples = {"#<b>x</b>", "<img src=\"/etc/passwd\">", "&lt;i&gt;",
                                     "<a href=x>y</a>"};
        for (int id : {1011, 1014, 1015, 1017, 1018, 1021}) {
            auto* label = static_cast<QLabel*>(window.Control(id));
            for (const QString& sample : samples) {
                window.SetText(id, korvel::gui::ToU16(sample));
                QCOMPARE(label->text(), sample);
                // Interpreted markup would be narrower than its source text.
                if (id != 1011 && id != 1018)
                    QVERIFY(label->sizeHint().width() >=
                            QFontMetrics(label->font()).horizontalAdvance(sample));
            }
        }
        window.SetText(korvel::kWindowTitle, u"<b>t</b>");
        QCOMPARE(window.windowTitle(), QString("<b>t</b>"));
    }

    // Tooltips quote other programs' names and the system's words: shown as written, never as markup.
    void tooltipsAreShownAsWritten() {
        QtWindow window;
        for (const QString& text :
             {QString("<b>getty</b> & <i>x</i>"), QString("plain"), QString("a  <br> b")}) {
            window.SetToolTip(1007, text);
            QTextDocument shown;
            shown.setHtml(window.Control(1007)->toolTip());
            QCOMPARE(shown.toPlainText(), text);
            // Assistive technology reads the text itself, no markup around it.
            QCOMPARE(window.Control(1007)->accessibleDescription(), text);
        }
        window.SetToolTip(1007, QString("plain"));
        QCOMPARE(window.Control(1007)->toolTip(), QString("plain"));  // no markup where none is needed
        window.SetToolTip(1007, QString());
        QVERIFY(window.Control(1007)->toolTip().isEmpty());
    }

    void chineseLabelsRenderAsGlyphs() {
        QtWindow window;
        window.SetText(korvel::kWindowTitle, u"绞车运行速度记录仪读取程序 2.0-8-gc788d8a 2022-07-30");
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QImage image = window.grab().toImage();
        const QString dir = qEnvironmentVariable("KORVEL_SCREENSHOT_DIR");
        if (!dir.isEmpty() && QDir().mkpath(dir)) image.save(dir + "/window-template.png");
        // The label "产品编号:" must leave ink: a missing CJK font would draw nothing or empty boxes.
        QWidget* label = window.TemplateWidgets()[16];
        const QImage ink = label->grab().toImage();
        int dark = 0;
        for (int y = 0; y < ink.height(); ++y)
            for (int x = 0; x < ink.width(); ++x) dark += qGray(ink.pixel(x, y)) < 128;
        QVERIFY(dark > 20);
    }

    void longDeviceLinesStayOnOneLine() {
        QtWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QWidget* line = window.Control(1011);
        const QString text = QString("#") + QString("设备消息 ").repeated(40);
        window.SetText(1011, korvel::gui::ToU16(text));
        QCOMPARE(static_cast<QLabel*>(line)->text(), text);  // the whole text is kept, only the view is cut
        const QRect before = line->geometry();
        line->repaint();
        QCOMPARE(line->geometry(), before);
    }

    void comboSemantics() {
        QtWindow window;
        std::vector<Message> seen;
        window.SetHandler([&](const Message& m) { seen.push_back(m); });
        window.ComboReset(1001);
        for (const char16_t* name : {u"/dev/pts/9", u"/dev/ttyFAKE0", u"/dev/a"}) window.ComboAdd(1001, name);
        QCOMPARE(window.ComboCount(1001), 3);
        QCOMPARE(window.ComboSelection(1001), -1);           // adding selects nothing
        QCOMPARE(window.ComboItemText(1001, 2), u"/dev/a");  // no sorting
        QCOMPARE(window.ComboItemText(1001, 3), u"");
        QCOMPARE(window.ComboItemText(1001, -1), u"");
        window.ComboSelect(1001, 1);
        QCOMPARE(window.ComboSelection(1001), 1);
        window.ComboSelect(1001, 7);
        QCOMPARE(window.ComboSelection(1001), -1);
        window.ComboSelect(1001, 2);
        window.ComboAdd(1001, u"/dev/b");
        QCOMPARE(window.ComboSelection(1001), 2);
        QVERIFY(seen.empty());  // nothing done by program is notified
        window.ComboReset(1001);
        QCOMPARE(window.ComboSelection(1001), -1);
        QCOMPARE(window.ComboCount(1001), 0);
        QVERIFY(seen.empty());

        // The operator's choice is notified once, with the control's id.
        auto* baud = static_cast<QComboBox*>(window.Control(1006));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.ComboSelect(1006, 9);
        baud->setFocus();
        QTest::keyClick(baud, Qt::Key_Down);
        QCOMPARE(window.ComboSelection(1006), 10);
        QCOMPARE(seen.size(), size_t{1});
        QCOMPARE(seen[0].msg, Msg::Command);
        QCOMPARE(seen[0].id, 1006);
        QCOMPARE(seen[0].code, Notify::SelChange);
    }

    void buttonsAndTimerReachTheHandler() {
        QtWindow window;
        std::vector<Message> seen;
        window.SetHandler([&](const Message& m) { seen.push_back(m); });
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        for (int id : {1013, 1012, 1020}) window.Show(id, true);
        QTest::mouseClick(window.Control(1013), Qt::LeftButton);
        window.Enable(1012, false);
        QTest::mouseClick(window.Control(1012), Qt::LeftButton);  // disabled: nothing
        QTest::mouseClick(window.Control(1020), Qt::LeftButton);
        QCOMPARE(seen.size(), size_t{2});
        QCOMPARE(seen[0].id, 1013);
        QCOMPARE(seen[1].id, 1020);
        QCOMPARE(seen[1].code, Notify::Clicked);

        seen.clear();
        window.StartTimer(1, 5);
        QTRY_VERIFY(seen.size() >= 2);
        QCOMPARE(seen[0].msg, Msg::Timer);
        QCOMPARE(seen[0].wParam, uintptr_t{1});
        window.StopTimer(1);
        seen.clear();
        QTest::qWait(30);  // a stopped timer stays quiet
        QVERIFY(seen.empty());
    }

    void everyWayOfClosingRunsTheDestructionOnce_data() {
        QTest::addColumn<int>("way");
        QTest::newRow("close button 关闭") << 0;
        QTest::newRow("Enter") << 1;
        QTest::newRow("Escape") << 2;
        QTest::newRow("window close box") << 3;
    }
    void everyWayOfClosingRunsTheDestructionOnce() {
        QFETCH(int, way);
        QtWindow window;
        int destroys = 0;
        window.SetHandler([&](const Message& m) { destroys += m.msg == Msg::Destroy; });
        window.StartTimer(1, 1000);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.Control(1001)->setFocus();
        switch (way) {
            case 0:
                QTest::mouseClick(window.Control(1), Qt::LeftButton);
                break;
            case 1:
                QTest::keyClick(window.Control(1001), Qt::Key_Return);
                break;
            case 2:
                QTest::keyClick(&window, Qt::Key_Escape);
                break;
            case 3:
                window.close();
                break;
        }
        QTRY_VERIFY(!window.isVisible());
        QCOMPARE(destroys, 1);
        QVERIFY(window.Destroyed());
        window.close();
        QCOMPARE(destroys, 1);
    }

    void messageBoxIsModalWithOneOk() {
        QtWindow window;
        QString seen_text;
        int buttons = -1;
        bool modal = false;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box);
            seen_text = box->text();
            buttons = static_cast<int>(box->buttons().size());
            modal = box->isModal();
            box->button(QMessageBox::Ok)->click();
        });
        window.MessageBox(u"Open file error /tmp/<b>x</b>.txt");
        QCOMPARE(seen_text, QString("Open file error /tmp/<b>x</b>.txt"));
        QCOMPARE(buttons, 1);
        QVERIFY(modal);
    }

    void profileIntegersSurviveARestart() {
        QString path;
        {
            QtWindow window;
            path = window.SettingsFile();
            QCOMPARE(window.GetProfileInt("Settings", "Baud", 9), 9);  // missing reads as the default
            window.WriteProfileInt("Settings", "Baud", 12);
            window.WriteProfileInt("Settings", "PortIndex", 3);
            window.WriteProfileInt("Settings", "Mode", -1);
            // Written through at once: another reader sees it while the window still runs.
            QSettings other(path, QSettings::IniFormat);
            QCOMPARE(other.value("Settings/Baud").toInt(), 12);
        }
        QVERIFY(path.endsWith("korvel/korvel.conf"));
        QVERIFY(path.startsWith(qEnvironmentVariable("XDG_CONFIG_HOME")));
        QtWindow again;
        QCOMPARE(again.GetProfileInt("Settings", "Baud", 9), 12);
        QCOMPARE(again.GetProfileInt("Settings", "PortIndex", 0), 3);
        QCOMPARE(again.GetProfileInt("Settings", "Mode", 0), -1);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray ini = file.readAll();
        QVERIFY(ini.contains("[Settings]"));
        QVERIFY(ini.contains("PortIndex=3"));

        // A value that is not a number reads as the default.
        {
            QSettings edit(path, QSettings::IniFormat);
            edit.setValue("Settings/Baud", "fast");
        }
        QtWindow third;
        QCOMPARE(third.GetProfileInt("Settings", "Baud", 9), 9);
    }

    void aSettingsFileThatCannotBeWrittenIsReportedOnce() {
        QTemporaryDir dir;
        QFile blocker(dir.path() + "/korvel");  // a file where the settings folder should be
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QtWindow window(dir.path() + "/korvel/korvel.conf");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot save the settings in .*korvel.conf"));
        window.WriteProfileInt("Settings", "Baud", 3);
        QTest::failOnWarning(QRegularExpression("cannot save"));
        window.WriteProfileInt("Settings", "Baud", 4);  // said once is enough
        QCOMPARE(window.GetProfileInt("Settings", "Baud", 9), 4);
    }
};

KORVEL_GUI_TEST_MAIN(WindowTest)
#include "window_test.moc"
