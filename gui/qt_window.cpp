// SPDX-License-Identifier: MIT
#include "qt_window.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDebug>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSignalBlocker>
#include <QStandardPaths>
#include <QStyle>
#include <QTextDocument>
#include <QTimer>
#include <QVBoxLayout>

#include "ui/controls.h"
#include "ui/texts.h"

// Resources of a static library must be registered by hand; outside any namespace, as Qt requires.
static void InitKorvelResources() { Q_INIT_RESOURCE(korvel); }

namespace korvel::gui {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

// The dialog font: the system's UI font at 8 to 9 points, as the template's 8-point shell font.
QFont DialogFont() {
    QFont font = QApplication::font();
    if (font.pointSize() < 8 || font.pointSize() > 9) font.setPointSize(9);
    return font;
}

Qt::Alignment AlignmentOf(unsigned style) {
    if (style & kAlignRight) return Qt::AlignRight | Qt::AlignVCenter;
    if (style & kAlignCenter) return Qt::AlignHCenter | Qt::AlignVCenter;
    return Qt::AlignLeft | Qt::AlignVCenter;
}

}  // namespace

QString ToQString(std::u16string_view text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

std::u16string ToU16(const QString& text) {
    return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<size_t>(text.size()));
}

DialogUnits DialogUnits::Of(const QFont& font) {
    QFontMetrics metrics(font);
    DialogUnits units;
    // The average width over the 52 letters, rounded to the nearest pixel as the platform does it.
    units.base_x = (metrics.horizontalAdvance(QLatin1String(kAlphabet)) / 26 + 1) / 2;
    units.base_y = metrics.height();
    return units;
}

int DialogUnits::X(int units) const { return (units * base_x + 2) / 4; }
int DialogUnits::Y(int units) const { return (units * base_y + 4) / 8; }

QRect DialogUnits::Rect(int x, int y, int width, int height) const {
    return QRect(X(x), Y(y), X(width), Y(height));
}

void ElidedLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    drawFrame(&painter);
    const QRect area = contentsRect();
    QString line = text();
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    const QString shown = fontMetrics().elidedText(line, Qt::ElideRight, area.width());
    style()->drawItemText(&painter, area, static_cast<int>(alignment()), palette(), isEnabled(), shown,
                          foregroundRole());
}

QtWindow::QtWindow(const QString& settings_file, QWidget* parent) : QDialog(parent) {
    InitKorvelResources();
    QString file = settings_file;
    if (file.isEmpty()) {
        file =
            QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/korvel/korvel.conf";
    }
    settings_ = std::make_unique<QSettings>(file, QSettings::IniFormat);

    // Caption and close box only: the template has neither a minimise nor a maximise box.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    QIcon icon;
    for (int size : {32, 64, 128, 256}) icon.addFile(QString(":/korvel/korvel-%1.png").arg(size));
    setWindowIcon(icon);

    setFont(DialogFont());
    units_ = DialogUnits::Of(font());
    const DialogTemplate& dialog = MainDialogTemplate();
    setFixedSize(units_.X(dialog.width), units_.Y(dialog.height));

    QWidget* previous = nullptr;
    for (const ControlTemplate& row : dialog.controls) {
        QWidget* widget = Create(row);
        widgets_.push_back(widget);
        if (row.id != IDC_STATIC) by_id_[row.id] = widget;
        if (widget->focusPolicy() & Qt::TabFocus) {
            if (previous) setTabOrder(previous, widget);
            previous = widget;
        }
    }

    // The record items: the window's title-bar menu belongs to the window manager, so they are the
    // context menu of the dialog's background; their shortcuts work anywhere in the window.
    record_menu_ = new QMenu(this);
    record_menu_->setObjectName("recordMenu");
    for (const RecordMenuItem& entry : kRecordMenu) {
        auto* action = new QAction(ToQString(entry.text), this);
        action->setShortcut(entry.key ? QKeySequence(Qt::CTRL | static_cast<Qt::Key>(entry.key))
                                      : QKeySequence(Qt::Key_F1));
        action->setShortcutContext(Qt::ApplicationShortcut);  // also from the check's window
        const RecordItem item = entry.item;
        connect(action, &QAction::triggered, this, [this, item] {
            if (record_handler_) record_handler_(item);
        });
        addAction(action);  // the shortcut, also while the menu is closed
        if (entry.item == RecordItem::Guide) record_menu_->addSeparator();
        record_menu_->addAction(action);
    }
    // The menu key and a right click open the menu over any control too: a combo box, which has the
    // focus when the window opens, would otherwise take the key for itself.
    for (QWidget* widget : widgets_) widget->installEventFilter(this);
}

bool QtWindow::eventFilter(QObject* watched, QEvent* event) {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != this) return QDialog::eventFilter(watched, event);
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Menu) {
        record_menu_->popup(widget->mapToGlobal(QPoint(0, widget->height())));
        return true;
    }
    if (event->type() == QEvent::ContextMenu) {
        auto* menu_event = static_cast<QContextMenuEvent*>(event);
        record_menu_->popup(menu_event->reason() == QContextMenuEvent::Mouse
                                ? menu_event->globalPos()
                                : widget->mapToGlobal(QPoint(0, widget->height())));
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void QtWindow::contextMenuEvent(QContextMenuEvent* event) {
    // The menu key gives no pointer position: the menu opens at the window's corner then.
    const QPoint at =
        event->reason() == QContextMenuEvent::Mouse ? event->globalPos() : mapToGlobal(QPoint(8, 8));
    record_menu_->popup(at);
    event->accept();
}

void QtWindow::ShowRecordCheck(const QString& text) {
    if (!check_) {
        check_ = new QDialog(this);
        check_->setObjectName("recordCheck");
        check_->setWindowTitle(ToQString(text::kCheckTitle));
        check_->setModal(false);
        auto* layout = new QVBoxLayout(check_);
        check_text_ = new QPlainTextEdit(check_);
        check_text_->setObjectName("checkText");
        check_text_->setReadOnly(true);  // plain text: device and file text is never markup
        // Long lines (a file's name, a system's sentence) wrap: nothing needs a sideways scroll.
        check_text_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        check_text_->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        check_text_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        check_text_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
        layout->addWidget(check_text_);
        auto* row = new QHBoxLayout();
        row->addStretch();
        auto* copy = new QPushButton(ToQString(text::kCheckCopy), check_);
        copy->setObjectName("checkCopy");
        connect(copy, &QPushButton::clicked, this,
                [this] { QGuiApplication::clipboard()->setText(check_text_->toPlainText()); });
        row->addWidget(copy);
        layout->addLayout(row);
        check_->resize(units_.X(300), units_.Y(200));
    }
    check_text_->setPlainText(text);
    check_->show();
    check_->raise();
}

QtWindow::~QtWindow() = default;

QWidget* QtWindow::Create(const ControlTemplate& row) {
    QWidget* widget = nullptr;
    const QRect rect = units_.Rect(row.x, row.y, row.width, row.height);
    switch (row.kind) {
        case ControlKind::ComboBox: {
            auto* combo = new QComboBox(this);
            if (row.id == IDC_BAUD) {
                for (auto rate : kBaudRates) combo->addItem(ToQString(rate));
            } else if (row.id == IDC_MODE) {
                for (auto mode : kTemplateModes) combo->addItem(ToQString(mode));
            }
            combo->setCurrentIndex(-1);
            // The template's height is that of the dropped list; the closed box keeps its own height.
            const int closed = combo->sizeHint().height();
            const int item = QFontMetrics(font()).height();
            combo->setMaxVisibleItems(std::max(1, (rect.height() - closed) / std::max(1, item)));
            combo->setGeometry(rect.x(), rect.y(), rect.width(), closed);
            const int id = row.id;
            connect(combo, &QComboBox::currentIndexChanged, this, [this, id] {
                Send(Message{Msg::Command, id, Notify::SelChange});
            });
            widget = combo;
            break;
        }
        case ControlKind::PushButton:
        case ControlKind::DefaultPushButton: {
            auto* button = new QPushButton(ToQString(row.text), this);
            if (row.kind == ControlKind::DefaultPushButton) button->setDefault(true);
            const int id = row.id;
            connect(button, &QPushButton::clicked, this, [this, id] {
                if (id == IDOK) {
                    accept();
                } else if (id == IDCANCEL) {
                    reject();
                } else {
                    Send(Message{Msg::Command, id, Notify::Clicked});
                }
            });
            widget = button;
            break;
        }
        case ControlKind::Static: {
            QLabel* label = (row.style & kNoWrapEllipsis) ? new ElidedLabel(this) : new QLabel(this);
            // Device text is shown as it came: never rich text, never a link or an image.
            label->setTextFormat(Qt::PlainText);
            label->setTextInteractionFlags(Qt::NoTextInteraction);
            label->setWordWrap(false);
            label->setAlignment(AlignmentOf(row.style));
            if (row.style & kBorder) {
                label->setFrameShape(QFrame::Box);
                label->setFrameShadow(QFrame::Plain);
            }
            label->setText(ToQString(row.text));
            widget = label;
            break;
        }
        case ControlKind::ProgressBar: {
            auto* bar = new QProgressBar(this);
            bar->setRange(0, 100);
            bar->setValue(0);
            bar->setTextVisible(false);
            widget = bar;
            break;
        }
    }
    widget->setObjectName(row.id == IDC_STATIC ? QString("static") : QString("control%1").arg(row.id));
    if (row.kind != ControlKind::ComboBox) widget->setGeometry(rect);
    widget->setVisible(row.visible);
    widget->setEnabled(row.enabled);
    return widget;
}

void QtWindow::Send(const Message& message) {
    if (handler_) handler_(message);
}

QWidget* QtWindow::Control(int id) const {
    auto it = by_id_.find(id);
    return it == by_id_.end() ? nullptr : it->second;
}

void QtWindow::SetText(int id, std::u16string_view text) {
    const QString value = ToQString(text);
    if (id == kWindowTitle) {
        setWindowTitle(value);
        return;
    }
    QWidget* widget = Control(id);
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        label->setText(value);
    } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
        button->setText(value);
    }
}

void QtWindow::Show(int id, bool shown) {
    if (QWidget* widget = Control(id)) widget->setVisible(shown);
}

void QtWindow::Enable(int id, bool enabled) {
    if (QWidget* widget = Control(id)) widget->setEnabled(enabled);
}

void QtWindow::ComboReset(int id) {
    if (auto* combo = qobject_cast<QComboBox*>(Control(id))) {
        QSignalBlocker quiet(combo);
        combo->clear();
    }
}

void QtWindow::ComboAdd(int id, std::u16string_view text) {
    if (auto* combo = qobject_cast<QComboBox*>(Control(id))) {
        QSignalBlocker quiet(combo);
        const int selected = combo->currentIndex();
        combo->addItem(ToQString(text));
        // Qt selects the first item added to an empty box; the platform's list stays unselected.
        combo->setCurrentIndex(selected);
    }
}

int QtWindow::ComboCount(int id) const {
    auto* combo = qobject_cast<QComboBox*>(Control(id));
    return combo ? combo->count() : 0;
}

void QtWindow::ComboSelect(int id, int index) {
    if (auto* combo = qobject_cast<QComboBox*>(Control(id))) {
        QSignalBlocker quiet(combo);
        combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
    }
}

int QtWindow::ComboSelection(int id) const {
    auto* combo = qobject_cast<QComboBox*>(Control(id));
    return combo ? combo->currentIndex() : -1;
}

std::u16string QtWindow::ComboItemText(int id, int index) const {
    auto* combo = qobject_cast<QComboBox*>(Control(id));
    if (!combo || index < 0 || index >= combo->count()) return {};
    return ToU16(combo->itemText(index));
}

void QtWindow::SetProgressRange(int id, int low, int high) {
    if (auto* bar = qobject_cast<QProgressBar*>(Control(id))) bar->setRange(low, high);
}

void QtWindow::SetProgressPos(int id, int pos) {
    if (auto* bar = qobject_cast<QProgressBar*>(Control(id))) bar->setValue(pos);
}

void QtWindow::StartTimer(int timer_id, int period_ms) {
    QTimer*& timer = timers_[timer_id];
    if (!timer) {
        timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, [this, timer_id] {
            Send(Message{Msg::Timer, 0, Notify::None, static_cast<uintptr_t>(timer_id)});
        });
    }
    timer->start(period_ms);
}

void QtWindow::StopTimer(int timer_id) {
    auto it = timers_.find(timer_id);
    if (it != timers_.end() && it->second) it->second->stop();
}

void QtWindow::MessageBox(std::u16string_view text) {
    const QString value = ToQString(text);
    if (message_box_hook_) {
        message_box_hook_(value);
        return;
    }
    QMessageBox box(QMessageBox::Warning, QStringLiteral("korvel"), value, QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

int QtWindow::GetProfileInt(std::string_view section, std::string_view key, int default_value) {
    const QString name = QString::fromUtf8(section.data(), static_cast<qsizetype>(section.size())) + '/' +
                         QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size()));
    bool ok = false;
    const int value = settings_->value(name).toInt(&ok);
    return ok ? value : default_value;
}

void QtWindow::WriteProfileInt(std::string_view section, std::string_view key, int value) {
    const QString name = QString::fromUtf8(section.data(), static_cast<qsizetype>(section.size())) + '/' +
                         QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size()));
    settings_->setValue(name, value);
    // Written through at once, so a crash right after the change keeps it.
    settings_->sync();
    if (settings_->status() != QSettings::NoError && !settings_warned_) {
        settings_warned_ = true;
        qWarning().noquote() << "korvel: cannot save the settings in" << settings_->fileName()
                             << "- check that its folder can be written; the choice is kept until the window "
                                "closes";
    }
}

void QtWindow::SetToolTip(int id, const QString& text) {
    QWidget* widget = Control(id);
    if (!widget) return;
    // Tooltips take text that looks like markup as rich text; these quote other programs and the system,
    // so such text is escaped for the eye. Assistive technology gets the plain text itself.
    widget->setToolTip(text.isEmpty() || !Qt::mightBeRichText(text)
                           ? text
                           : "<p style=\"white-space:pre-wrap\">" + text.toHtmlEscaped() + "</p>");
    widget->setAccessibleDescription(text);
}

QString QtWindow::SettingsFile() const { return settings_->fileName(); }

void QtWindow::done(int result) {
    // "关闭", Enter, Escape and the close box all end here: the destruction steps run exactly once.
    if (!destroyed_) {
        destroyed_ = true;
        Send(Message{Msg::Destroy});
        for (auto& [id, timer] : timers_) timer->stop();
    }
    QDialog::done(result);
}

}  // namespace korvel::gui
