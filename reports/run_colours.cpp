#include "reports/run_colours.h"

namespace {

// Dark and light of one hue each, all readable on white paper.
constexpr RunColours kRunColours[kRunColourCount] = {
    {kReportTe, kReportFe},           {{31, 70, 200}, {255, 140, 0}},
    {{0, 128, 0}, {150, 200, 40}},    {{120, 60, 20}, {200, 160, 100}},
    {{90, 30, 160}, {170, 130, 230}}, {{110, 100, 0}, {200, 185, 40}},
    {{11, 125, 134}, {92, 209, 218}}, {{163, 19, 90}, {240, 106, 169}},
};

}  // namespace

RunColours RunColoursOf(size_t run) { return kRunColours[run % kRunColourCount]; }
