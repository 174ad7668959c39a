#include "res/dialog_template.h"
#include "res/resource_ids.h"

namespace {

constexpr ControlTemplate kAboutControls[] = {
    {-1, ControlKind::kIcon, "", 15, 13, 20, 20, kStyleNone},
    {-1, ControlKind::kStatic, "Velmo Version 1.0", 44, 13, 92, 8, kStyleNone},
    {-1, ControlKind::kStatic, "Made by Marn for its drives", 45, 24, 87, 8, kStyleNone},
    {IDC_OK, ControlKind::kPushButton, "OK", 152, 15, 50, 14, kStyleDefault},
    {IDC_GLOBAL_SITE_LINK, ControlKind::kStatic, "Static", 114, 52, 71, 8, kStyleNone},
    {-1, ControlKind::kStatic, "", 7, 5, 221, 35, kStyleBlackFrame | kStyleSunken},
    {-1, ControlKind::kStatic, "", 7, 45, 221, 35, kStyleBlackFrame | kStyleSunken},
    {IDC_SUPPORT_SITE_LINK, ControlKind::kStatic, "Static", 114, 65, 71, 8, kStyleNone},
    {-1, ControlKind::kStatic, "Marn Globe Web Site:", 15, 52, 86, 8, kStyleNone},
    {-1, ControlKind::kStatic, "Download User Manual:", 15, 65, 85, 8, kStyleNone},
};

constexpr ControlTemplate kNoticeControls[] = {
    {IDC_OK, ControlKind::kPushButton, "OK", 75, 50, 50, 14, kStyleDefault},
    {-1, ControlKind::kStatic,
     "Sorry! Velmo is exclusive for Marn drives.\nFor product information please visit Marn "
     "website:",
     12, 9, 181, 17, kStyleNone},
    {-1, ControlKind::kStatic, "", 7, 6, 191, 37, kStyleBlackFrame},
    {IDC_GLOBAL_SITE_LINK, ControlKind::kStatic, "Static", 64, 30, 61, 7, kStyleNone},
};

}  // namespace

const DialogTemplate kAboutTemplate = {
    IDD_ABOUTBOX, "About Velmo", 235, 85, "Arial", 8, kAboutControls,
};

const DialogTemplate kDriveNoticeTemplate = {
    IDD_DRIVE_NOTICE, "Velmo Version 1.0", 205, 70, "Arial", 9, kNoticeControls,
};
