// Window layouts are given in twips (1440 to the inch); the screen works in pixels.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>
#include <QString>
#include <QWidget>

namespace app {

inline constexpr double kTwipsPerPixel = 15.0;  // 1440 twips per inch at 96 pixels per inch

inline int twips_to_pixels(int twips) { return static_cast<int>(twips / kTwipsPerPixel + 0.5); }

inline QRect twips_rect(int left, int top, int width, int height) {
  return {twips_to_pixels(left), twips_to_pixels(top), twips_to_pixels(width),
          twips_to_pixels(height)};
}

inline QSize twips_size(int width, int height) {
  return {twips_to_pixels(width), twips_to_pixels(height)};
}

inline QFont station_font(double points, bool bold = true, const QString& family = "Arial") {
  QFont font(family);
  // Where the design face is missing, Arial's metric twin keeps the layout's measures.
  font.setFamilies({family, "Arial", "Liberation Sans"});
  font.setPointSizeF(points);
  font.setBold(bold);
  return font;
}

// Places a control at its twips position with its font.
inline void place(QWidget* widget, int left, int top, int width, int height, double points,
                  bool bold = true) {
  widget->setGeometry(twips_rect(left, top, width, height));
  widget->setFont(station_font(points, bold));
}

}  // namespace app
