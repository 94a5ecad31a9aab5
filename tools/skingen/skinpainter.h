#pragma once
// Drawing primitives of the programs' skin: one palette, one font, one way to draw a button, a
// lamp, a bar and a page, so every picture of both programs shares a look.
#include <QColor>
#include <QImage>
#include <QString>

namespace skin {

// The palette of the skin.
struct Palette {
  static QColor Frame() { return QColor(0x2B, 0x3A, 0x4F); }       // dark slate: window frame
  static QColor Column() { return QColor(0x1F, 0x2C, 0x3E); }      // right-hand button column
  static QColor Header() { return QColor(0xD4, 0xDB, 0xE4); }      // header band behind fields
  static QColor Page() { return QColor(0xED, 0xED, 0xED); }        // page colour of the panels
  static QColor Accent() { return QColor(0x3B, 0x6E, 0xA8); }      // steel blue
  static QColor ButtonTop() { return QColor(0xF4, 0xF6, 0xF9); }
  static QColor ButtonBottom() { return QColor(0xC9, 0xD2, 0xDD); }
  static QColor ButtonText() { return QColor(0x1C, 0x2B, 0x40); }
};

// A font of the pinned Japanese face at `pixels` height.
QFont Font(int pixels, bool bold = false);

// Loads the pinned fonts; false when the font files are missing.
bool LoadFonts();

// Every picture is opaque (the image controls draw them opaque): the pixels a shape leaves
// free take the colour of the place the picture sits on, set here before drawing a group.
void SetBackdrop(QColor color);
QImage NewImage(int w, int h);
QImage NewImage(int w, int h, QColor fill);

// A rectangular push button with a caption; pressed: sunken, darker, caption moved by a pixel.
QImage TextButton(int w, int h, const QString& text, bool pressed);

enum class Glyph { Play, Pause, Stop };
// A square transport button with a symbol.
QImage GlyphButton(int size, Glyph glyph, bool pressed);

// A round button of a colour (play from a mark).
QImage RoundButton(int size, QColor color, bool pressed);

// A format lamp: a rounded plate with a caption, lit in `color` or dark.
QImage Lamp(int w, int h, const QString& text, QColor color, bool lit);

// The length lamp: a red cross (off) or a blue ring (on).
QImage LengthLamp(int size, bool on);

// A horizontal groove for a bar; `wedge` draws the rising volume wedge inside.
QImage BarTrack(int w, int h, bool wedge);

// A handle (knob) for a bar.
QImage BarHandle(int w, int h);

// The select button of a viewer row: a narrow tab with an arrow.
QImage RowSelect(int w, int h, bool pressed);

// The background strip of one viewer row.
QImage RowStrip(int w, int h);

// A splash picture with a program name and a subtitle.
QImage Splash(int w, int h, const QString& name, const QString& subtitle, QColor accent);

// The converter's page background with the MAIN (`mainInFront`) or SUB tab in front.
QImage ConverterBackground(bool mainInFront);

// The viewer's window background.
QImage ViewerBackground();

}  // namespace skin
