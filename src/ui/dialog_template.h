// SPDX-License-Identifier: MIT
// Dialog template 102 as data: every front end builds the window by walking this table.
#pragma once

#include <array>
#include <span>
#include <string_view>

namespace korvel {

enum class ControlKind { ComboBox, PushButton, DefaultPushButton, Static, ProgressBar };

enum ControlStyle : unsigned {
    kStyleNone = 0,
    kAlignLeft = 1u << 0,
    kAlignRight = 1u << 1,
    kAlignCenter = 1u << 2,
    kBorder = 1u << 3,
    kNoWrapEllipsis = 1u << 4,  // one line, cut with "..." at the end
    kVScroll = 1u << 5,
    kSmooth = 1u << 6,
};

struct ControlTemplate {
    int id;
    ControlKind kind;
    std::u16string_view text;
    int x, y, width, height;  // dialog units; for a combo box the height of the dropped list
    unsigned style;
    bool visible;
    bool enabled;
};

struct DialogTemplate {
    int width, height;  // dialog units
    int font_points;
    std::span<const ControlTemplate> controls;  // template order, which is also the tab order
};

const DialogTemplate& MainDialogTemplate();

// The rates of combo box 1006, index 0 to 15; index 9 (115200) is the default.
inline constexpr std::array<std::u16string_view, 16> kBaudRates = {
    u"300",   u"600",    u"1200",   u"2400",   u"4800",   u"9600",    u"19200",   u"38400",
    u"57600", u"115200", u"230400", u"460800", u"921600", u"1000000", u"2000000", u"4000000",
};
inline constexpr int kDefaultBaudIndex = 9;

// Combo box 1002 comes with mode names that initialisation discards for the single "black_box".
inline constexpr std::array<std::u16string_view, 4> kTemplateModes = {u"recorder", u"monitor", u"loader",
                                                                      u"service"};

}  // namespace korvel
