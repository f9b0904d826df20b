#pragma once

#include <QPixmap>

// The program's logo for the top bar: a ruby wave badge and the name,
// drawn at ASize on a transparent background.
QPixmap DrawTavixLogo(const QSize& ASize);
