#include "app/window_capture.h"

#include <gtk/gtk.h>
#ifdef GDK_WINDOWING_X11
#include <gdk/gdkx.h>
#endif

#include <algorithm>
#include <cstring>

#include "snapshot/surface_bitmap.h"

namespace {

std::optional<WindowImage> FromPixbuf(GdkPixbuf* pixbuf) {
  if (pixbuf == nullptr) return std::nullopt;
  WindowImage image;
  image.width = gdk_pixbuf_get_width(pixbuf);
  image.height = gdk_pixbuf_get_height(pixbuf);
  const int channels = gdk_pixbuf_get_n_channels(pixbuf);
  const int stride = gdk_pixbuf_get_rowstride(pixbuf);
  const guchar* pixels = gdk_pixbuf_get_pixels(pixbuf);
  image.rgb.resize(static_cast<size_t>(image.width) * image.height * 3);
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      const guchar* from = pixels + static_cast<size_t>(y) * stride + x * channels;
      std::memcpy(&image.rgb[(static_cast<size_t>(y) * image.width + x) * 3], from, 3);
    }
  }
  g_object_unref(pixbuf);
  return image;
}

#ifdef GDK_WINDOWING_X11
std::optional<WindowImage> FromScreen(GdkWindow* window, bool whole) {
  GdkRectangle area;
  if (whole) {
    gdk_window_get_frame_extents(window, &area);
  } else {
    gdk_window_get_origin(window, &area.x, &area.y);
    area.width = gdk_window_get_width(window);
    area.height = gdk_window_get_height(window);
  }
  // Only what is on the screen can be read.
  GdkWindow* root = gdk_get_default_root_window();
  const int screenWidth = gdk_window_get_width(root);
  const int screenHeight = gdk_window_get_height(root);
  const int left = std::max(area.x, 0);
  const int top = std::max(area.y, 0);
  const int right = std::min(area.x + area.width, screenWidth);
  const int bottom = std::min(area.y + area.height, screenHeight);
  if (right <= left || bottom <= top) return std::nullopt;
  std::optional<WindowImage> image =
      FromPixbuf(gdk_pixbuf_get_from_window(root, left, top, right - left, bottom - top));
  if (image) image->fromScreen = true;
  return image;
}
#endif

std::optional<WindowImage> Rendered(GtkWidget* widget) {
  const int width = gtk_widget_get_allocated_width(widget);
  const int height = gtk_widget_get_allocated_height(widget);
  if (width <= 0 || height <= 0) return std::nullopt;
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  cairo_t* cr = cairo_create(surface);
  gtk_widget_draw(widget, cr);
  cairo_destroy(cr);
  cairo_surface_flush(surface);
  std::optional<WindowImage> image;
  if (cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS) {
    image = WindowImage{};
    image->width = width;
    image->height = height;
    image->rgb.resize(static_cast<size_t>(width) * height * 3);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < height; ++y) {
      const uint32_t* row =
          reinterpret_cast<const uint32_t*>(data + static_cast<size_t>(y) * stride);
      for (int x = 0; x < width; ++x) {
        uint8_t* to = &image->rgb[(static_cast<size_t>(y) * width + x) * 3];
        to[0] = (row[x] >> 16) & 0xFF;
        to[1] = (row[x] >> 8) & 0xFF;
        to[2] = row[x] & 0xFF;
      }
    }
  }
  cairo_surface_destroy(surface);
  return image;
}

}  // namespace

std::optional<WindowImage> CaptureWindowImage(wxWindow* window, bool whole) {
  if (window == nullptr) return std::nullopt;
  GtkWidget* widget = window->GetHandle();
  if (widget == nullptr || !gtk_widget_get_realized(widget)) return std::nullopt;
  GdkWindow* gdkWindow = gtk_widget_get_window(widget);
#ifdef GDK_WINDOWING_X11
  if (gdkWindow != nullptr && GDK_IS_X11_WINDOW(gdkWindow)) return FromScreen(gdkWindow, whole);
#endif
  (void)gdkWindow;
  return Rendered(widget);
}

int ScreenBitsPerPixel(wxWindow* window) {
  GtkWidget* widget = window != nullptr ? window->GetHandle() : nullptr;
  GdkScreen* screen = widget != nullptr ? gtk_widget_get_screen(widget) : gdk_screen_get_default();
  if (screen == nullptr) return 24;
  GdkVisual* visual = gdk_screen_get_system_visual(screen);
  const int depth = visual != nullptr ? gdk_visual_get_depth(visual) : 24;
#ifdef GDK_WINDOWING_X11
  // The depth counts colour bits; a pixel takes what the server's pixmap
  // format for that depth gives it (32 for depth 24 on most servers).
  GdkDisplay* display = gdk_screen_get_display(screen);
  if (GDK_IS_X11_DISPLAY(display)) {
    int count = 0;
    XPixmapFormatValues* formats = XListPixmapFormats(GDK_DISPLAY_XDISPLAY(display), &count);
    int bits = depth;
    for (int i = 0; i < count; ++i) {
      if (formats[i].depth == depth) bits = formats[i].bits_per_pixel;
    }
    if (formats != nullptr) XFree(formats);
    return bits;
  }
#endif
  return depth;
}

std::array<uint32_t, 3> ScreenPixelMasks(wxWindow* window) {
  GtkWidget* widget = window != nullptr ? window->GetHandle() : nullptr;
  GdkScreen* screen = widget != nullptr ? gtk_widget_get_screen(widget) : gdk_screen_get_default();
  GdkVisual* visual = screen != nullptr ? gdk_screen_get_system_visual(screen) : nullptr;
  std::array<uint32_t, 3> masks{};
  if (visual == nullptr) return masks;
  guint32 mask = 0;
  gdk_visual_get_red_pixel_details(visual, &mask, nullptr, nullptr);
  masks[0] = mask;
  gdk_visual_get_green_pixel_details(visual, &mask, nullptr, nullptr);
  masks[1] = mask;
  gdk_visual_get_blue_pixel_details(visual, &mask, nullptr, nullptr);
  masks[2] = mask;
  return masks;
}

int SaveWindowBitmap(wxWindow* window, const std::string& path, SnapshotResult* result) {
  if (window == nullptr) return 0;
  const std::optional<WindowImage> image = CaptureWindowImage(window, true);
  if (!image) {
    result->failedStep = SnapshotStep::kReadPixels;
    result->error = 0;
    return 1;
  }
  // The file keeps the screen's pixel format: 32 bits, 16 with the
  // screen's masks, else 24.
  const int bits = ScreenBitsPerPixel(window);
  const size_t rowBytes = static_cast<size_t>(image->width) * 3;
  if (bits == 16) {
    *result = SaveBitmapAsBmp(DescribeRgbBytes16(image->width, image->height, image->rgb.data(),
                                                 rowBytes, ScreenPixelMasks(window)),
                              path);
    return 1;
  }
  const TrueColorDepth depth = bits >= 32 ? TrueColorDepth::k32 : TrueColorDepth::k24;
  *result = SaveBitmapAsBmp(
      DescribeRgbBytes(image->width, image->height, image->rgb.data(), rowBytes, depth), path);
  return 1;
}
