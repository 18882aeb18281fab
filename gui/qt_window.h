// SPDX-License-Identifier: MIT
// The window layer on Qt Widgets: dialog template 102 realised as a fixed-size QDialog. Events of the
// controls, the timers and the closing reach the dialog logic as Messages through one handler.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QString>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "app/korvel_app.h"
#include "ui/dialog_template.h"
#include "ui/korvel_dlg.h"
#include "ui/window.h"

class QMenu;
class QPlainTextEdit;
class QSettings;
class QTimer;

namespace korvel::gui {

QString ToQString(std::u16string_view text);
std::u16string ToU16(const QString& text);

// Dialog units of a font, as the platform defines them: x pixels = x × average character width ÷ 4,
// y pixels = y × character height ÷ 8, each rounded to the nearest pixel.
struct DialogUnits {
    int base_x = 0;  // average width of the letters A-Z and a-z
    int base_y = 0;  // character height

    static DialogUnits Of(const QFont& font);
    int X(int units) const;
    int Y(int units) const;
    QRect Rect(int x, int y, int width, int height) const;
};

// A static that keeps to one line and cuts its text with "..." at the end when it does not fit.
class ElidedLabel : public QLabel {
    Q_OBJECT
  public:
    using QLabel::QLabel;

  protected:
    void paintEvent(QPaintEvent* event) override;
};

class QtWindow : public QDialog, public Window {
    Q_OBJECT
  public:
    using Handler = std::function<void(const Message&)>;

    // settings_file empty: the per-user file ~/.config/korvel/korvel.conf.
    explicit QtWindow(const QString& settings_file = {}, QWidget* parent = nullptr);
    ~QtWindow() override;

    // Where the window's events go (combo changes, clicks, ticks, destruction).
    void SetHandler(Handler handler) { handler_ = std::move(handler); }
    // Where the record items of the context menu go (right click on the dialog, the menu key, Ctrl+key).
    void SetRecordHandler(std::function<void(RecordItem)> handler) { record_handler_ = std::move(handler); }
    // The check's text window, opened (or brought forward) with text; read-only, with a copy button.
    void ShowRecordCheck(const QString& text);
    // Replaces the modal box, for tests that must not block.
    void SetMessageBoxHook(std::function<void(const QString&)> hook) { message_box_hook_ = std::move(hook); }

    // Window
    void SetText(int id, std::u16string_view text) override;
    void Show(int id, bool shown) override;
    void Enable(int id, bool enabled) override;
    void ComboReset(int id) override;
    void ComboAdd(int id, std::u16string_view text) override;
    int ComboCount(int id) const override;
    void ComboSelect(int id, int index) override;
    int ComboSelection(int id) const override;
    std::u16string ComboItemText(int id, int index) const override;
    void SetProgressRange(int id, int low, int high) override;
    void SetProgressPos(int id, int pos) override;
    void StartTimer(int timer_id, int period_ms) override;
    void StopTimer(int timer_id) override;
    void MessageBox(std::u16string_view text) override;
    int GetProfileInt(std::string_view section, std::string_view key, int default_value) override;
    void WriteProfileInt(std::string_view section, std::string_view key, int value) override;

    // Qt side, for the front end and tests.
    QWidget* Control(int id) const;  // nullptr for an unknown id; statics (-1) are not addressable
    const std::vector<QWidget*>& TemplateWidgets() const { return widgets_; }  // one per template row
    const DialogUnits& Units() const { return units_; }
    void SetToolTip(int id, const QString& text);
    void SetToolTip(int id, std::u16string_view text) override { SetToolTip(id, ToQString(text)); }
    QMenu* RecordMenu() const { return record_menu_; }
    QDialog* RecordCheck() const { return check_; }  // nullptr before the first check
    bool Destroyed() const { return destroyed_; }
    QString SettingsFile() const;

  public slots:
    void done(int result) override;

  protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QWidget* Create(const ControlTemplate& row);
    void Send(const Message& message);

    Handler handler_;
    std::function<void(RecordItem)> record_handler_;
    QMenu* record_menu_ = nullptr;
    QDialog* check_ = nullptr;
    QPlainTextEdit* check_text_ = nullptr;
    std::function<void(const QString&)> message_box_hook_;
    DialogUnits units_;
    std::vector<QWidget*> widgets_;
    std::map<int, QWidget*> by_id_;
    std::map<int, QTimer*> timers_;
    std::unique_ptr<QSettings> settings_;
    bool destroyed_ = false;
    bool settings_warned_ = false;
};

}  // namespace korvel::gui
