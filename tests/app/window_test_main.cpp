// The main of every window test binary: wx started on the display Xvfb
// gives, the tests run in a scratch folder of their own (the runs write
// TEFE.txt where they run) with the Run menu's choices kept there too, a GTK
// critical fails the test that caused it, and printing goes to GTK's file
// printer only.
#include <glib.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <unistd.h>
#include <wx/app.h>
#include <wx/init.h>
#include <wx/log.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/support/scratch_folder.h"

namespace {

// A GTK critical means a control was handed something it cannot take (a
// size below its minimum, a bad argument): fail the test that caused it.
// GTK logs through the structured writer, so that is where to look.
GLogWriterOutput FailOnToolkitCritical(GLogLevelFlags level, const GLogField* fields, gsize count,
                                       gpointer data) {
  if (level & G_LOG_LEVEL_CRITICAL) {
    std::string domain = "?", message;
    for (gsize i = 0; i < count; ++i) {
      const std::string key = fields[i].key;
      const char* value = static_cast<const char*>(fields[i].value);
      if (fields[i].length >= 0 || value == nullptr) continue;
      if (key == "GLIB_DOMAIN") domain = value;
      if (key == "MESSAGE") message = value;
    }
    ADD_FAILURE() << domain << " critical: " << message;
  }
  return g_log_writer_default(level, fields, count, data);
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ScratchFolder scratch("velmo-gui");
  if (scratch.Path().empty() || chdir(scratch.Path().c_str()) != 0) return 1;
  // The Run menu's choices of the person running the tests stay out of them.
  setenv("XDG_CONFIG_HOME", scratch.Path().c_str(), 1);
  g_log_set_writer_func(FailOnToolkitCritical, nullptr, nullptr);
  wxApp::SetInstance(new wxApp);
  if (!wxEntryStart(argc, argv)) {
    std::fprintf(stderr, "cannot start wx (no display?)\n");
    return 1;
  }
  wxTheApp->CallOnInit();
  // This machine has no print server: only GTK's file printer, so that a
  // print job goes to a PDF instead of waiting for printers to show up.
  g_object_set(gtk_settings_get_default(), "gtk-print-backends", "file", nullptr);
  // wx's own complaints go to stderr, not into modal boxes nobody closes.
  delete wxLog::SetActiveTarget(new wxLogStderr());
  const int result = RUN_ALL_TESTS();
  wxEntryCleanup();
  // Out of the folder before it goes.
  if (chdir("/") != 0) return 1;
  return result;
}
