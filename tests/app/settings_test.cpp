// The settings against the real registry of the test's Wine prefix.
#include <windows.h>

#include <string.h>

#include <gtest/gtest.h>

#include "core/globals.h"
#include "app/settings.h"

namespace {

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegDeleteTreeW(HKEY_CURRENT_USER, SETTINGS_KEY);
        g_subnetFilter = kAllInterfaces;
        g_autoRefresh = 0;
    }
    void TearDown() override
    {
        RegDeleteTreeW(HKEY_CURRENT_USER, SETTINGS_KEY);
        g_subnetFilter = kAllInterfaces;
        g_autoRefresh = 0;
    }

    static void Put(const wchar_t* name, DWORD type, const void* data, DWORD size)
    {
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, SETTINGS_KEY, 0, nullptr, 0,
                                                 KEY_WRITE, nullptr, &key, nullptr));
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size));
        RegCloseKey(key);
    }

    static void PutDword(const wchar_t* name, DWORD value) { Put(name, REG_DWORD, &value, sizeof(value)); }

    // Type and value as stored; type 0 when the value is missing.
    static DWORD Get(const wchar_t* name, DWORD* value)
    {
        DWORD type = 0;
        DWORD size = sizeof(*value);
        *value = 0;
        if (RegGetValueW(HKEY_CURRENT_USER, SETTINGS_KEY, name, RRF_RT_ANY, &type, value, &size) !=
            ERROR_SUCCESS) {
            return 0;
        }
        return type;
    }
};

TEST_F(SettingsTest, FirstStartWithoutKeyKeepsDefaultsAndSaveCreatesBothValues)
{
    g_subnetFilter = 0x12345678;  // must not be touched by a missing key
    g_autoRefresh = 1;
    LoadSettings();
    EXPECT_EQ(0x12345678u, g_subnetFilter);
    EXPECT_EQ(1, g_autoRefresh);

    g_subnetFilter = kAllInterfaces;
    g_autoRefresh = 0;
    SaveSettings();
    DWORD value = 0;
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), Get(L"Subnet", &value));
    EXPECT_EQ(0xFFFFFFFFu, value);
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), Get(L"Refresh", &value));
    EXPECT_EQ(0u, value);
}

TEST_F(SettingsTest, KeyTheUserMayReadButNotWriteStillGivesBothSettings)
{
    PutDword(L"Subnet", 0x00004D0A);
    PutDword(L"Refresh", 1);
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, SETTINGS_KEY, 0, WRITE_DAC, &key));
    // Everyone may read; nobody may write.
    SECURITY_DESCRIPTOR descriptor;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    BYTE aclBuffer[256];
    PACL acl = reinterpret_cast<PACL>(aclBuffer);
    InitializeAcl(acl, sizeof(aclBuffer), ACL_REVISION);
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    ASSERT_TRUE(AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone));
    AddAccessAllowedAce(acl, ACL_REVISION, KEY_READ | WRITE_DAC | DELETE, everyone);
    SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE);
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &descriptor));
    RegCloseKey(key);
    HKEY writable = nullptr;
    LONG denied = RegOpenKeyExW(HKEY_CURRENT_USER, SETTINGS_KEY, 0, KEY_WRITE, &writable);
    if (denied == ERROR_SUCCESS) {
        RegCloseKey(writable);
    }
    ASSERT_EQ(ERROR_ACCESS_DENIED, denied);

    LoadSettings();
    EXPECT_EQ(0x00004D0Au, g_subnetFilter);
    EXPECT_EQ(1, g_autoRefresh);
    FreeSid(everyone);
}

TEST_F(SettingsTest, SavedValuesAreReadBack)
{
    PutDword(L"Subnet", 0x00004D0A);  // 10.77.0.0 as it lies in memory
    PutDword(L"Refresh", 1);
    LoadSettings();
    EXPECT_EQ(0x00004D0Au, g_subnetFilter);
    EXPECT_EQ(1, g_autoRefresh);
}

TEST_F(SettingsTest, SubnetOfWrongTypeOrSizeIsIgnoredAndOverwrittenAsDword)
{
    Put(L"Subnet", REG_SZ, L"10.0.0.0", sizeof(L"10.0.0.0"));
    LoadSettings();
    EXPECT_EQ(kAllInterfaces, g_subnetFilter);
    SaveSettings();
    DWORD value = 0;
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), Get(L"Subnet", &value));
    EXPECT_EQ(0xFFFFFFFFu, value);

    const unsigned long long wide = 0x0000000000004D0AULL;
    Put(L"Subnet", REG_QWORD, &wide, sizeof(wide));
    LoadSettings();
    EXPECT_EQ(kAllInterfaces, g_subnetFilter);

    const unsigned char eight[8] = {10, 77, 0, 0, 0, 0, 0, 0};
    Put(L"Subnet", REG_BINARY, eight, sizeof(eight));
    LoadSettings();
    EXPECT_EQ(kAllInterfaces, g_subnetFilter);
    SaveSettings();
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), Get(L"Subnet", &value));
}

TEST_F(SettingsTest, RefreshOfFiveReadsAsOnAndIsWrittenBackAsOne)
{
    PutDword(L"Refresh", 5);
    LoadSettings();
    EXPECT_EQ(1, g_autoRefresh);
    SaveSettings();
    DWORD value = 0;
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), Get(L"Refresh", &value));
    EXPECT_EQ(1u, value);
}

TEST_F(SettingsTest, RefreshOfWrongTypeKeepsOff)
{
    Put(L"Refresh", REG_SZ, L"1", sizeof(L"1"));
    LoadSettings();
    EXPECT_EQ(0, g_autoRefresh);
}

// What the window remembers goes through the registry whole; a damaged
// value takes only its own part back to the default, and a place on no
// monitor today is moved onto one.
TEST_F(SettingsTest, WindowMemoryRoundTripsAndDamagedValuesFallBack)
{
    WindowMemory saved = {};
    saved.hasPlace = true;
    saved.place = {-1500, 40, -700, 640};  // on a monitor left of the main one
    saved.maximised = true;
    saved.dpi = 144;
    saved.hasColumnShares = true;
    for (int column = 0; column < kDeviceColumnCount; ++column) {
        saved.columnShares.share[column] = 1000 * (column + 1);
    }
    saved.columnShares.share[kColumnPort] = 0;  // hidden
    saved.hasOrder = true;
    saved.order = {kColumnName, true};
    SaveSettings(&saved);
    WindowMemory read = {};
    LoadSettings(&read);
    ASSERT_TRUE(read.hasPlace && read.hasColumnShares && read.hasOrder);
    EXPECT_TRUE(EqualRect(&saved.place, &read.place));
    EXPECT_TRUE(read.maximised);
    EXPECT_EQ(144u, read.dpi);
    EXPECT_EQ(0, memcmp(&saved.columnShares, &read.columnShares, sizeof(ColumnShares)));
    EXPECT_EQ(kColumnName, read.order.column);
    EXPECT_TRUE(read.order.descending);

    const DWORD zero = 0, minusOne = 0xFFFFFFFF, port = kColumnPort, left = static_cast<DWORD>(-1500);
    const unsigned long long wide = 1;
    ColumnShares negative = saved.columnShares;
    negative.share[1] = -1;
    const ColumnShares zeros = {};
    ColumnShares showsHidden = saved.columnShares;
    showsHidden.share[kColumnPort] = 500;
    struct Damage {
        const wchar_t* name;
        DWORD type;
        const void* data;
        DWORD size;
        bool place, shares, order;
    } damages[] = {
        {L"WindowDpi", REG_DWORD, &zero, 4, false, true, true},
        {L"WindowRight", REG_DWORD, &left, 4, false, true, true},  // no width
        {L"WindowTop", REG_SZ, L"40", sizeof(L"40"), false, true, true},
        {L"WindowMaximised", REG_QWORD, &wide, 8, false, true, true},
        {L"ColumnShares", REG_BINARY, &saved.columnShares, sizeof(ColumnShares) - 4, true, false, true},
        {L"ColumnShares", REG_BINARY, &negative, sizeof(ColumnShares), true, false, true},
        {L"ColumnShares", REG_BINARY, &zeros, sizeof(ColumnShares), true, false, true},
        {L"ColumnShares", REG_BINARY, &showsHidden, sizeof(ColumnShares), true, false, true},
        {L"SortColumn", REG_DWORD, &port, 4, true, true, false},  // orders nothing
        {L"SortColumn", REG_DWORD, &minusOne, 4, true, true, false},
        {L"SortDescending", REG_SZ, L"1", sizeof(L"1"), true, true, false},
    };
    for (const Damage& damage : damages) {
        SaveSettings(&saved);
        Put(damage.name, damage.type, damage.data, damage.size);
        read = {};
        LoadSettings(&read);
        EXPECT_EQ(damage.place, read.hasPlace) << damage.name;
        EXPECT_EQ(damage.shares, read.hasColumnShares) << damage.name;
        EXPECT_EQ(damage.order, read.hasOrder) << damage.name;
    }

    HMONITOR primary = MonitorFromPoint({0, 0}, MONITOR_DEFAULTTOPRIMARY);
    MONITORINFO info = {};
    info.cbSize = sizeof(info);
    ASSERT_TRUE(GetMonitorInfoW(primary, &info));
    RECT onScreen = {info.rcWork.left + 10, info.rcWork.top + 10, info.rcWork.left + 410, info.rcWork.top + 310};
    EXPECT_FALSE(MoveOntoMonitor(&onScreen));
    RECT farAway = {-30000, -30000, -29600, -29700};
    EXPECT_TRUE(MoveOntoMonitor(&farAway));
    EXPECT_EQ(400, farAway.right - farAway.left);
    EXPECT_EQ(300, farAway.bottom - farAway.top);
    RECT inside = {};
    EXPECT_TRUE(IntersectRect(&inside, &farAway, &info.rcWork) && EqualRect(&inside, &farAway));
}

}  // namespace
