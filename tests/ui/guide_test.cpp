// SPDX-License-Identifier: MIT
// The operator's guide built into the windows: every message the window can show, and every item of the
// record menu, is explained there.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/korvel_app.h"
#include "text/utf8.h"
#include "ui/texts.h"

namespace korvel::testing {
namespace {

// The literal pieces of a message between its %-fields ("读取完成，耗时%u秒" gives 读取完成，耗时 and 秒).
std::vector<std::string> Pieces(std::u16string_view message) {
    std::vector<std::string> pieces;
    std::u16string piece;
    for (size_t i = 0; i < message.size(); ++i) {
        if (message[i] != u'%') {
            piece += message[i];
            continue;
        }
        if (i + 1 < message.size() && message[i + 1] == u'%') {
            piece += u'%';
            ++i;
            continue;
        }
        if (!piece.empty()) pieces.push_back(WideToUtf8(piece));
        piece.clear();
        // Flags, width, precision and length, then the conversion letter.
        ++i;
        while (i < message.size() &&
               std::u16string_view(u"-+ #0123456789.lhz").find(message[i]) != std::u16string_view::npos)
            ++i;
    }
    if (!piece.empty()) pieces.push_back(WideToUtf8(piece));
    return pieces;
}

TEST(OperatorGuide, SplitsAMessageAtItsFields) {
    EXPECT_EQ(Pieces(u"约 %lld 条记录尚未下载"), (std::vector<std::string>{"约 ", " 条记录尚未下载"}));
    EXPECT_EQ(Pieces(u"%.01f%%"), (std::vector<std::string>{"%"}));
}

TEST(OperatorGuide, ExplainsEveryMessageAndEveryMenuItem) {
    const std::string_view guide = OperatorGuide();
    ASSERT_NE(guide.find("<html lang=\"zh-CN\">"), std::string_view::npos);
    for (std::u16string_view message : text::kMessages) {
        for (const std::string& piece : Pieces(message))
            EXPECT_NE(guide.find(piece), std::string_view::npos) << "not in the guide: " << piece;
    }
    for (const RecordMenuItem& item : kRecordMenu)
        EXPECT_NE(guide.find(WideToUtf8(item.text)), std::string_view::npos) << WideToUtf8(item.text);
    // Offline: nothing is fetched from anywhere.
    EXPECT_EQ(guide.find("http"), std::string_view::npos);
    EXPECT_EQ(guide.find("<script"), std::string_view::npos);
}

}  // namespace
}  // namespace korvel::testing
