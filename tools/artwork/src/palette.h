#pragma once

#include <QColor>

// One palette for every skin and icon, so the small pieces read as one program: a friendly
// blue for the mark and the chrome, slate greys for ink, and three accents (green for "online",
// amber for the padlock, coral for closing).
namespace artwork::palette {

inline constexpr QRgb kBlueDeep = 0xFF1D4FB0;   // outlines, the title bar's lower edge
inline constexpr QRgb kBlue = 0xFF3478F6;       // the mark, glyph bodies
inline constexpr QRgb kBlueTop = 0xFF4F91FA;    // top of the blue gradients
inline constexpr QRgb kBlueBottom = 0xFF2863D9; // bottom of the blue gradients
inline constexpr QRgb kBlueSoft = 0xFF8DB8FB;   // highlights on blue, light strokes
inline constexpr QRgb kBluePale = 0xFFDCEAFE;   // fills of light glyphs
inline constexpr QRgb kBlueMist = 0xFFEEF4FE;   // button and panel backgrounds

inline constexpr QRgb kInk = 0xFF2B3440;      // text
inline constexpr QRgb kSlate = 0xFF5E6B7A;    // secondary strokes
inline constexpr QRgb kGrey = 0xFFA3AEBB;     // inactive glyphs
inline constexpr QRgb kGreyPale = 0xFFDDE2E8; // hairlines, inactive fills
inline constexpr QRgb kLine = 0xFFCFDCEF;     // separators on white
inline constexpr QRgb kMenuKey = 0xFFD3E1F5;  // the keys under the menu titles

inline constexpr QRgb kGreen = 0xFF34C759;
inline constexpr QRgb kGreenDeep = 0xFF1E9444;
inline constexpr QRgb kAmber = 0xFFF7B731;
inline constexpr QRgb kAmberDeep = 0xFFC27F0E;
inline constexpr QRgb kAmberLight = 0xFFFFDD80;
inline constexpr QRgb kCoral = 0xFFFF6B4A;
inline constexpr QRgb kCoralDeep = 0xFFC8432A;
inline constexpr QRgb kRed = 0xFFE5484D;
inline constexpr QRgb kWhite = 0xFFFFFFFF;

// The light the composed skins end up on: the program ANDs each channel with this.
inline constexpr int kComposedBase = 250;

} // namespace artwork::palette
