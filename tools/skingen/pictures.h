// The background plate and the icon, drawn from code.
#pragma once

#include <QColor>
#include <QImage>

#include <string>

// The frame's outline, which the icon shares.
inline const QColor kOutline(0x121214);

// The plate as the skin's 8-bit "pozadi" element, 320 x 240.
void BackgroundBmp(const std::string &path);
// The plate as a JPEG picture for Skin/pozadi.jpg; false when it cannot be
// written.
bool BackgroundJpeg(const std::string &path);
// The program's icon at `size` pixels a side.
QImage Icon(int size);
