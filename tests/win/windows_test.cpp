// SPDX-License-Identifier: MIT
// The Windows forms of settings, port list, port names, files, upload folder and UTC offset.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/registry_profile.h"
#include "platform/clock.h"
#include "records/record_file.h"
#include "records/scan.h"
#include "serial/port_name.h"
#include "serial/registry_ports.h"
#include "support/fake_port.h"
#include "support/temp_dir.h"
#include "text/file_system.h"
#include "text/utf8.h"
#include "ui/controls.h"
#include "ui/korvel_dlg.h"
#include "ui/memory_window.h"

// The Windows headers come last: their macros (IDOK, WM_USER) would break the dialog's own names.
#include <gtest/gtest.h>
#include <windows.h>

#include <shlobj.h>
#include <winioctl.h>

#include "text/wide_win.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;

std::wstring W(std::u16string_view text) { return ToWide(text); }

std::string ReadAll(const std::string& path) {
    std::ifstream in(fs::path(ToWide(path)), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(RegistryProfile, DefaultsRoundTripAndTheKeyOfEarlierInstallations) {
    RegistryProfile profile(u"korvel-test-settings");
    const std::u16string key = u"Software\\Local AppWizard-Generated Applications\\korvel-test-settings";
    RegDeleteTreeW(HKEY_CURRENT_USER, W(key).c_str());
    EXPECT_EQ(profile.SectionKey("Settings"), key + u"\\Settings");

    struct Case {
        const char* key;
        int default_value;
        int written;
    };
    for (const Case& c :
         {Case{"PortIndex", 0, 3}, Case{"Mode", 0, 0}, Case{"Baud", 9, 15}, Case{"Baud", 9, -1}}) {
        SCOPED_TRACE(c.key);
        RegDeleteTreeW(HKEY_CURRENT_USER, W(key).c_str());
        EXPECT_EQ(profile.GetInt("Settings", c.key, c.default_value), c.default_value);
        ASSERT_TRUE(profile.WriteInt("Settings", c.key, c.written));
        EXPECT_EQ(RegistryProfile(u"korvel-test-settings").GetInt("Settings", c.key, 1234), c.written);
        // Stored as a DWORD value, as the settings of earlier installations are.
        DWORD value = 0, size = sizeof value, type = 0;
        ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, W(key + u"\\Settings").c_str(),
                               W(Utf8ToWide(c.key)).c_str(), RRF_RT_ANY, &type, &value, &size),
                  ERROR_SUCCESS);
        EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
        EXPECT_EQ(value, static_cast<DWORD>(c.written));
    }
    // A value of another type reads as the default.
    HKEY handle = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, W(key + u"\\Settings").c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                              nullptr, &handle, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(handle, L"Mode", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"7"), 4);
    RegCloseKey(handle);
    EXPECT_EQ(profile.GetInt("Settings", "Mode", 0), 0);
    RegDeleteTreeW(HKEY_CURRENT_USER, W(key).c_str());
}

// A SERIALCOMM key of the test's own under HKEY_LOCAL_MACHINE.
class PortKey {
  public:
    PortKey() { RegDeleteTreeW(HKEY_LOCAL_MACHINE, kKey); }
    ~PortKey() { RegDeleteTreeW(HKEY_LOCAL_MACHINE, kKey); }
    // Replaces the values: (value name, port name) in this order.
    void Set(const std::vector<std::pair<std::wstring, std::wstring>>& values) {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kKey);
        HKEY handle = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle,
                                  nullptr),
                  ERROR_SUCCESS);
        for (const auto& [name, port] : values)
            RegSetValueExW(handle, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(port.c_str()),
                           static_cast<DWORD>((port.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(handle);
    }
    static constexpr const wchar_t* kKey = L"SOFTWARE\\korvel-test\\SERIALCOMM";
};

TEST(RegistryPorts, EnumerationOrderAndAbsentKey) {
    PortKey key;
    RegistryPortEnumerator ports(u"SOFTWARE\\korvel-test\\SERIALCOMM");
    EXPECT_TRUE(ports.List().empty());
    // Value names in creation order are also in name order, so either enumeration order gives this list;
    // the ports themselves are not sorted.
    key.Set(
        {{L"\\Device\\Serial0", L"COM12"}, {L"\\Device\\Serial1", L"COM3"}, {L"\\Device\\VCP0", L"COM1"}});
    EXPECT_EQ(ports.List(), (std::vector<std::u16string>{u"COM12", u"COM3", u"COM1"}));
}

TEST(RegistryPorts, ARefilledListKeepsTheChosenPortByNameWithoutReopeningIt) {
    PortKey key;
    key.Set({{L"a", L"COM3"}, {L"b", L"COM5"}});
    auto device = std::make_shared<testing::FakeDevice>();
    MemoryWindow window;
    FixedClock clock;
    RegistryPortEnumerator ports(u"SOFTWARE\\korvel-test\\SERIALCOMM");
    SerialLink link{testing::FakeOpener(device)};
    link.m_reopenPause = std::chrono::milliseconds(0);
    link.m_hNotifyWnd = testing::ImmediatePost();
    CKorvelDlg dlg{window, link, clock, ports};
    window.Profile()["Settings/PortIndex"] = 1;
    ASSERT_TRUE(dlg.OnInitDialog());
    dlg.Dispatch(Message{Msg::Timer});
    ASSERT_TRUE(link.m_bOpen);
    EXPECT_EQ(device->path, "\\\\.\\COM5");

    key.Set({{L"a", L"COM7"}, {L"b", L"COM5"}, {L"c", L"COM3"}});  // a new adapter, another order
    dlg.Dispatch(Message{Msg::DeviceChange, 0, Notify::None, DBT_DEVICEARRIVAL});
    EXPECT_EQ(window.Control(IDC_PORT).items, (std::vector<std::u16string>{u"COM7", u"COM5", u"COM3"}));
    EXPECT_EQ(window.ComboSelection(IDC_PORT), 1);
    EXPECT_EQ(device->opens, 1);
    EXPECT_EQ(device->dtr_drops, 0);

    key.Set({{L"a", L"COM7"}});  // the chosen adapter is unplugged
    dlg.Dispatch(Message{Msg::DeviceChange, 0, Notify::None, DBT_DEVICEREMOVECOMPLETE});
    EXPECT_FALSE(link.m_bOpen);
    EXPECT_EQ(window.ComboSelection(IDC_PORT), -1);
    dlg.Dispatch(Message{Msg::Destroy});
}

TEST(PortNames, DevicePathFromTheListedName) {
    const struct {
        std::u16string_view name;
        const char* path;
    } cases[] = {
        {u"COM3", "\\\\.\\COM3"},
        {u"com12", "\\\\.\\COM12"},
        {u"\\\\.\\COM10", "\\\\.\\COM10"},
        {u"COM", ""},
        {u"COM0", ""},
        {u"COM-3", ""},
        {u"COM9999999", "\\\\.\\COM9999999"},
        {u"COM10000000", ""},
        {u"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(PortPath(c.name), c.path) << WideToUtf8(c.name);
    EXPECT_EQ(PortName("\\\\.\\COM10"), u"COM10");
    EXPECT_EQ(PortName("COM5"), u"COM5");
}

class Files : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = testing::MakeTempDir("korvel-win");
        ASSERT_FALSE(root_.empty());
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(fs::path(ToWide(root_)), ignored);
    }
    std::string root_;
};

TEST_F(Files, ChinesePathsSaveUnderAFreeNameAndScan) {
    const std::string folder = root_ + "\\操作员 张\\记录";
    ASSERT_TRUE(MakeDirectory(root_ + "\\操作员 张"));
    ASSERT_TRUE(MakeDirectory(folder));
    const std::u16string taken = JoinPath(Utf8ToWide(folder), u"220730-102005-123-7b.txt");
    EXPECT_EQ(WideToUtf8(taken), folder + "\\220730-102005-123-7b.txt");
    const std::string older = "an older file of the same name, which stays as it is\n";
    std::ofstream(fs::path(ToWide(taken)), std::ios::binary) << older;

    const std::string line = MakeRecordLine(u"2022-07-30 10:15:42+08:00 125 0123");
    ASSERT_EQ(line, "2022-07-30 10:15:42+08:00 125 0123 cba8\n");
    EXPECT_EQ(WriteRecordFile(taken, {line}).code, EEXIST);
    EXPECT_EQ(ReadAll(WideToUtf8(taken)), older);

    // The name of the download's second is taken: the same second's with a sequence.
    std::u16string name;
    ASSERT_FALSE(SaveRecordFile(Utf8ToWide(folder), LocalTime{2022, 7, 30, 10, 20, 5}, 123, {line}, name));
    EXPECT_EQ(name, u"220730-102005-1-123-7b.txt");
    EXPECT_EQ(ReadAll(folder + "\\220730-102005-1-123-7b.txt"), line);

    std::vector<DirectoryEntry> entries;
    ASSERT_TRUE(ListDirectory(folder, entries));
    EXPECT_EQ(entries.size(), 2u);  // no partial file left behind

    std::u16string last_saved;
    int errors = 0;
    ScanFolder(Utf8ToWide(root_), 123, last_saved, [&](const std::u16string&) { ++errors; });
    EXPECT_EQ(last_saved, u"2022-07-30 10:15:42");
    EXPECT_EQ(errors, 0);
}

// A junction inside the upload tree that leads back to its root.
bool MakeJunction(const std::wstring& link, const std::wstring& target) {
    if (!CreateDirectoryW(link.c_str(), nullptr)) return false;
    const HANDLE h = CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const std::wstring substitute = L"\\??\\" + target;
    std::vector<char> buffer(sizeof(DWORD) + 2 * sizeof(WORD) + 4 * sizeof(WORD) +
                             (substitute.size() + target.size() + 2) * sizeof(wchar_t));
    auto* words = reinterpret_cast<WORD*>(buffer.data());
    *reinterpret_cast<DWORD*>(buffer.data()) = IO_REPARSE_TAG_MOUNT_POINT;
    words[2] = static_cast<WORD>(buffer.size() - 8);                          // data length
    words[4] = 0;                                                             // substitute offset
    words[5] = static_cast<WORD>(substitute.size() * sizeof(wchar_t));        // substitute length
    words[6] = static_cast<WORD>((substitute.size() + 1) * sizeof(wchar_t));  // print offset
    words[7] = static_cast<WORD>(target.size() * sizeof(wchar_t));            // print length
    auto* names = reinterpret_cast<wchar_t*>(words + 8);
    std::copy(substitute.begin(), substitute.end(), names);
    std::copy(target.begin(), target.end(), names + substitute.size() + 1);
    DWORD returned = 0;
    const BOOL ok = DeviceIoControl(h, FSCTL_SET_REPARSE_POINT, buffer.data(),
                                    static_cast<DWORD>(buffer.size()), nullptr, 0, &returned, nullptr);
    CloseHandle(h);
    return ok;
}

TEST_F(Files, AJunctionLoopInTheUploadTreeIsNotEntered) {
    const std::string sub = root_ + "\\sub";
    ASSERT_TRUE(MakeDirectory(sub));
    ASSERT_FALSE(WriteRecordFile(Utf8ToWide(sub + "\\220730-102005-123-7b.txt"),
                                 {MakeRecordLine(u"2022-07-30 10:15:42+08:00 125 0123")}));
    wchar_t full[MAX_PATH];
    ASSERT_NE(GetFullPathNameW(ToWide(root_).c_str(), MAX_PATH, full, nullptr), 0u);
    if (!MakeJunction(ToWide(sub + "\\loop"), full)) {
        // Wine 8 cannot make junctions (ERROR_NOT_SUPPORTED); Windows can.
        ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
        GTEST_SKIP() << "this system cannot make junctions";
    }

    std::vector<DirectoryEntry> entries;
    ASSERT_TRUE(ListDirectory(sub, entries));
    bool seen = false;
    for (const DirectoryEntry& e : entries)
        if (e.name == "loop") seen = e.type == EntryType::kSymlink;
    EXPECT_TRUE(seen) << "the junction is listed as a link";

    std::u16string last_saved;
    ScanFolder(Utf8ToWide(root_), 123, last_saved,
               [](const std::u16string& path) { ADD_FAILURE() << "open error " << WideToUtf8(path); });
    EXPECT_EQ(last_saved, u"2022-07-30 10:15:42");
}

TEST(UploadFolder, TheProfileFolderWhenItExistsElseTheProgramFolder) {
    wchar_t profile[MAX_PATH];
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr, 0, profile), S_OK);
    const std::wstring data = std::wstring(profile) + L"\\hollin.data";
    const std::wstring upload = data + L"\\upload";
    RemoveDirectoryW(upload.c_str());
    wchar_t program[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::wstring program_folder(program, n);
    program_folder.erase(program_folder.find_last_of(L'\\'));
    EXPECT_EQ(ResolveUploadFolder(), FromWide(program_folder));

    ASSERT_TRUE(CreateDirectoryW(data.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    ASSERT_TRUE(CreateDirectoryW(upload.c_str(), nullptr));
    EXPECT_EQ(ResolveUploadFolder(), FromWide(upload));
    RemoveDirectoryW(upload.c_str());
}

// The offset is the Windows time zone's, the one GetLocalTime follows; a TZ variable that the C runtime
// would honour changes nothing.
TEST(Clock, StandardOffsetFromTheWindowsTimeZone) {
    const int32_t plain = StandardUtcOffset(1659175200);  // 2022-07-30
    for (const char* tz : {"UTC0", "NPT-5:45", "CET-1CEST"}) {
        _putenv_s("TZ", tz);
        _tzset();
        EXPECT_EQ(StandardUtcOffset(1659175200), plain) << tz;
    }
    _putenv_s("TZ", "");
    _tzset();
    TIME_ZONE_INFORMATION zone{};
    if (GetTimeZoneInformation(&zone) != TIME_ZONE_ID_UNKNOWN)
        GTEST_SKIP() << "this zone keeps daylight saving";
    // Without daylight saving, local time now is UTC now plus that offset.
    SYSTEMTIME utc{}, local{};
    GetSystemTime(&utc);
    GetLocalTime(&local);
    FILETIME u{}, l{};
    SystemTimeToFileTime(&utc, &u);
    SystemTimeToFileTime(&local, &l);
    const auto ticks = [](FILETIME f) {
        return (static_cast<int64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime;
    };
    const int64_t minutes = (ticks(l) - ticks(u) + 300'000'000) / 600'000'000;  // 100 ns ticks, rounded
    EXPECT_EQ(StandardUtcOffset(_time64(nullptr)), minutes * 60);
}

}  // namespace
}  // namespace korvel
