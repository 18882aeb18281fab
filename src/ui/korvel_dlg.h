// SPDX-License-Identifier: MIT
// The main dialog: all state of the running tool and every handler. It reaches the window only through
// Window, the port only through SerialLink, and time only through Clock, so any front end (or a test)
// can drive it.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "protocol/line_assembler.h"
#include "serial/device_change.h"
#include "serial/port_enumerator.h"
#include "serial/serial_link.h"
#include "text/failure.h"
#include "ui/window.h"

namespace korvel {

// The messages the dialog handles; front ends translate their events into these.
enum class Msg {
    Paint,
    QueryDragIcon,
    Command,  // with a notification code: SelChange for combo boxes, Clicked for buttons
    DeviceChange,
    Timer,
    Destroy,
    SerialData,
    EndSession,
    QueryEndSession,
    LButtonDown,
    NcPaint,
};

enum class Notify { None, SelChange, Clicked };

// Why the last complete reply was not taken (front ends tell the operator).
enum class ReplyRefusal {
    None,
    NoOk,          // its first line did not begin with "OK"
    TooManyWords,  // a body line held more than 32 words, or a space behind the 32nd
    Rejected,      // a body line had too few words for the command (8 for "info", 3 for a record)
    Overlong,      // the reply passed the bounds of any legitimate one
};

constexpr int WM_USER = 0x0400;
constexpr int WM_SERIAL_DATA = WM_USER + 119;

struct Message {
    Msg msg;
    int id = 0;  // control identifier for Command
    Notify code = Notify::None;
    uintptr_t wParam = 0;
    intptr_t lParam = 0;
};

// One record of the reply being parsed, as StoreRecord made it.
struct ReplyRecord {
    std::optional<int> index;  // the index its line named (masked); none when the line names none
    std::u16string key;        // the timestamp key
    std::string line;          // the stored line
};

// The batch of records the walk is fetching. Every record line carries its own checksum, so a record
// that came intact in any reply is kept; after a reply with damaged lines only the records still
// missing are asked for again.
struct RecordBatch {
    int top = 0;                      // index of the batch's newest record
    std::map<int, ReplyRecord> kept;  // intact records by their distance below top
    std::vector<ReplyRecord> reply;   // records of the reply being parsed, in the order they came
    std::optional<int> resend_count;  // a repetition asks for this many records from m_nReadIndex
    std::optional<int> stale_index;   // a record of the reply that an earlier request asked for
    int retries = 0;                  // immediate repetitions of this batch's requests
    uint32_t crc_errors_at_send = 0;  // m_nCrcErrors when the current request went out
};

class CKorvelDlg : public LineSink {
  public:
    CKorvelDlg(Window& window, SerialLink& link, const Clock& clock, PortEnumerator& ports);
    ~CKorvelDlg() override;

    // Routes a message through the message map; returns the handler's result (0 when it has none).
    // Returns false in *handled when the message has no entry (the front end's default processing).
    intptr_t Dispatch(const Message& message, bool* handled = nullptr);

    // --- dialog (initialisation, timer, destruction) ---
    bool OnInitDialog();
    void OnTimer();
    // Shows a change of the port's open state (status 1007, the buttons, the device information cleared
    // when the port closed) and says when a download was cut off by the port. An open under way is no
    // change: a reopen for another rate or port shows nothing until its result is there.
    void ShowOpenState();
    void OnSelChangeMode();
    void OnDestroy();
    void OnEndSession(bool ending);
    bool OnQueryEndSession() { return true; }

    // --- port discovery ---
    bool RefreshPortList();
    void FillPortCombo();
    intptr_t OnDeviceChange(uintptr_t event, intptr_t data);
    void OnSelChangePort();
    void OnSelChangeBaud();

    // --- port connection ---
    void OpenPort();
    // The open's result taken up on the user-interface thread: the port, or why there is none.
    void TakeUpOpen(std::unique_ptr<Port> port, Failure failure);
    // Starts the open on a thread of its own, after `pause` (a reopen); false when no thread could be had.
    bool OpenInBackground(const PortOpener& opener, std::chrono::milliseconds pause);
    // Waits at most `wait` for the open under way and takes its result up; false when none came.
    bool AwaitOpen(std::chrono::milliseconds wait);
    void ClosePort();
    // What a closed port leaves behind is dropped: the partial line, the exchange, the walk.
    void ForgetConnection();
    void WritePort(const uint8_t* bytes, size_t length);
    void OnPortLost();  // the reader saw the device vanish

    // --- line framing ---
    intptr_t OnSerialData(const uint8_t* bytes, int count);

    // --- command and reply exchange ---
    void SendCommand();
    void OnReplyLine(std::u16string line) override;
    bool ParseReplyBody();
    bool RefuseReply(ReplyRefusal why);  // notes why the reply is not taken; false
    void TickReplyTimeout();
    void RefuseOverlongReply();                // a reply passed the bounds of any legitimate one
    std::u16string FormatRequestLine() const;  // the record request for m_nReadIndex
    int RequestedRecords() const;              // how many records that request asks for

    // --- device information ---
    void OnReadInfo();
    bool StoreDeviceInfo(int count, const std::u16string* tokens);
    void ShowDeviceInfo();
    void ResetDeviceInfo();
    void OnSyncTime();
    void FormatUtcOffset();

    // --- download walk and saved files ---
    void OnReadData();
    bool StoreRecord(int count, const std::u16string* tokens);
    void AdvanceDownload();
    void FinishDownload();
    void ScanSavedFiles(const std::u16string& folder, int n);
    // The exchange calls this when a record reply is complete but its body was refused.
    void OnRecordReplyRefused();

    // --- what front ends ask; they decide from these, never from the fields behind them ---
    // How the last command's exchange stands.
    enum class Outcome {
        Pending,   // a command went out and its reply has neither ended nor timed out
        NoReply,   // the reply did not come within the timeout ("无回应")
        Refused,   // the reply ended, but did not begin with "OK"
        Answered,  // the reply began with "OK" and has ended
    };
    Outcome LastOutcome() const {
        if (!m_strCommand.empty()) return m_nReplyTimeout != 0 ? Outcome::Pending : Outcome::NoReply;
        return m_bReplyOk ? Outcome::Answered : Outcome::Refused;
    }
    // A command waits for its reply, or a walk runs.
    bool ExchangePending() const { return !m_strCommand.empty(); }
    bool Downloading() const { return m_strCommand == u"get"; }
    // The next timer tick sends the record request again: its reply has not come in time.
    bool RequestAboutToRepeat() const {
        return m_nReplyTimeout == 1 && Downloading() && m_nReadIndex != m_nTailIndex;
    }
    // Why the last reply was not taken, and whether it went on beyond any legitimate reply.
    ReplyRefusal LastRefusal() const { return m_lastRefusal; }
    bool ReplyOverlong() const { return m_bReplyOverlong; }
    bool PortOpen() const { return m_link.m_bOpen != 0; }
    const Failure& LastOpenFailure() const { return m_link.m_lastFailure; }

    // The device information of the last answer to "info"; InfoRead() is false before one.
    bool InfoRead() const { return !m_strPcTime.empty(); }
    const std::u16string& ProductNo() const { return m_strProductNo; }
    const std::u16string& Firmware() const { return m_strFirmware; }
    const std::u16string& DeviceTime() const { return m_strDeviceTime; }
    const std::u16string& PcTime() const { return m_strPcTime; }
    int HeadIndex() const { return m_nHeadIndex; }
    int TailIndex() const { return m_nTailIndex; }
    int RecordCount() const;  // the records the device holds

    // The walk: the index it asks for next, how many records it fetched, how many lines it holds.
    int ReadIndex() const { return m_nReadIndex; }
    int RecordsFetched() const;
    size_t RecordsHeld() const { return m_recordBuffer.size(); }
    // The port the next open takes, as if chosen in the list, but not remembered in the settings.
    void UsePort(std::u16string name) { m_strPortName = std::move(name); }
    // Where the next walk saves its file (the upload folder unless a front end chose another).
    void SetUploadFolder(std::u16string folder) { m_strUploadDir = std::move(folder); }
    const std::u16string& UploadFolder() const { return m_strUploadDir; }
    // The last walk's record file, whether and why it could not be written, the records it gave up.
    std::u16string SavedFilePath() const;
    bool SaveFailed() const { return m_bSaveFailed; }
    const Failure& SaveFailure() const { return m_saveFailure; }
    const std::vector<int>& SkippedIndices() const { return m_skippedIndices; }

    // LineSink
    int Protocol() const override { return m_nProtocol; }
    int ReplyLines() const override { return m_nReplyLines; }
    const std::u16string& Command() const override { return m_strCommand; }
    void OnDeviceMessage(std::u16string text) override;
    void OnChecksumError() override { ++m_nCrcErrors; }

    Window& window() { return m_window; }
    SerialLink& link() { return m_link; }

    // State fields, in declaration order.
    int m_hIcon = 0;
    int m_nMode = 0;
    uint32_t m_nRxBytes = 0;
    uint32_t m_nTxBytes = 0;
    std::u16string m_strCommand;
    int m_nReplyLines = 0;
    uint8_t m_bReplyOk = 0;
    std::u16string m_strReplyBody;
    bool m_bReplyOverlong = false;  // the current reply passed its bounds and was refused
    std::u16string m_strProductNo;
    std::u16string m_strFirmware;
    int m_nHeadIndex = 0;
    int m_nTailIndex = 0;
    int m_nReadIndex = 0;
    int m_nReplyTimeout = 0;
    std::u16string m_strFileName;
    std::u16string m_strDeviceTime;
    std::u16string m_strPcTime;
    std::vector<std::u16string> m_portNames;
    std::u16string m_strPortName;
    int m_nProtocol = 0;
    std::u16string m_strUtcOffset;
    uint32_t m_nCrcErrors = 0;
    std::u16string m_strLastSaved;
    std::vector<std::string> m_recordBuffer;  // record lines newest first; written reversed, oldest first
    std::u16string m_strLastSeen;
    std::u16string m_strUploadDir;
    int64_t m_tStart = 0;

    RecordBatch m_batch;                // the batch of records being fetched
    std::vector<int> m_skippedIndices;  // records given up after the repetitions, this walk
    bool m_bSaveFailed = false;         // the last walk's record file could not be written
    Failure m_saveFailure;              // why, in the system's sentence
    LocalTime m_stStart;                // local time at the start of the walk; names the record file
    ReplyRefusal m_lastRefusal = ReplyRefusal::None;  // of the last reply since the command was sent

    // The open state that status control 1007 last showed.
    int m_nShownOpenState = 0;
    // A walk was cut off by the port closing; ShowOpenState says so in 1017.
    bool m_bWalkCut = false;
    uint32_t m_nPortCloses = 0;  // open ports closed since start: each close ends a connection

  private:
    Window& m_window;
    SerialLink& m_link;
    const Clock& m_clock;
    PortEnumerator& m_ports;
    LineAssembler m_assembler;
};

}  // namespace korvel
