// SPDX-License-Identifier: MIT
// The command and reply exchange: reply framing, tokens, the timeout and its repetitions.
// Line framing and checksums are in protocol/line_assembler_test.cpp; record replies in
// records/walk_test.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/dialog_rig.h"
#include "ui/texts.h"

namespace korvel {
namespace {

using testing::DialogRig;

constexpr std::u16string_view kInfoLine = u"A 2 B 1234 100 1 2024-03-05 07:08:09";

std::u16string Tokens(int n, std::u16string_view tail = u"") {
    std::u16string line = u"A 2 B 1234 100 1 2024-03-05 07:08:09";
    for (int i = 9; i <= n; ++i) line += u" t" + std::u16string(1, static_cast<char16_t>(u'a' + i % 26));
    return line + std::u16string(tail);
}

TEST(Exchange, FirstLineIsAcceptedOnlyWhenItBeginsWithOK) {
    struct Case {
        std::u16string_view first;
        bool accepted;
    };
    for (const Case& c : {Case{u"OK", true}, Case{u"OKAY", true}, Case{u"OK 0", true}, Case{u"ok", false},
                          Case{u"NO", false}, Case{u"O", false}, Case{u" OK", false}, Case{u"", false}}) {
        DialogRig rig;
        rig.dlg.OnReadInfo();
        rig.Reply({c.first});
        EXPECT_EQ(rig.dlg.m_bReplyOk, c.accepted ? 1 : 0) << std::string(c.first.begin(), c.first.end());
        rig.Reply({kInfoLine, u""});
        EXPECT_EQ(rig.dlg.m_strProductNo, c.accepted ? u"1234" : u"");
        // An information exchange closes at its empty line whatever the parse gave.
        EXPECT_EQ(rig.dlg.m_strCommand, u"");
        EXPECT_EQ(rig.dlg.m_nReplyTimeout, 0);
    }
}

TEST(Exchange, EmptyFirstLineCountsAndTheNextEmptyLineEndsTheReply) {
    DialogRig rig;
    rig.dlg.OnReadInfo();
    rig.Reply({u""});
    EXPECT_EQ(rig.dlg.m_nReplyLines, 1);
    EXPECT_EQ(rig.dlg.m_strCommand, u"info");
    EXPECT_EQ(rig.dlg.m_nReplyTimeout, 3);  // the first line never touches the timeout
    rig.Reply({u""});
    EXPECT_EQ(rig.dlg.m_strCommand, u"");
    EXPECT_EQ(rig.dlg.m_nReplyTimeout, 0);
}

TEST(Exchange, AcceptedReplyWithoutBodyChangesNothing) {
    DialogRig rig;
    rig.dlg.OnReadInfo();
    rig.Reply({u"OK"});
    EXPECT_TRUE(rig.dlg.ParseReplyBody());
    rig.Reply({u""});
    EXPECT_EQ(rig.dlg.m_strProductNo, u"");
    EXPECT_EQ(rig.dlg.m_strCommand, u"");
    EXPECT_EQ(rig.dlg.m_nReplyTimeout, 0);
}

TEST(Exchange, SpacesSeparateTokensWithoutEmptyOnes) {
    DialogRig rig;
    rig.dlg.OnReadInfo();
    rig.Reply({u"OK", u"  A  2\tx B 1234   100 1 2024-03-05  07:08:09 ", u""});
    EXPECT_EQ(rig.dlg.m_strFirmware, u"A 2\tx B");  // a tab belongs to its token
    EXPECT_EQ(rig.dlg.m_strProductNo, u"1234");
    EXPECT_EQ(rig.dlg.m_strDeviceTime, u"2024-03-05 07:08:09");
}

TEST(Exchange, ALineHoldsAtMost32TokensAndARefusalSaysWhy) {
    struct Case {
        std::u16string first, line;
        bool handed_over;
        ReplyRefusal why;
    };
    for (const Case& c : {Case{u"OK", Tokens(31, u" "), true, ReplyRefusal::None},
                          Case{u"OK", Tokens(32), true, ReplyRefusal::None},
                          Case{u"OK", Tokens(32, u" "), false, ReplyRefusal::TooManyWords},
                          Case{u"OK", Tokens(33), false, ReplyRefusal::TooManyWords},
                          Case{u"OK", u"A 2 B 1234 100 1 2024-03-05", false, ReplyRefusal::Rejected},
                          Case{u"ERR busy", Tokens(8), false, ReplyRefusal::NoOk}}) {
        DialogRig rig;
        rig.dlg.m_strCommand = u"info";
        rig.dlg.SendCommand();
        rig.Reply({c.first});
        rig.dlg.OnReplyLine(c.line);
        EXPECT_EQ(rig.dlg.ParseReplyBody(), c.handed_over) << c.line.size();
        EXPECT_EQ(rig.dlg.m_strProductNo, c.handed_over ? u"1234" : u"");
        EXPECT_EQ(rig.dlg.m_lastRefusal, c.why) << c.line.size();
        rig.dlg.SendCommand();  // a new command forgets the refusal
        EXPECT_EQ(rig.dlg.m_lastRefusal, ReplyRefusal::None);
    }
}

// "无回应" shows when fewer than two lines came before the timeout: none, or only the first ("OK").
TEST(Exchange, NoReplyCountsTheLinesThatCame) {
    struct Case {
        std::vector<std::u16string_view> lines;
        std::u16string_view shown;
    };
    for (const Case& c : {Case{{}, text::kNoReply}, Case{{u"OK"}, text::kNoReply},
                          Case{{u"ERR"}, text::kNoReply}, Case{{u"OK", u"A 2"}, u""}}) {
        DialogRig rig;
        rig.dlg.OnReadInfo();
        for (std::u16string_view line : c.lines) rig.dlg.OnReplyLine(std::u16string(line));
        for (int i = 0; i < 3; ++i) rig.dlg.TickReplyTimeout();
        EXPECT_EQ(rig.Text(IDC_RESULT), c.shown) << c.lines.size();
    }
}

TEST(Exchange, ALaterLineWinsAndEachLineIsHandedOver) {
    DialogRig rig;
    rig.dlg.OnReadInfo();
    rig.Reply({u"OK", kInfoLine, u"X 1 Y 77 3 1 d t", u""});
    EXPECT_EQ(rig.dlg.m_strProductNo, u"77");
    EXPECT_EQ(rig.dlg.m_nHeadIndex, 2);
}

TEST(Exchange, SendShowsTheLineAndArmsTheReplyState) {
    DialogRig rig;
    rig.dlg.m_strCommand = u"info";
    rig.dlg.SendCommand();
    rig.Reply({u"OK", u"partial"});
    rig.dlg.OnSyncTime();
    EXPECT_EQ(rig.Text(IDC_LAST_COMMAND), u"time 2024-03-05 07:08:09");
    EXPECT_EQ(rig.dlg.m_strCommand, u"time 2024-03-05 07:08:09");
    EXPECT_EQ(rig.dlg.m_nReplyLines, 0);
    EXPECT_EQ(rig.dlg.m_bReplyOk, 0);
    EXPECT_EQ(rig.dlg.m_strReplyBody, u"");
    EXPECT_EQ(rig.dlg.m_nReplyTimeout, 3);
}

TEST(Exchange, NonEmptyLinesShowInTheMessageLineAndRearmTheTimeout) {
    DialogRig rig;
    rig.dlg.OnReadInfo();
    rig.Reply({u"OK"});
    rig.dlg.TickReplyTimeout();
    rig.dlg.TickReplyTimeout();
    EXPECT_EQ(rig.dlg.m_nReplyTimeout, 1);
    rig.Reply({u"body"});
    EXPECT_EQ(rig.dlg.m_nReplyTimeout, 3);
    EXPECT_EQ(rig.Text(IDC_MESSAGE), u"body");
    rig.Reply({u""});
    EXPECT_EQ(rig.Text(IDC_MESSAGE), u"body");  // an empty line leaves it
}

TEST(Exchange, ThirdTickWithoutReplyShowsNoReply) {
    DialogRig rig;
    rig.dlg.OnReadInfo();
    rig.dlg.TickReplyTimeout();
    rig.dlg.TickReplyTimeout();
    EXPECT_EQ(rig.Text(IDC_RESULT), u"");
    rig.dlg.TickReplyTimeout();
    EXPECT_EQ(rig.Text(IDC_RESULT), text::kNoReply);
    EXPECT_EQ(rig.dlg.m_nReplyTimeout, 0);
    EXPECT_EQ(rig.dlg.m_strCommand, u"info");  // not repeated, left open without a timeout
    rig.window.SetText(IDC_RESULT, u"");
    rig.dlg.TickReplyTimeout();
    EXPECT_EQ(rig.Text(IDC_RESULT), u"");
}

TEST(Exchange, PendingRecordRequestIsRepeatedOnTheThirdTick) {
    DialogRig rig;
    rig.dlg.m_nProtocol = 1;
    rig.dlg.m_nReadIndex = 5;
    rig.dlg.m_strCommand = u"get";
    rig.dlg.SendCommand();
    EXPECT_EQ(rig.Text(IDC_LAST_COMMAND), u"get 5");
    rig.Reply({u"OK", u"half a reply"});  // two lines, no end: a repeat resets the count anyway
    rig.window.SetText(IDC_LAST_COMMAND, u"");
    rig.dlg.TickReplyTimeout();
    rig.dlg.TickReplyTimeout();
    EXPECT_EQ(rig.Text(IDC_LAST_COMMAND), u"");
    rig.dlg.TickReplyTimeout();
    EXPECT_EQ(rig.Text(IDC_LAST_COMMAND), u"get 5");
    EXPECT_EQ(rig.Text(IDC_RESULT), text::kNoReply);
    EXPECT_EQ(rig.dlg.m_nReplyTimeout, 3);
    EXPECT_EQ(rig.dlg.m_nReplyLines, 0);
    EXPECT_EQ(rig.dlg.m_strReplyBody, u"");
}

TEST(Exchange, RequestAtTheStopIndexIsNotRepeated) {
    DialogRig rig;
    rig.dlg.m_nReadIndex = 0;
    rig.dlg.m_nTailIndex = 0;
    rig.dlg.m_strCommand = u"get";
    rig.dlg.SendCommand();
    rig.window.SetText(IDC_LAST_COMMAND, u"");
    for (int i = 0; i < 3; ++i) rig.dlg.TickReplyTimeout();
    EXPECT_EQ(rig.Text(IDC_LAST_COMMAND), u"");
    EXPECT_EQ(rig.dlg.m_nReplyTimeout, 0);
    EXPECT_EQ(rig.Text(IDC_RESULT), text::kNoReply);
}

TEST(Exchange, NoNoReplyWhenTwoLinesCame) {
    DialogRig rig;
    rig.dlg.OnReadInfo();
    rig.Reply({u"OK", u"first body line"});
    for (int i = 0; i < 3; ++i) rig.dlg.TickReplyTimeout();
    EXPECT_EQ(rig.dlg.m_nReplyTimeout, 0);
    EXPECT_EQ(rig.Text(IDC_RESULT), u"");
}

TEST(Exchange, LinesWithoutAnExchangeHandNothingOver) {
    DialogRig rig;
    rig.Reply({u"OK", kInfoLine, u""});
    EXPECT_EQ(rig.dlg.m_strProductNo, u"");
    EXPECT_EQ(rig.dlg.m_nReplyTimeout, 0);
    // Stray lines after a closed exchange never bring its body back.
    rig.dlg.OnReadInfo();
    rig.Reply({u"OK", kInfoLine, u""});
    ASSERT_EQ(rig.dlg.m_strProductNo, u"1234");
    rig.dlg.ResetDeviceInfo();
    rig.dlg.m_strCommand = u"info";
    rig.Reply({u""});
    EXPECT_EQ(rig.dlg.m_strProductNo, u"");
}

TEST(Exchange, RecordRequestLineForms) {
    struct Case {
        int protocol, read, tail;
        std::u16string_view line;
    };
    for (const Case& c :
         {Case{0, 17, 5, u"get 17"}, Case{1, 32767, 0, u"get 32767"}, Case{2, 17, 5, u"get2 17 -12"},
          Case{3, 3, 32000, u"get2 3 -100"}, Case{2, 250, 0, u"get2 250 -100"},
          Case{2, 100, 0, u"get2 100 -100"}, Case{2, 5, 5, u"get2 5 0"}, Case{2, 0, 32767, u"get2 0 -1"}}) {
        DialogRig rig;
        rig.dlg.m_strCommand = u"get";
        rig.dlg.m_nProtocol = c.protocol;
        rig.dlg.m_nReadIndex = c.read;
        rig.dlg.m_nTailIndex = c.tail;
        EXPECT_EQ(rig.dlg.FormatRequestLine(), c.line);
        rig.dlg.SendCommand();
        EXPECT_EQ(rig.Text(IDC_LAST_COMMAND), c.line);
    }
}

TEST(Exchange, RefusedRecordReplyIsHandedBackToTheWalk) {
    DialogRig rig;
    rig.dlg.m_nProtocol = 1;
    rig.dlg.m_nReadIndex = 5;
    rig.dlg.m_strCommand = u"get";
    rig.dlg.SendCommand();
    rig.window.SetText(IDC_LAST_COMMAND, u"");
    rig.Reply({u"NO", u""});
    // The exchange stays open; its timeout, not the refusal, repeats the request.
    EXPECT_EQ(rig.Text(IDC_LAST_COMMAND), u"");
    EXPECT_EQ(rig.dlg.m_strCommand, u"get");
    EXPECT_EQ(rig.dlg.m_lastRefusal, ReplyRefusal::NoOk);
    for (int tick = 0; tick < 2; ++tick) rig.dlg.TickReplyTimeout();
    EXPECT_EQ(rig.Text(IDC_LAST_COMMAND), u"");
    rig.dlg.TickReplyTimeout();
    EXPECT_EQ(rig.Text(IDC_LAST_COMMAND), u"get 5");
}

TEST(Exchange, ReplyWithALineDroppedByTheChecksumIsAskedForAgain) {
    DialogRig rig;
    rig.dlg.m_nProtocol = 2;
    rig.dlg.m_nHeadIndex = rig.dlg.m_nReadIndex = 5;
    rig.dlg.m_nCrcErrors = 3;  // earlier errors do not count against this reply
    rig.dlg.m_strCommand = u"get";
    rig.dlg.SendCommand();
    rig.window.SetText(IDC_LAST_COMMAND, u"");
    const std::string reply = "OK\n2024-03-05 07:08:09 1 2 5 0000\n\n";
    rig.dlg.OnSerialData(reinterpret_cast<const uint8_t*>(reply.data()), static_cast<int>(reply.size()));
    EXPECT_EQ(rig.dlg.m_nCrcErrors, 4u);
    EXPECT_EQ(rig.dlg.m_nRxBytes, reply.size());
    EXPECT_EQ(rig.Text(IDC_LAST_COMMAND), u"get2 5 -5");
    EXPECT_EQ(rig.dlg.m_nReadIndex, 5);
}

TEST(Exchange, AReplyThatNeverEndsIsRefusedAtItsBound) {
    // "OK", then body lines without end: short lines pass the bound on lines, long ones on characters.
    struct Case {
        std::u16string command;
        size_t line_length;
    };
    for (const Case& c : {Case{u"info", 40}, Case{u"info", 2000}, Case{u"get", 40}, Case{u"get", 2000}}) {
        DialogRig rig;
        rig.dlg.m_nProtocol = 2;
        rig.dlg.m_nHeadIndex = rig.dlg.m_nReadIndex = 5;
        rig.dlg.m_strCommand = c.command;
        rig.dlg.SendCommand();
        rig.Reply({u"OK"});
        const std::u16string line(c.line_length, u'7');
        size_t longest = 0;
        for (int i = 0; i < 6000; ++i) {
            rig.dlg.OnReplyLine(line);
            longest = std::max(longest, rig.dlg.m_strReplyBody.size());
        }
        EXPECT_LE(longest, 256u * 1024 + c.line_length);
        if (c.command == u"info") {
            EXPECT_EQ(rig.dlg.m_strCommand, u"");  // refused and closed, as at a refused reply's end
            EXPECT_EQ(rig.dlg.m_nReplyTimeout, 0);
        } else {
            // Refused and asked again; the endless lines no longer hold the timeout off.
            rig.window.SetText(IDC_LAST_COMMAND, u"");
            for (int tick = 0; tick < 3; ++tick) rig.dlg.TickReplyTimeout();
            EXPECT_EQ(rig.Text(IDC_LAST_COMMAND), u"get2 5 -5");
        }
    }
}

TEST(Exchange, DeviceMessagesShowInTheMessageLine) {
    DialogRig rig;
    rig.dlg.OnDeviceMessage(u"#<b>boot</b>");
    EXPECT_EQ(rig.Text(IDC_MESSAGE), u"#<b>boot</b>");
}

}  // namespace
}  // namespace korvel
