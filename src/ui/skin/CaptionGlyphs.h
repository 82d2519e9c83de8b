#pragma once
// The white glyphs of the caption buttons, drawn pixel by pixel so they stay sharp at scale 1.

#include <QRect>

class QPainter;
enum class ECaptionButton;

// Draws the glyph of a caption button centred in `button`; None draws nothing.
void DrawCaptionGlyph(QPainter& p, ECaptionButton glyph, const QRect& button);
