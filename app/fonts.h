#pragma once

// The UI fonts of the layouts: a proportional Japanese face, 12 pixels high (11 in the list).
void InstallUiFonts();

// The figures' font: the same height, with digits of one width, so that a figure that changes
// every tick does not jitter and 64-bit totals fit beside their unit.
class QFont;
QFont FigureFont();
