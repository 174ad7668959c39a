// Dialog templates as data: every control with its id, kind, text, style and
// rectangle in dialog units, in tab order. The windows are laid out from
// these tables and nowhere else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

enum class ControlKind {
  kStatic,  // text
  kGroupBox,
  kDropDownList,
  kPushButton,
  kAutoCheckBox,
  kBitmap,    // static bitmap; text is unused
  kIcon,      // the application icon
  kListView,  // report view
  kProgressBar,
};

enum ControlStyle : uint32_t {
  kStyleNone = 0,
  kStyleCentred = 1u << 0,
  kStyleVCentred = 1u << 1,
  kStyleSunken = 1u << 2,       // SS_SUNKEN
  kStyleSunkenFrame = 1u << 3,  // SS_ETCHEDFRAME-like frame with no text
  kStyleClientEdge = 1u << 4,
  kStyleStaticEdge = 1u << 5,
  kStyleRight = 1u << 6,
  kStyleDefault = 1u << 7,     // default push button
  kStyleBlackFrame = 1u << 8,  // plain frame with no text
};

struct ControlTemplate {
  int id;  // -1: none
  ControlKind kind;
  const char* text;
  int x, y, width, height;  // dialog units
  uint32_t style;
};

struct DialogTemplate {
  int id;
  const char* title;
  int width, height;  // dialog units
  const char* fontFace;
  int fontPoints;
  std::span<const ControlTemplate> controls;
};

// A control of a template by id; null when there is none.
const ControlTemplate* FindControl(const DialogTemplate& dialog, int id);

extern const DialogTemplate kScanDialogTemplate;   // 102
extern const DialogTemplate kSmartModeTemplate;    // 139
extern const DialogTemplate kAboutTemplate;        // 100
extern const DialogTemplate kDriveNoticeTemplate;  // 141

struct MenuItemTemplate {
  int id;  // 0: a popup whose items follow until the next popup
  const char* text;
};

extern const std::span<const MenuItemTemplate> kMainMenu;  // 131

// String table.
const char* LoadResourceString(int id);  // "" when there is none
