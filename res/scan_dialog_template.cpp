#include "res/dialog_template.h"
#include "res/resource_ids.h"

namespace {

constexpr ControlTemplate kScanControls[] = {
    {-1, ControlKind::kStatic, "", 3, 0, 250, 1, kStyleSunkenFrame},
    {IDC_SELECT_DRIVE_GROUP, ControlKind::kGroupBox, "Select Drive ", 9, 61, 240, 28, kStyleNone},
    {IDC_DRIVE, ControlKind::kDropDownList, "", 33, 71, 191, 52, kStyleNone},
    {-1, ControlKind::kGroupBox, "Disc Info ", 9, 90, 135, 63, kStyleNone},
    {-1, ControlKind::kGroupBox, "Setting ", 149, 90, 100, 63, kStyleNone},
    {-1, ControlKind::kStatic, "Disc Type:", 17, 101, 52, 8, kStyleNone},
    {-1, ControlKind::kStatic, "Manufacture ID:", 17, 113, 52, 8, kStyleNone},
    {-1, ControlKind::kStatic, "Media Type ID:", 17, 126, 48, 8, kStyleNone},
    {IDC_SPEED, ControlKind::kDropDownList, "", 153, 111, 91, 76, kStyleClientEdge},
    {IDC_DISC_TYPE, ControlKind::kStatic, "N/A", 86, 100, 50, 10, kStyleCentred | kStyleSunken},
    {IDC_MANUFACTURER_ID, ControlKind::kStatic, "N/A", 86, 113, 50, 10,
     kStyleCentred | kStyleSunken},
    {IDC_MEDIA_TYPE_ID, ControlKind::kStatic, "N/A", 86, 126, 50, 10, kStyleCentred | kStyleSunken},
    {-1, ControlKind::kGroupBox, "TE/FE Test Area ", 9, 154, 240, 175, kStyleNone},
    {IDC_START, ControlKind::kPushButton, "START", 17, 191, 45, 15, kStyleStaticEdge},
    {IDC_STOP, ControlKind::kPushButton, "STOP", 68, 191, 45, 15, kStyleStaticEdge},
    {-1, ControlKind::kStatic, "Elapsed Time:", 144, 197, 50, 9, kStyleNone},
    {IDC_ELAPSED, ControlKind::kStatic, "", 196, 197, 42, 8, kStyleNone},
    {-1, ControlKind::kStatic, "Blank Disc Capacity:", 17, 138, 66, 8, kStyleNone},
    {IDC_CAPACITY, ControlKind::kStatic, "N/A", 86, 138, 50, 10, kStyleCentred | kStyleSunken},
    {IDC_GRAPH, ControlKind::kStatic, "", 16, 210, 226, 114, kStyleSunkenFrame},
    {-1, ControlKind::kStatic, "Graph Density:", 18, 170, 47, 8, kStyleNone},
    {IDC_DENSITY, ControlKind::kDropDownList, "", 68, 169, 67, 65, kStyleNone},
    {IDC_TE_LEGEND, ControlKind::kStatic, "", 150, 170, 8, 8, kStyleNone},
    {IDC_FE_LEGEND, ControlKind::kStatic, "", 150, 181, 8, 8, kStyleNone},
    {-1, ControlKind::kStatic, "Disc Speed:", 156, 100, 41, 8, kStyleNone},
    {IDC_FE_CHECK, ControlKind::kAutoCheckBox, "FE", 163, 182, 19, 8, kStyleNone},
    {IDC_TE_CHECK, ControlKind::kAutoCheckBox, "TE", 163, 170, 19, 8, kStyleNone},
    {-1, ControlKind::kBitmap, "", 9, 2, 240, 58, kStyleNone},
    {IDC_STATUS, ControlKind::kStatic, "status bar", 9, 332, 240, 13,
     kStyleCentred | kStyleVCentred | kStyleSunken},
    {-1, ControlKind::kGroupBox, "Show Criteria", 142, 160, 100, 34, kStyleNone},
    {IDC_SMART_SCAN, ControlKind::kPushButton, "Smart Scan", 177, 131, 45, 14, kStyleStaticEdge},
    {-1, ControlKind::kStatic, "(Tracking Error)", 186, 170, 49, 8, kStyleNone},
    {-1, ControlKind::kStatic, "(Focus Error)", 185, 182, 49, 8, kStyleNone},
};

constexpr MenuItemTemplate kMenuItems[] = {
    {0, "&File "}, {ID_FILE_SAVE, "&Save"},   {ID_FILE_EXIT, "E&xit"},
    {0, "&Help "}, {ID_HELP_ABOUT, "&About"},
};

}  // namespace

const DialogTemplate kScanDialogTemplate = {
    IDD_SCAN_DIALOG, "Velmo Version 1.0", 259, 349, "Arial", 9, kScanControls,
};

const std::span<const MenuItemTemplate> kMainMenu = kMenuItems;

const ControlTemplate* FindControl(const DialogTemplate& dialog, int id) {
  for (const ControlTemplate& control : dialog.controls) {
    if (control.id == id) return &control;
  }
  return nullptr;
}

const char* LoadResourceString(int id) {
  switch (id) {
    case IDS_ABOUTBOX: return "&About Velmo...";
    default: return "";
  }
}
