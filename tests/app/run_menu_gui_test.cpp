// The Run menu: its choices kept between launches (a damaged file set aside,
// what is no settings file left alone), and a spindle run by itself under a
// real display: every blank disc of the feeder started when identified,
// ejected when done, the next one taken.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <wx/menu.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "app/run_choices.h"
#include "app/scan_dlg.h"
#include "res/resource_ids.h"
#include "simulator/sim_drive.h"
#include "tests/app/window_test.h"
#include "tests/support/scratch_folder.h"

namespace {

namespace fs = std::filesystem;

class RunMenuTest : public WindowTest {
 protected:
  void SetUp() override {
    ASSERT_FALSE(home.empty());
    const char* old = std::getenv("XDG_CONFIG_HOME");
    saved = old != nullptr ? old : "";
    setenv("XDG_CONFIG_HOME", home.c_str(), 1);
  }
  void TearDown() override {
    WindowTest::TearDown();
    setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  }
  void Menu(int id, bool checked) {
    wxCommandEvent event(wxEVT_MENU, id);
    event.SetInt(checked ? 1 : 0);
    m_dialog->GetEventHandler()->ProcessEvent(event);
  }

  ScratchFolder scratch{"velmo-config"};
  const std::string home = scratch.Path();
  std::string saved;
};

TEST_F(RunMenuTest, ChoicesAreKeptAndADamagedFileIsSetAside) {
  const std::string path = RunChoicesPath();
  EXPECT_EQ(path, home + "/velmo/velmo.conf");
  std::string message;
  EXPECT_EQ(LoadRunChoices(path, &message), RunChoices{}) << "no file: the defaults";
  EXPECT_TRUE(message.empty());

  const RunChoices chosen{true, true, "/tmp/reports of = the spindle"};
  std::string error;
  ASSERT_TRUE(SaveRunChoices(path, chosen, &error)) << error;
  EXPECT_EQ(LoadRunChoices(path, &message), chosen);
  EXPECT_TRUE(message.empty());

  for (const char* damage : {"\x01\x02garbage without a key\n", "[Run\nStartOnBlankDisc=1\n",
                             "[Run]\nStartOnBlankDisc=maybe\n"}) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << damage;
    EXPECT_EQ(LoadRunChoices(path, &message), RunChoices{}) << damage;
    EXPECT_NE(message.find("was damaged"), std::string::npos) << damage;
    EXPECT_FALSE(fs::exists(path)) << damage;
    ASSERT_TRUE(fs::exists(path + ".damaged")) << damage;
    std::ifstream aside(path + ".damaged", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(aside), {}), damage);
  }
}

// What is not a settings file (a FIFO, a device, a folder, a file far too
// large) is not read, not moved and not written: the defaults, and why.
TEST_F(RunMenuTest, WhatIsNoSettingsFileIsLeftAlone) {
  const std::string path = RunChoicesPath();
  fs::create_directories(home + "/velmo");
  const struct {
    std::function<void()> make;
    const char* says;
  } cases[] = {
      {[&] { ASSERT_EQ(mkfifo(path.c_str(), 0600), 0); }, ": is a FIFO, not a file"},
      {[&] { fs::create_symlink("/dev/zero", path); }, ": is a character device, not a file"},
      {[&] { fs::create_directory(path); }, ": is a folder, not a file"},
      {[&] {
         std::ofstream(path) << "[Run]\nStartOnBlankDisc=1\n"
                             << std::string(kRunChoicesMaxBytes, '#') << "\n";
       },
       ": too large ("},
  };
  for (const auto& c : cases) {
    fs::remove_all(path);
    c.make();
    const auto status = fs::symlink_status(path);
    std::string message;
    EXPECT_EQ(LoadRunChoices(path, &message), RunChoices{}) << c.says;
    EXPECT_EQ(message.find("The settings file " + path + c.says), 0u) << message;
    EXPECT_NE(message.find("it was left as it is and the Run menu starts from its defaults."),
              std::string::npos)
        << message;
    EXPECT_EQ(fs::symlink_status(path).type(), status.type()) << c.says;
    EXPECT_FALSE(fs::exists(path + ".damaged")) << c.says;
    std::string error;
    if (status.type() != fs::file_type::regular) {
      EXPECT_FALSE(SaveRunChoices(path, RunChoices{true, false, ""}, &error)) << c.says;
      EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
    }
  }
}

// A FIFO in velmo.conf's place: the window still comes up, says why once, and
// a choice made in the menu does not wait for a reader.
TEST_F(RunMenuTest, AFifoForSettingsNeitherHoldsTheWindowNorAChoice) {
  fs::create_directories(home + "/velmo");
  ASSERT_EQ(mkfifo(RunChoicesPath().c_str(), 0600), 0);
  Open("empty", 0);
  ASSERT_EQ(m_seen.messages.size(), 1u);
  EXPECT_NE(m_seen.messages[0].find("is a FIFO, not a file"), std::string::npos)
      << m_seen.messages[0];
  EXPECT_EQ(m_dialog->Choices(), RunChoices{});
  wxMenuBar* bar = m_dialog->GetMenuBar();
  wxMenu* menu = bar->GetMenu(static_cast<size_t>(bar->FindMenu("Run")));
  Menu(menu->FindItemByPosition(1)->GetId(), true);
  ASSERT_EQ(m_seen.messages.size(), 2u);
  EXPECT_NE(m_seen.messages[1].find("could not be kept"), std::string::npos) << m_seen.messages[1];
  EXPECT_EQ(fs::symlink_status(RunChoicesPath()).type(), fs::file_type::fifo);
}

// The window says so when it starts from a damaged file, and a choice made
// in the menu is there at the next launch.
TEST_F(RunMenuTest, TheMenuPersistsItsChoices) {
  fs::create_directories(home + "/velmo");
  std::ofstream(home + "/velmo/velmo.conf") << "not a settings file\n";
  Open("empty", 0);
  ASSERT_EQ(m_seen.messages.size(), 1u);
  EXPECT_NE(m_seen.messages[0].find("was damaged"), std::string::npos);
  wxMenuBar* bar = m_dialog->GetMenuBar();
  const int run = bar->FindMenu("Run");
  ASSERT_NE(run, wxNOT_FOUND);
  wxMenu* menu = bar->GetMenu(static_cast<size_t>(run));
  ASSERT_EQ(menu->GetMenuItemCount(), 3u);
  EXPECT_EQ(menu->FindItemByPosition(0)->GetItemLabelText(), "Start when a blank disc is inserted");
  EXPECT_EQ(menu->FindItemByPosition(1)->GetItemLabelText(), "Eject when done");
  EXPECT_EQ(menu->FindItemByPosition(2)->GetItemLabelText().utf8_string(),
            "Save a report of every run to…");

  m_seen.reportFolder = [](std::string* folder) {
    *folder = "/srv/reports";
    return true;
  };
  Menu(menu->FindItemByPosition(0)->GetId(), true);
  Menu(menu->FindItemByPosition(2)->GetId(), true);
  EXPECT_EQ(m_dialog->Choices(), (RunChoices{true, false, "/srv/reports"}));
  m_dialog->Close(true);
  for (int i = 0; i < 5; ++i) Pump();
  m_dialog = nullptr;

  Open("empty", 0);
  EXPECT_EQ(m_dialog->Choices(), (RunChoices{true, false, "/srv/reports"}));
  menu =
      m_dialog->GetMenuBar()->GetMenu(static_cast<size_t>(m_dialog->GetMenuBar()->FindMenu("Run")));
  EXPECT_TRUE(menu->FindItemByPosition(0)->IsChecked());
  EXPECT_FALSE(menu->FindItemByPosition(1)->IsChecked());
  EXPECT_TRUE(menu->FindItemByPosition(2)->IsChecked());
}

// Autostart and eject over the feeder: good, marginal and bad DVD+R each run
// by itself and ejected; the DVD-ROM after them is not started.
TEST_F(RunMenuTest, TheFeederRunsByItself) {
  std::string error;
  const std::string reports = home + "/reports";
  fs::create_directory(reports);
  ASSERT_TRUE(SaveRunChoices(RunChoicesPath(), RunChoices{true, true, reports}, &error)) << error;
  Open("feeder", 10);
  ASSERT_TRUE(WaitFor([&] { return Status() == kStartedByItself; }, 20000)) << Status();
  ASSERT_TRUE(WaitFor([&] { return m_seen.messages.size() >= 3; }, 60000));
  EXPECT_EQ(m_seen.messages[0], "This disc is ok for writing under this speed setting.");
  EXPECT_NE(m_seen.messages[1], m_seen.messages[0]);
  EXPECT_NE(m_seen.messages[2], m_seen.messages[0]);
  CSimDrive& drive = *m_dialog->Session()->SimDrives().at(0);
  ASSERT_TRUE(WaitFor([&] { return drive.DiscName() == "dvd-rom" && drive.DiscReady(); }, 20000));
  for (int i = 0; i < 10; ++i) {
    Pump();
    wxMilliSleep(60);
  }
  EXPECT_EQ(m_seen.messages.size(), 3u) << "the DVD-ROM is not started";
  EXPECT_EQ(drive.OpcodeCount(0x1B), 3u) << "three discs ejected";
  EXPECT_FALSE(m_dialog->Scanning());
  // One report a run, each a PDF under its own default name.
  std::vector<std::string> pdfs;
  for (const auto& entry : fs::directory_iterator(reports)) {
    const std::string name = entry.path().filename().string();
    EXPECT_EQ(name.rfind("velmo-", 0), 0u) << name;
    EXPECT_EQ(entry.path().extension(), ".pdf") << name;
    std::ifstream file(entry.path(), std::ios::binary);
    std::string head(5, '\0');
    file.read(head.data(), 5);
    EXPECT_EQ(head, "%PDF-") << name;
    pdfs.push_back(name);
  }
  EXPECT_EQ(pdfs.size(), 3u);
}

}  // namespace
