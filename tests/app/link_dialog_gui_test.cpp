// The hyperlink control and the two dialogs that carry it, under a real
// display; opening an address is answered by a stand-in.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <wx/dcclient.h>
#include <wx/frame.h>
#include <wx/stattext.h>
#include <wx/uiaction.h>

#include <string>
#include <vector>

#include "app/link_dialog.h"
#include "links/manual_address.h"
#include "res/resource_ids.h"
#include "tests/app/gui_test_support.h"

namespace {

class LinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_savedOpen = CHyperLink::s_open;
    m_savedError = CHyperLink::s_showOpenError;
    CHyperLink::s_open = [this](const std::string& address) {
      m_opened.push_back(address);
      return m_openResult;
    };
    CHyperLink::s_showOpenError = [this](wxWindow*, int code) { m_errors.push_back(code); };
  }
  void TearDown() override {
    CHyperLink::s_open = m_savedOpen;
    CHyperLink::s_showOpenError = m_savedError;
    for (int i = 0; i < 3; ++i) Pump();
  }

  int m_openResult = 42;
  std::vector<std::string> m_opened;
  std::vector<int> m_errors;
  std::function<int(const std::string&)> m_savedOpen;
  std::function<void(wxWindow*, int)> m_savedError;
};

int TextWidth(CHyperLink& link) {
  wxClientDC dc(&link);
  dc.SetFont(link.GetFont());
  return dc.GetTextExtent(link.GetLabel()).x;
}

TEST_F(LinkTest, AboutShowsBothAddressesAsUnderlinedLinksFittedToText) {
  CAboutDlg about;
  about.OnInitDialog();
  about.Show();
  Pump();
  struct Expect {
    CHyperLink& link;
    const char* text;
    std::string address;
  };
  for (const Expect& e :
       {Expect{about.GlobalSiteLink(), kDrivesLinkText, ManualAddress(kManualDrivesSection)},
        Expect{about.SupportSiteLink(), kManualLinkText, ManualAddress()}}) {
    EXPECT_EQ(e.link.GetLabel().utf8_string(), e.text);
    EXPECT_EQ(e.link.Address(), e.address);
    EXPECT_EQ(e.link.GetToolTipText().utf8_string(), e.address);
    EXPECT_TRUE(e.link.GetFont().GetUnderlined());
    EXPECT_EQ(e.link.LinkColor(), CHyperLink::s_linkColor);
    EXPECT_EQ(e.link.GetSize().x, TextWidth(e.link));
    EXPECT_EQ(e.link.HandCursor() != nullptr, true);
  }
  // The upper link is the global site's, beside its label; the template's
  // left edge is kept.
  const wxRect global = about.GlobalSiteLink().GetRect();
  EXPECT_LT(global.y, about.SupportSiteLink().GetRect().y);
  EXPECT_EQ(global.x, about.Layout().ToPixels(wxPoint(114, 52)).x);
  about.Destroy();
}

TEST_F(LinkTest, ClickFocusesThenOpensOnReleaseAndMarksVisited) {
  CDriveNoticeDlg notice;
  notice.OnInitDialog();
  notice.Show();
  Pump();
  CHyperLink& link = notice.SiteLink();
  EXPECT_EQ(link.GetLabel().utf8_string(), kDrivesLinkText);

  wxMouseEvent down(wxEVT_LEFT_DOWN);
  link.GetEventHandler()->ProcessEvent(down);
  EXPECT_TRUE(link.Focused());
  EXPECT_EQ(link.LinkColor(), CHyperLink::s_focusColor);
  EXPECT_TRUE(m_opened.empty());  // opens on release, not on press
  wxMouseEvent up(wxEVT_LEFT_UP);
  link.GetEventHandler()->ProcessEvent(up);
  ASSERT_EQ(m_opened.size(), 1u);
  EXPECT_EQ(m_opened[0], ManualAddress(kManualDrivesSection));
  EXPECT_TRUE(link.Visited());

  wxFocusEvent lost(wxEVT_KILL_FOCUS);
  link.GetEventHandler()->ProcessEvent(lost);
  EXPECT_EQ(link.LinkColor(), CHyperLink::s_visitedColor);
  notice.Destroy();
}

TEST_F(LinkTest, FailedOpenReportsItsCodeAndStaysUnvisited) {
  m_openResult = 2;
  CDriveNoticeDlg notice;
  notice.OnInitDialog();
  CHyperLink& link = notice.SiteLink();
  wxKeyEvent space(wxEVT_KEY_DOWN);
  space.m_keyCode = WXK_SPACE;
  link.GetEventHandler()->ProcessEvent(space);
  ASSERT_EQ(m_errors.size(), 1u);
  EXPECT_EQ(m_errors[0], 2);
  EXPECT_FALSE(link.Visited());
  EXPECT_EQ(link.LinkColor(), CHyperLink::s_linkColor);

  // Other keys are not the link's.
  wxKeyEvent other(wxEVT_KEY_DOWN);
  other.m_keyCode = 'A';
  link.GetEventHandler()->ProcessEvent(other);
  EXPECT_EQ(m_opened.size(), 1u);
  notice.Destroy();
}

TEST_F(LinkTest, HoverColourOnlyWithItsFlag) {
  CDriveNoticeDlg notice;
  notice.OnInitDialog();
  notice.Show();
  Pump();
  CHyperLink& link = notice.SiteLink();
  wxMouseEvent move(wxEVT_MOTION);
  move.SetPosition(wxPoint(1, 1));
  link.GetEventHandler()->ProcessEvent(move);
  EXPECT_TRUE(link.Hovering());
  EXPECT_EQ(link.LinkColor(), CHyperLink::s_linkColor);  // the default has no hover colour
  link.SetFlags(link.Flags() | kLinkHoverColor);
  EXPECT_EQ(link.LinkColor(), CHyperLink::s_hoverColor);
  // Leaving the client area ends the hover and gives the mouse back.
  move.SetPosition(wxPoint(-5, -5));
  link.GetEventHandler()->ProcessEvent(move);
  EXPECT_FALSE(link.Hovering());
  EXPECT_FALSE(link.HasCapture());
  notice.Destroy();
}

// Before a link has its window, the address is kept for the set-up and the
// text is dropped; neither touches a window that is not there.
TEST_F(LinkTest, SettersBeforeTheWindowOnlyStoreTheAddress) {
  wxFrame frame(nullptr, wxID_ANY, "links");
  const struct {
    const char* templateText;
    const char* address;  // set before the window, or null
    const char* text;     // set before the window, or null
    const char* label;    // shown after the set-up
    const char* kept;     // the address after the set-up
  } cases[] = {
      {"Static", "https://a.example/", nullptr, "Static", "https://a.example/"},
      {"", "https://b.example/", nullptr, "https://b.example/", "https://b.example/"},
      {"Static", nullptr, "dropped text", "Static", "Static"},
      {"Static", "https://c.example/", "dropped text", "Static", "https://c.example/"},
  };
  for (const auto& c : cases) {
    auto* link = new CHyperLink();
    if (c.address != nullptr) link->SetLinkAddress(c.address);
    if (c.text != nullptr) link->SetLinkText(c.text);
    EXPECT_EQ(link->GetHandle(), nullptr);
    EXPECT_EQ(link->Address(), c.address != nullptr ? c.address : "");
    link->Subclass(
        new wxStaticText(&frame, wxID_ANY, c.templateText, wxPoint(4, 4), wxSize(200, 20)));
    EXPECT_EQ(link->GetLabel().utf8_string(), c.label) << c.templateText;
    EXPECT_EQ(link->Address(), c.kept);
    EXPECT_EQ(link->GetToolTipText().utf8_string(), c.kept);
  }
}

// The About box's two sunken black frames: a black rectangle in a sunken
// edge, closed on all four sides, as the screen shows them.
TEST_F(LinkTest, AboutFramesAreSunkenAndBlack) {
  CAboutDlg about;
  about.OnInitDialog();
  about.Show();
  about.Raise();
  for (int i = 0; i < 10; ++i) Pump();
  WaitFor([] { return false; }, 300);
  int frames = 0;
  for (const ControlTemplate& control : kAboutTemplate.controls) {
    if ((control.style & kStyleBlackFrame) == 0) continue;
    ++frames;
    const wxRect r = about.Layout().ToPixels(control);
    const wxPoint at = about.ClientToScreen(r.GetPosition());
    GdkPixbuf* shot = gdk_pixbuf_get_from_window(gdk_get_default_root_window(), at.x - 1, at.y - 1,
                                                 r.width + 2, r.height + 2);
    ASSERT_NE(shot, nullptr);
    auto pixel = [&](int x, int y) {  // frame coordinates, -1 .. size
      const guchar* p = gdk_pixbuf_get_pixels(shot) + (y + 1) * gdk_pixbuf_get_rowstride(shot) +
                        (x + 1) * gdk_pixbuf_get_n_channels(shot);
      return wxColour(p[0], p[1], p[2]);
    };
    const wxColour black(0, 0, 0);
    const int midX = r.width / 2, midY = r.height / 2;
    for (const wxPoint& side :
         {wxPoint(midX, 0), wxPoint(midX, r.height - 1), wxPoint(0, midY),
          wxPoint(r.width - 1, midY), wxPoint(0, 0), wxPoint(r.width - 1, r.height - 1)}) {
      EXPECT_EQ(pixel(side.x, side.y), black)
          << "frame " << frames << " at " << side.x << "," << side.y;
    }
    // The sunken edge: shadow above and left, light below and right.
    const wxColour above = pixel(midX, -1), left = pixel(-1, midY);
    const wxColour below = pixel(midX, r.height), right = pixel(r.width, midY);
    EXPECT_EQ(above, wxColour(128, 128, 128));
    EXPECT_EQ(left, wxColour(128, 128, 128));
    EXPECT_EQ(below, wxColour(255, 255, 255));
    EXPECT_EQ(right, wxColour(255, 255, 255));
    EXPECT_NE(pixel(midX, 3), black);  // a frame, not a filled box
    g_object_unref(shot);
  }
  EXPECT_EQ(frames, 2);
  about.Destroy();
}

}  // namespace
