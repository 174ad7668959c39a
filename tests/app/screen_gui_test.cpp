// The window on a small, 16-bit screen (Xvfb "-screen 0 1366x768x16"):
// GTK's own file dialogs fit on it, name field and buttons included, and
// File, Save writes the picture in the screen's format, 16 bits with its
// colour masks.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <wx/display.h>
#include <wx/menu.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "app/command_ids.h"
#include "app/scan_dlg.h"
#include "app/window_capture.h"
#include "res/resource_ids.h"
#include "tests/app/window_test.h"
#include "tests/support/test_paths.h"

namespace {

struct ShownDialog {
  bool seen = false;
  int ticks = 0;
  GdkRectangle frame{};
  std::string type;
  std::string picture;  // where the screen with the dialog on it goes, if anywhere
};

// A g_timeout_add source: once a file chooser has been up a moment (it sizes
// itself when shown), notes where it is and cancels it.
gboolean MeasureAndCancelChooser(gpointer data) {
  auto* shown = static_cast<ShownDialog*>(data);
  GList* windows = gtk_window_list_toplevels();
  bool again = true;
  for (GList* at = windows; at != nullptr; at = at->next) {
    if (!GTK_IS_FILE_CHOOSER_DIALOG(at->data) || !gtk_widget_get_mapped(GTK_WIDGET(at->data)))
      continue;
    if (++shown->ticks < 10) break;
    GdkWindow* gdkWindow = gtk_widget_get_window(GTK_WIDGET(at->data));
    gdk_window_get_frame_extents(gdkWindow, &shown->frame);
    shown->type = G_OBJECT_TYPE_NAME(at->data);
    if (!shown->picture.empty()) {
      GdkWindow* root = gdk_get_default_root_window();
      GdkPixbuf* screen = gdk_pixbuf_get_from_window(root, 0, 0, gdk_window_get_width(root),
                                                     gdk_window_get_height(root));
      if (screen != nullptr) {
        gdk_pixbuf_save(screen, shown->picture.c_str(), "png", nullptr, nullptr);
        g_object_unref(screen);
      }
    }
    shown->seen = true;
    gtk_dialog_response(GTK_DIALOG(at->data), GTK_RESPONSE_CANCEL);
    again = false;
  }
  g_list_free(windows);
  return again ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

class ScreenTest : public WindowTest {
 protected:
  void Menu(int id) {
    wxCommandEvent event(wxEVT_MENU, id);
    m_dialog->GetEventHandler()->ProcessEvent(event);
  }
  int FileMenuItem(const char* label) const {
    wxMenu* file = m_dialog->GetMenuBar()->GetMenu(0);
    return file->FindItem(label);
  }
};

// Save, Open Record, Export Report and the report folder, each shown for
// real: the whole dialog lies within the screen.
TEST_F(ScreenTest, FileDialogsFitTheScreen) {
  Open("dvd+r-good");
  ASSERT_TRUE(WaitStatus("Ready."));
  // A run, so that Export Report has something to report.
  Click(IDC_START);
  ASSERT_TRUE(WaitFor([&] { return !m_seen.messages.empty(); }, 20000));
  const wxRect screen = wxDisplay(0u).GetGeometry();
  const struct {
    const char* what;
    int id;
  } dialogs[] = {
      {"Save", ToWxId(ID_FILE_SAVE)},
      {"Open Record", FileMenuItem("Open Record...")},
      {"Export Report", FileMenuItem("Export Report...")},
  };
  for (const auto& d : dialogs) {
    SCOPED_TRACE(d.what);
    ASSERT_NE(d.id, wxNOT_FOUND);
    ShownDialog shown;
    // The screen with the dialog on it stays in the build tree for a person
    // to look at.
    std::filesystem::create_directories(velmo_test::ArtefactDir());
    shown.picture = std::string(velmo_test::ArtefactDir()) + "/file-dialog-768-" +
                    std::to_string(&d - dialogs) + ".png";
    const guint source = g_timeout_add(50, MeasureAndCancelChooser, &shown);
    Menu(d.id);
    if (!shown.seen) g_source_remove(source);
    ASSERT_TRUE(shown.seen) << "no file dialog was shown";
    EXPECT_GE(shown.frame.y, screen.y) << shown.type;
    EXPECT_LE(shown.frame.height, screen.height) << shown.type;
    EXPECT_LE(shown.frame.y + shown.frame.height, screen.y + screen.height)
        << shown.type << " at " << shown.frame.y << ", " << shown.frame.height << " tall";
  }
  // The Run menu's folder dialog: cancelled, the choice stays off.
  wxMenuBar* bar = m_dialog->GetMenuBar();
  wxMenu* run = bar->GetMenu(static_cast<size_t>(bar->FindMenu("Run")));
  ShownDialog shown;
  const guint source = g_timeout_add(50, MeasureAndCancelChooser, &shown);
  wxCommandEvent event(wxEVT_MENU, run->FindItemByPosition(2)->GetId());
  event.SetInt(1);
  m_dialog->GetEventHandler()->ProcessEvent(event);
  if (!shown.seen) g_source_remove(source);
  ASSERT_TRUE(shown.seen);
  EXPECT_LE(shown.frame.y + shown.frame.height, screen.y + screen.height) << shown.frame.height;
  EXPECT_TRUE(m_dialog->Choices().reportDir.empty());
}

// On a 16-bit screen the picture is 16 bits a pixel with the screen's 5-6-5
// masks (BI_BITFIELDS), and shows the window: its pixels are not all one.
TEST_F(ScreenTest, SaveOnASixteenBitScreenKeepsItsFormat) {
  Open("dvd+r-good");
  if (ScreenBitsPerPixel(m_dialog) != 16) GTEST_SKIP() << "not a 16-bit screen";
  ASSERT_TRUE(WaitStatus("Ready."));
  const std::string path = std::filesystem::absolute("screen16").string();
  m_seen.savePath = [&](std::string* chosen) {
    *chosen = path;
    return true;
  };
  const std::string working = std::filesystem::current_path().string();
  Menu(ToWxId(ID_FILE_SAVE));
  std::filesystem::current_path(working);
  ASSERT_EQ(m_seen.messages.size(), 1u);
  EXPECT_EQ(m_seen.messages[0], "Save successfully.");
  const std::string bytes = ReadFile(path + ".bmp");
  ASSERT_GT(bytes.size(), 66u);
  const auto u16 = [&](size_t at) {
    return static_cast<uint32_t>(static_cast<uint8_t>(bytes[at]) |
                                 static_cast<uint8_t>(bytes[at + 1]) << 8);
  };
  const auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
  EXPECT_EQ(bytes.substr(0, 2), "BM");
  EXPECT_EQ(u32(2), bytes.size()) << "bfSize";
  EXPECT_EQ(u32(10), 66u) << "pixels right after the masks";
  EXPECT_EQ(u16(28), 16u) << "biBitCount";
  EXPECT_EQ(u32(30), 3u) << "BI_BITFIELDS";
  EXPECT_EQ(u32(46), 0u) << "no colour table";
  EXPECT_EQ(u32(54), 0xF800u);
  EXPECT_EQ(u32(58), 0x07E0u);
  EXPECT_EQ(u32(62), 0x001Fu);
  const uint32_t width = u32(18), height = u32(22);
  EXPECT_GE(width, static_cast<uint32_t>(m_dialog->GetClientSize().x));
  EXPECT_GE(height, static_cast<uint32_t>(m_dialog->GetClientSize().y));
  EXPECT_EQ(u32(34), (width * 2 + 3) / 4 * 4 * height) << "biSizeImage";
  std::set<uint32_t> colours;
  for (size_t at = 66; at + 1 < bytes.size() && colours.size() < 8; at += 2)
    colours.insert(u16(at));
  EXPECT_GE(colours.size(), 8u) << "a picture of one or two colours";
}

}  // namespace
