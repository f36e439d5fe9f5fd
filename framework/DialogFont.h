#pragma once
// The windows' font: MS Sans Serif at 11 pixels (8 points at 96 pixels per inch), or the nearest
// sans-serif face where that one is missing.

#include <QFont>

// base with the dialog face and size; its other attributes (weight, style) are kept.
QFont dialogFont(QFont base = QFont());
