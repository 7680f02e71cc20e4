// The context menu's choice of popup and its three commands, against a scripted operator.
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "frontend/AppTitle.h"
#include "resources/StringIds.h"
#include "resources/Strings.h"
#include "tests/support/Packages.h"
#include "tests/wizard/WizardFixture.h"
#include "wizard/ServiceCommands.h"

namespace {

class ServiceCommands : public CWizardFixture {
protected:
    ServiceCommands() {
        m_strDir = std::filesystem::temp_directory_path() /
                   ("wizard-commands-" + std::to_string(getpid()));
        std::filesystem::create_directories(m_strDir);
        m_state.m_strPackage = "TVK35/50 NRP7/70  V260";
    }
    ~ServiceCommands() override { std::filesystem::remove_all(m_strDir); }

    std::string WriteFile(const std::string& strName, const std::string& strBytes) {
        const std::string strPath = m_strDir + "/" + strName;
        std::ofstream(strPath, std::ios::binary) << strBytes;
        return strPath;
    }

    std::string m_strDir;
    CServiceCommands m_commands{m_state, m_op, m_steps};
};

TEST(ContextMenu, ServicePopupOnlyForRightShiftCtrlOrAChosenFile) {
    struct CCase {
        const char* m_pszWhat;
        unsigned m_nKeys;
        bool m_bPath;
        EPopup m_ePopup;
    };
    const unsigned nRight = kKeyRButton;
    const unsigned nExact = kKeyRButton | kKeyShift | kKeyControl;
    const CCase cases[] = {
        {"no keys", nRight, false, EPopup::Plain},
        {"Shift+Ctrl", nExact, false, EPopup::Service},
        {"Shift+Ctrl, middle button too", nExact | kKeyMButton, false, EPopup::Plain},
        {"Shift+Ctrl, left button too", nExact | kKeyLButton, false, EPopup::Plain},
        {"Shift+Ctrl, a side button too", nExact | kKeyXButton1, false, EPopup::Plain},
        {"Shift only", nRight | kKeyShift, false, EPopup::Plain},
        {"Ctrl only", nRight | kKeyControl, false, EPopup::Plain},
        {"package path set, no keys", nRight, true, EPopup::Service},
        {"package path set, middle button", nRight | kKeyMButton, true, EPopup::Service},
    };
    for (const CCase& c : cases) {
        CWizardState state;
        if (c.m_bPath)
            state.m_strPackagePath = "/tmp/x.ufw";
        EXPECT_EQ(ChoosePopup(state, c.m_nKeys), c.m_ePopup) << c.m_pszWhat;
    }
}

TEST(ContextMenu, PopupsEndWithAboutAfterASeparator) {
    const std::string strAbout = LoadString(101);
    const std::vector<std::pair<unsigned, std::string>> plain = {
        {kIdSendFirmware, "&Send Firmware"},
        {0, ""},
        {kIdSelectPort, "Select &Port..."},
        {0, ""},
        {kIdAbout, strAbout}};
    std::vector<std::pair<unsigned, std::string>> service = plain;
    service.insert(service.begin(), {kIdOpenPackage, "&Open..."});
    for (auto [ePopup, expected] : {std::pair{EPopup::Plain, plain}, {EPopup::Service, service}}) {
        std::vector<std::pair<unsigned, std::string>> items;
        for (const CMenuItem& item : GetPopupItems(ePopup))
            items.emplace_back(item.m_nId, item.m_strText);
        EXPECT_EQ(items, expected);
    }
}

TEST_F(ServiceCommands, SelectPortTakesTheChosenPortOnlyOnOk) {
    m_state.m_strPort = "COM1:";
    m_op.m_bDialogOk = false;
    m_op.m_strDialogChoice = "COM3:";
    m_commands.Run(kIdSelectPort);
    EXPECT_EQ(m_state.m_strPort, "COM1:");

    m_op.m_bDialogOk = true;
    const size_t nRefreshes = m_window.m_refreshes.size();
    m_commands.Run(kIdSelectPort);
    EXPECT_EQ(m_state.m_strPort, "COM3:");
    EXPECT_GT(m_window.m_refreshes.size(), nRefreshes);
    EXPECT_EQ(m_op.m_dialogPresets, (std::vector<std::string>{"COM1:", "COM1:"}));
    EXPECT_EQ(CurrentStep(), EStep::Start);
}

TEST_F(ServiceCommands, SendFirmwareSaysOnlyWhenTheTransferFails) {
    m_steps.Enter(EStep::UnplugJ9J10);
    m_machine.m_transfers = {1, 0};
    m_commands.Run(kIdSendFirmware);
    EXPECT_TRUE(m_op.m_messages.empty());
    m_commands.Run(kIdSendFirmware);
    ASSERT_EQ(m_op.m_messages.size(), 1u);
    EXPECT_EQ(m_op.m_messages[0].m_nId, 108u);
    EXPECT_EQ(m_op.m_messages[0].m_strText, LoadString(108));
    EXPECT_EQ(m_op.m_messages[0].m_eButtons, EButtons::Ok);

    ASSERT_EQ(m_machine.m_transferCalls.size(), 2u);
    EXPECT_FALSE(m_machine.m_transferCalls[0].m_bFile);
    EXPECT_EQ(CurrentStep(), EStep::UnplugJ9J10);
    EXPECT_EQ(m_state.m_strStatus, "");
}

TEST_F(ServiceCommands, SendFirmwareWithAMissingFileReportsOnlyTheFile) {
    m_state.m_strPackagePath = m_strDir + "/gone.ufw";
    m_commands.Run(kIdSendFirmware);
    ASSERT_EQ(m_op.m_messages.size(), 1u);
    EXPECT_EQ(m_op.m_messages[0].m_strText, m_strDir + "/gone.ufw was not found.");
    EXPECT_TRUE(m_machine.m_transferCalls.empty());
}

TEST_F(ServiceCommands, SendFirmwareWithAFileThatIsNoPackageReportsOnlyThat) {
    m_steps.Enter(EStep::UnplugJ9J10);
    m_state.m_strPackagePath = WriteFile("photo.ufw", std::string("BM6\0\0\0\0\0\0\0", 10));
    m_commands.Run(kIdSendFirmware);
    ASSERT_EQ(m_op.m_messages.size(), 1u);
    EXPECT_EQ(m_op.m_messages[0].m_nId, kIdsNotAPackage);
    EXPECT_EQ(m_op.m_messages[0].m_strText,
              m_strDir + "/photo.ufw is not a valid firmware package. It was not sent.");
    EXPECT_TRUE(m_machine.m_transferCalls.empty());
    EXPECT_EQ(CurrentStep(), EStep::UnplugJ9J10);
}

TEST_F(ServiceCommands, OpenTakesTheHeaderTextOfTheChosenPackage) {
    const std::vector<uint8_t> package = MakeSmallPackage(64, 7);
    m_op.m_strFileAnswer = WriteFile("other.ufw", std::string(package.begin(), package.end()));
    m_commands.Run(kIdOpenPackage);
    EXPECT_EQ(m_op.m_strFileFolder, GetProgramFolder());
    EXPECT_EQ(m_op.m_strFileName, "");
    EXPECT_TRUE(m_op.m_messages.empty());
    EXPECT_EQ(m_state.m_strPackagePath, m_op.m_strFileAnswer);
    EXPECT_EQ(m_state.m_strPackage, "TVK35/50 NRP7/70  V261");
    EXPECT_EQ(m_state.m_strPackageVersion, "V260");
    EXPECT_EQ(ChoosePopup(m_state, kKeyRButton), EPopup::Service);

    // The next dialog starts where the chosen file is.
    m_op.m_bFileOk = false;
    m_commands.Run(kIdOpenPackage);
    EXPECT_EQ(m_op.m_strFileFolder, m_strDir + "/");
    EXPECT_EQ(m_op.m_strFileName, "other.ufw");
    EXPECT_EQ(m_state.m_strPackagePath, m_op.m_strFileAnswer);
    EXPECT_EQ(m_state.m_strPackage, "TVK35/50 NRP7/70  V261");
}

TEST_F(ServiceCommands, OpenRefusesAFileThatWillNotGoOutAndKeepsThePackageInForce) {
    struct CCase {
        const char* m_pszWhat;
        std::string m_strPath;
        std::string m_strText; // the box
    };
    const std::string strFifo = m_strDir + "/pipe";
    ASSERT_EQ(mkfifo(strFifo.c_str(), 0600), 0);
    const CCase cases[] = {
        {"missing file", m_strDir + "/gone.ufw", m_strDir + "/gone.ufw was not found."},
        {"a pipe, which would hold the window", strFifo, ""},
        {"a header and nothing else",
         WriteFile("header.ufw", std::string("PUF14303  TVK35/50 NRP7/70  V261XY")),
         m_strDir + "/header.ufw is not a valid firmware package. It was not sent."},
        {"a picture", WriteFile("photo.ufw", std::string("BM6\0\0\0\0\0\0\0", 10)),
         m_strDir + "/photo.ufw is not a valid firmware package. It was not sent."},
    };
    for (const std::string& strInForce : {std::string(), WriteFile("good.ufw", "")}) {
        for (const CCase& c : cases) {
            m_op.m_messages.clear();
            m_state.m_strPackagePath = strInForce;
            m_state.m_strPackage = "TVK35/50 NRP7/70  V260";
            m_op.m_strFileAnswer = c.m_strPath;
            m_commands.Run(kIdOpenPackage);
            EXPECT_EQ(m_state.m_strPackagePath, strInForce) << c.m_pszWhat;
            EXPECT_EQ(m_state.m_strPackage, "TVK35/50 NRP7/70  V260") << c.m_pszWhat;
            ASSERT_EQ(m_op.m_messages.size(), 1u) << c.m_pszWhat;
            EXPECT_EQ(m_op.m_messages[0].m_eButtons, EButtons::Ok);
            if (*c.m_strText.c_str())
                EXPECT_EQ(m_op.m_messages[0].m_strText, c.m_strText) << c.m_pszWhat;
        }
    }
}

TEST(OpenStart, SplitsAtTheLastSeparatorOfTheSystem) {
    struct CCase {
        const char* m_pszSeparators;
        std::string m_strPath, m_strFolder, m_strFile;
    };
    const CCase cases[] = {
        {"/", "/home/op/fw/new.ufw", "/home/op/fw/", "new.ufw"},
        {"/", "/fw.ufw", "/", "fw.ufw"},
        {"/", "/data/a:b\\c.ufw", "/data/", "a:b\\c.ufw"},
        {"/", "/データ/ファーム.ufw", "/データ/", "ファーム.ufw"},
        {"/", "plain.ufw", "", "plain.ufw"},
        // Windows: either slash, or the drive.
        {"\\/:", "C:\\Users\\op\\fw\\new.ufw", "C:\\Users\\op\\fw\\", "new.ufw"},
        {"\\/:", "C:\\fw/sub/new.ufw", "C:\\fw/sub/", "new.ufw"},
        {"\\/:", "D:new.ufw", "D:", "new.ufw"},
        {"\\/:", "\\\\server\\share\\ファーム.ufw", "\\\\server\\share\\", "ファーム.ufw"},
    };
    for (const CCase& c : cases) {
        std::string strFolder = "?", strFile = "?";
        GetOpenStart(c.m_strPath, strFolder, strFile, c.m_pszSeparators);
        EXPECT_EQ(strFolder, c.m_strFolder) << c.m_strPath;
        EXPECT_EQ(strFile, c.m_strFile) << c.m_strPath;
    }
    EXPECT_STREQ(kOpenStartSeparators, "/");
}

TEST(AppTitle, IsTheProgramFileNameWithoutExtension) {
    EXPECT_EQ(GetApplicationTitle(), "wizard_tests");
    EXPECT_EQ(StripExtension("versionup.exe"), "versionup");
    EXPECT_EQ(StripExtension("version.up.bin"), "version.up");
    EXPECT_EQ(StripExtension("versionup"), "versionup");
    EXPECT_EQ(StripExtension(".versionup"), ".versionup");
}

TEST(AboutLine, IsUpgradeForAndThePackageText) {
    EXPECT_EQ(FormatUpgradeFor("TVK35/50 NRP7/70  V260"), "Upgrade for TVK35/50 NRP7/70  V260");
}

} // namespace
