// One chart series: its colour and the two newest points. The model keeps
// each refresh's copy to redraw the curves on a new range.
#pragma once

#include "chart/colorref.h"

class CGraphSeries {
 public:
  explicit CGraphSeries(COLORREF colour = Rgb(0, 0, 0)) : m_crColor(colour) {}

  COLORREF m_crColor;
  double m_dY = 0.0;      // newest point
  double m_dPrevX = 0.0;  // the point before it
  double m_dX = 0.0;
  double m_dPrevY = 0.0;
  int m_bStarted = 0;  // 1 once drawn since added or cleared
};
