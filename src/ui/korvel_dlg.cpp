// SPDX-License-Identifier: MIT
// The dialog itself: its message map (Dispatch), OnInitDialog, the one-second OnTimer, OnSelChangeMode,
// OnDestroy and OnEndSession.
#include "ui/korvel_dlg.h"

#include <array>

#include "protocol/record_index.h"
#include "records/record_file.h"
#include "text/format.h"
#include "ui/controls.h"
#include "ui/dialog_template.h"
#include "ui/texts.h"

namespace korvel {
namespace {

using Handler = intptr_t (*)(CKorvelDlg&, const Message&);

// One row of the message map. Default rows have no handler of their own: the front end gives them its
// default processing (painting, the non-client area, mouse clicks).
struct MapEntry {
    Msg msg;
    int id;
    Notify code;
    Handler handler;  // null: default processing only
};

constexpr intptr_t kDefault = 0;

// The handlers that take nothing from the message and answer nothing.
template <void (CKorvelDlg::*Method)()>
intptr_t Call(CKorvelDlg& d, const Message&) {
    (d.*Method)();
    return 0;
}

intptr_t DragIcon(CKorvelDlg& d, const Message&) { return d.m_hIcon; }
intptr_t DeviceChange(CKorvelDlg& d, const Message& m) { return d.OnDeviceChange(m.wParam, m.lParam); }
intptr_t SerialData(CKorvelDlg& d, const Message& m) {
    return d.OnSerialData(reinterpret_cast<const uint8_t*>(m.wParam), static_cast<int>(m.lParam));
}
intptr_t EndSession(CKorvelDlg& d, const Message& m) {
    d.OnEndSession(m.wParam != 0);
    return 0;
}
intptr_t QueryEndSession(CKorvelDlg& d, const Message&) { return d.OnQueryEndSession() ? 1 : 0; }

// Dispatch takes the first entry that matches, so within one message this order decides.
constexpr std::array<MapEntry, 16> kMessageMap = {{
    {Msg::Paint, 0, Notify::None, nullptr},
    {Msg::QueryDragIcon, 0, Notify::None, DragIcon},
    {Msg::Command, IDC_MODE, Notify::SelChange, Call<&CKorvelDlg::OnSelChangeMode>},
    {Msg::Command, IDC_PORT, Notify::SelChange, Call<&CKorvelDlg::OnSelChangePort>},
    {Msg::Command, IDC_BAUD, Notify::SelChange, Call<&CKorvelDlg::OnSelChangeBaud>},
    {Msg::DeviceChange, 0, Notify::None, DeviceChange},
    {Msg::Timer, 0, Notify::None, Call<&CKorvelDlg::OnTimer>},
    {Msg::Destroy, 0, Notify::None, Call<&CKorvelDlg::OnDestroy>},
    {Msg::SerialData, 0, Notify::None, SerialData},
    {Msg::EndSession, 0, Notify::None, EndSession},
    {Msg::QueryEndSession, 0, Notify::None, QueryEndSession},
    {Msg::LButtonDown, 0, Notify::None, nullptr},
    {Msg::NcPaint, 0, Notify::None, nullptr},
    {Msg::Command, IDC_READ_DATA, Notify::Clicked, Call<&CKorvelDlg::OnReadData>},
    {Msg::Command, IDC_READ_INFO, Notify::Clicked, Call<&CKorvelDlg::OnReadInfo>},
    {Msg::Command, IDC_SYNC_TIME, Notify::Clicked, Call<&CKorvelDlg::OnSyncTime>},
}};

bool Matches(const MapEntry& e, const Message& m) {
    if (e.msg != m.msg) return false;
    return e.msg != Msg::Command || (e.id == m.id && e.code == m.code);
}

}  // namespace

CKorvelDlg::CKorvelDlg(Window& window, SerialLink& link, const Clock& clock, PortEnumerator& ports)
    : m_window(window), m_link(link), m_clock(clock), m_ports(ports) {}

CKorvelDlg::~CKorvelDlg() = default;

int CKorvelDlg::RecordCount() const { return RingDistance(m_nTailIndex, m_nHeadIndex); }

int CKorvelDlg::RecordsFetched() const { return RingDistance(m_nReadIndex, m_nHeadIndex); }

std::u16string CKorvelDlg::SavedFilePath() const { return JoinPath(m_strUploadDir, m_strFileName); }

intptr_t CKorvelDlg::Dispatch(const Message& message, bool* handled) {
    for (const MapEntry& entry : kMessageMap) {
        if (!Matches(entry, message)) continue;
        if (handled) *handled = entry.handler != nullptr;
        return entry.handler ? entry.handler(*this, message) : kDefault;
    }
    if (handled) *handled = false;
    return kDefault;
}

bool CKorvelDlg::OnInitDialog() {
    // The window's icon is the front end's: it loads icon group 128 along with the template.
    m_window.SetText(kWindowTitle, Format(text::kTitleFormat, text::kVersion, text::kBuildDate));
    FormatUtcOffset();

    // An index outside the list leaves the combo box without a selection; only the port index is bounded.
    m_window.ComboSelect(IDC_BAUD,
                         m_window.GetProfileInt(text::kSettingsSection, text::kKeyBaud, kDefaultBaudIndex));

    m_window.ComboReset(IDC_MODE);
    m_window.ComboAdd(IDC_MODE, text::kModeBlackBox);
    const int mode = m_window.GetProfileInt(text::kSettingsSection, text::kKeyMode, 0);
    m_window.ComboSelect(IDC_MODE, mode);
    m_nMode = mode;

    if (RefreshPortList()) FillPortCombo();
    int port_index = m_window.GetProfileInt(text::kSettingsSection, text::kKeyPortIndex, 0);
    if (port_index >= m_window.ComboCount(IDC_PORT)) port_index = 0;  // a negative index selects nothing
    m_window.ComboSelect(IDC_PORT, port_index);
    m_strPortName = m_window.ComboItemText(IDC_PORT, port_index);

    // Received chunks reach this dialog through m_link.m_hNotifyWnd, which the front end sets before it
    // calls this: it owns the loop of the user-interface thread that the chunks are posted to.
    m_window.StartTimer(kTimerId, kTimerPeriodMs);
    m_strUploadDir = ResolveUploadFolder();
    return true;
}

void CKorvelDlg::OnTimer() {
    TickReplyTimeout();

    // A closed port is tried again every tick, so a missing or busy one is taken up once it is free.
    // An open still under way in the background is waited for, not started again.
    if (!m_link.m_bOpen && !m_link.Opening()) OpenPort();
    ShowOpenState();

    m_window.SetText(IDC_RX_BYTES, Format(text::kCountersFormat, m_nRxBytes, m_nCrcErrors));
    m_window.SetText(IDC_TX_BYTES, Format(u"%u", m_nTxBytes));
}

void CKorvelDlg::ShowOpenState() {
    if (m_link.Opening()) return;
    const int open = m_link.m_bOpen ? 1 : 0;
    if (open != m_nShownOpenState) {
        m_window.SetText(IDC_PORT_STATUS, open ? text::kPortOpen : text::kPortClosed);
        m_nShownOpenState = open;
        m_window.Show(IDC_READ_INFO, open != 0);
        m_window.Enable(IDC_READ_INFO, open != 0);
        m_nReplyTimeout = 0;
        m_strCommand.clear();
        m_window.Enable(IDC_SYNC_TIME, true);
        m_window.Enable(IDC_READ_DATA, true);
        m_window.SetText(IDC_READ_DATA, text::kReadData);
        ResetDeviceInfo();
        ShowDeviceInfo();
    }
    if (m_bWalkCut) {
        m_bWalkCut = false;
        // The walk disabled the port and rate choice; with its button hidden nothing would enable them
        // again, and an adapter that comes back under another name could never be picked.
        m_window.SetText(IDC_READ_DATA, text::kReadData);
        for (int id : {IDC_SYNC_TIME, IDC_READ_DATA, IDC_PORT, IDC_BAUD}) m_window.Enable(id, true);
        m_window.Enable(IDC_READ_INFO, open != 0);
        m_window.SetText(IDC_RESULT, text::kDownloadCutByPort);
    }
}

void CKorvelDlg::OnSelChangeMode() {
    m_nMode = m_window.ComboSelection(IDC_MODE);
    m_window.WriteProfileInt(text::kSettingsSection, text::kKeyMode, m_nMode);
}

void CKorvelDlg::OnDestroy() {
    m_window.StopTimer(kTimerId);
    m_link.AbandonOpen();  // an open still blocked in the driver is left to end on its own
    if (m_link.m_bOpen) ClosePort();
    // Released at most once: a second run (session end, then destroy) finds nothing left to release.
    m_link.ReleaseEvents();
}

void CKorvelDlg::OnEndSession(bool ending) {
    if (ending) OnDestroy();
}

}  // namespace korvel
