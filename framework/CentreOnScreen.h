#pragma once
// Places a window in the middle of the primary screen's available area.

class QWidget;

// Moves window so that its centre is the centre of the primary screen's available geometry.
// Does nothing without a screen.
void centreOnScreen(QWidget* window);
