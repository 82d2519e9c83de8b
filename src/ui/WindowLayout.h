#pragma once
// Where every control of the window sits: its place in its parent, at screen scale 1. The
// window places its controls from this table only; its test checks what the places must
// satisfy (inside the parent, clear of each other and of the module bar, room for the texts).

#include <stdexcept>
#include <string_view>

struct TControlPlace {
  const char* name;  // the control's object name
  int x, y;
  int w, h;  // -1, -1: as large as its text (labels, a check box)
};

inline constexpr TControlPlace WINDOW_LAYOUT[] = {
    // The page area; the page control reaches past its panel, which clips its own border.
    {"RzPanel3", 27, 152, 786, 359},
    {"pgcMain", -3, -2, 791, 364},
    // Home
    {"lbl1", 40, 33, -1, -1},
    {"RzPanel1", 33, 56, 379, 277},
    {"RzLabel1", 8, 14, 361, 210},
    {"RzPanel2", 426, 55, 341, 279},
    {"mmo1", 16, 18, 305, 231},
    // Update
    {"pnlUpdate", 40, 24, 273, 33},
    {"btnConnect", 2, 6, 110, 25},
    {"btnUpdate", 163, 6, 110, 25},
    {"grpFirmware", 40, 64, 289, 185},
    {"mmoUpdate", 16, 18, 241, 127},
    {"chkAutoPRG", 43, 258, -1, -1},
    {"lbl2", 344, 32, -1, -1},
    {"mmoUplog", 344, 48, 441, 233},
    {"pbProgram", 40, 297, 745, 17},
    // Tool: the running data
    {"rzgrpbx1", 40, 32, 265, 305},
    {"lbl3", 43, 36, -1, -1},
    {"edtVolt", 80, 32, 139, 23},
    {"lbl8", 221, 36, -1, -1},
    {"lbl4", 43, 60, -1, -1},
    {"edtCurr", 80, 56, 139, 23},
    {"lbl9", 221, 60, -1, -1},
    {"lbl5", 43, 84, -1, -1},
    {"edtChannel", 80, 80, 169, 23},
    {"lbl6", 43, 108, -1, -1},
    {"edtState", 80, 104, 33, 23},
    {"edtCyc1", 120, 104, 33, 23},
    {"edtCyc2", 160, 104, 33, 23},
    {"edtCyc3", 208, 104, 33, 23},
    {"lbl7", 43, 143, -1, -1},
    // The hub drawing: outline, plug, and the batteries on the outline (their labels are
    // centred above or below them).
    {"shp4", 43, 176, 198, 76},
    {"shp5", 43, 193, 9, 41},
    {"shp1", 68, 176, 49, 19},
    {"shp0", 156, 176, 49, 19},
    {"shp2", 82, 233, 49, 19},
    {"shp3", 178, 233, 49, 19},
    {"btnRead", 48, 267, 75, 25},
    {"chkRefresh", 136, 272, 67, 17},
    // Tool: the LED levels, red on the left, green on the right, each label above its bar.
    {"rzgrpbx2", 312, 32, 481, 305},
    {"lblLed1", 13, 32, -1, -1},
    {"rztrckbr1", 13, 48, 225, 38},
    {"lblLed2", 13, 88, -1, -1},
    {"rztrckbr2", 13, 104, 225, 38},
    {"lblLed3", 13, 152, -1, -1},
    {"rztrckbr3", 13, 168, 225, 38},
    {"lblLed4", 13, 213, -1, -1},
    {"rztrckbr4", 13, 229, 225, 38},
    {"lblLed5", 248, 32, -1, -1},
    {"rztrckbr5", 248, 48, 225, 38},
    {"lblLed6", 248, 88, -1, -1},
    {"rztrckbr6", 248, 104, 225, 38},
    {"lblLed7", 248, 152, -1, -1},
    {"rztrckbr7", 248, 168, 225, 38},
    {"lblLed8", 248, 213, -1, -1},
    {"rztrckbr8", 248, 229, 225, 38},
    {"btnStartAdj", 69, 267, 97, 25},
    {"btnEndAdj", 304, 267, 83, 25},
    // The bottom strip over the frame's lower edge: lamp, automatic-update strip, version.
    {"pnl1", 0, 554, 859, 33},
    {"imgIndicator", 24, 4, 24, 24},
    {"pnl2", 88, 6, 609, 25},
    {"lbl23", 15, 5, -1, -1},
    {"pbMsg", 75, 3, 217, 14},
    {"lblMsg", 295, 3, -1, -1},
    {"lbl10", 723, 7, -1, -1},
};

// The place of the control `name`; a name missing from the table throws.
constexpr const TControlPlace& PlaceOf(std::string_view name) {
  for (const TControlPlace& place : WINDOW_LAYOUT) {
    if (name == place.name)
      return place;
  }
  throw std::out_of_range("not in WINDOW_LAYOUT");
}
