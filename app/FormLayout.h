// The window's layout, the same on every platform: the caption, the client area and the controls
// in twips (15 to a pixel), their captions, colours, alignment and fonts.
#pragma once

#include <cstdint>

namespace quom {

inline constexpr const char* kFormCaption = "Quom [32k EXE Music] by Kuvro";
inline constexpr int kClientTwipsW = 7185;
inline constexpr int kClientTwipsH = 2190;

// Courier New 12 pt, and 48 pt bold for the title, at 96 dots per inch, in character set 204.
inline constexpr int kFontPx = 16;
inline constexpr int kTitleFontPx = 64;
inline constexpr int kFontCharset = 204;

struct Rgb {
  uint8_t r, g, b;
};
inline constexpr Rgb kFormBlack = {0, 0, 0};
inline constexpr Rgb kFormGreen = {0, 255, 0};

enum class Align { kLeft, kCentre, kRight };

struct LabelLayout {
  const char* name;
  const char* caption;  // at start
  int left, top, width, height;
  Rgb text;
  Align align;
  bool title;  // the title's font instead of the window's
};

// The labels in their exposure order; the bar comes after them.
inline constexpr LabelLayout kLabQuom = {"LabQuom", "Quom!",    1320,           960, 4455,
                                         915,       kFormBlack, Align::kCentre, true};
inline constexpr LabelLayout kLabTime = {"labTime", "",         3540,          480,  2235,
                                         255,       kFormGreen, Align::kRight, false};
inline constexpr LabelLayout kLabProgress = {"labProgress", "",         2640,           480,  795,
                                             255,           kFormGreen, Align::kCentre, false};
inline constexpr LabelLayout kLabel1 = {"Label1", "Prepare",  1320,         480,  1215,
                                        255,      kFormGreen, Align::kLeft, false};

// ShProg, the progress bar: its width follows the progress total.
inline constexpr int kBarLeft = 60;
inline constexpr int kBarTop = 120;
inline constexpr int kBarWidth = 135;  // before the first refresh
inline constexpr int kBarHeight = 255;

}  // namespace quom
