#pragma once
// The white glyphs of the caption buttons, drawn pixel by pixel so they stay sharp at scale 1.

#include <QRect>

class QPainter;

// Draws the glyph of SKIN_BTN_MINIMIZE, _MAXIMIZE, _RESTORE, _CLOSE or _MENU centred in
// `button`; any other id draws nothing.
void DrawCaptionGlyph(QPainter& p, int glyph, const QRect& button);
