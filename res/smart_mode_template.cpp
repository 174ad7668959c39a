#include "res/dialog_template.h"
#include "res/resource_ids.h"

namespace {

constexpr ControlTemplate kSmartControls[] = {
    {IDC_EXIT, ControlKind::kPushButton, "Exit", 115, 147, 28, 14, kStyleNone},
    {-1, ControlKind::kGroupBox, "Disc Info ", 8, 6, 135, 63, kStyleNone},
    {-1, ControlKind::kStatic, "Disc Type:", 16, 17, 52, 8, kStyleNone},
    {-1, ControlKind::kStatic, "Manufacture ID:", 16, 29, 52, 8, kStyleNone},
    {-1, ControlKind::kStatic, "Media Type ID:", 16, 42, 48, 8, kStyleNone},
    {IDC_DISC_TYPE, ControlKind::kStatic, "N/A", 85, 16, 50, 10, kStyleCentred | kStyleSunken},
    {IDC_MANUFACTURER_ID, ControlKind::kStatic, "N/A", 85, 29, 50, 10,
     kStyleCentred | kStyleSunken},
    {IDC_MEDIA_TYPE_ID, ControlKind::kStatic, "N/A", 85, 42, 50, 10, kStyleCentred | kStyleSunken},
    {-1, ControlKind::kStatic, "Blank Disc Capacity:", 16, 54, 66, 8, kStyleNone},
    {IDC_CAPACITY, ControlKind::kStatic, "N/A", 85, 54, 50, 10, kStyleCentred | kStyleSunken},
    {IDC_RESULT_LIST, ControlKind::kListView, "", 14, 81, 122, 55, kStyleNone},
    {-1, ControlKind::kGroupBox, "Result List", 8, 71, 135, 71, kStyleNone},
    {IDC_PROGRESS, ControlKind::kProgressBar, "", 8, 149, 103, 8, kStyleNone},
    {-1, ControlKind::kStatic,
     "The result is acquired thru measuring TE/FE value at certain point on the outer track.", 8,
     166, 136, 27, kStyleStaticEdge},
};

}  // namespace

const DialogTemplate kSmartModeTemplate = {
    IDD_SMART_MODE, "Smart Mode Report", 151, 199, "Arial", 9, kSmartControls,
};
