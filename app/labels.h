#pragma once
// Label writes that touch the widget only when something visible changes.

#include <QString>

class QLabel;

void SetText(QLabel* label, const QString& text);
// A right-aligned label that keeps its right edge at `right` and is at least `minWidth` wide
// (0: exactly as wide as its text), growing to the left for longer texts.
void SetRightAnchored(QLabel* label, const QString& text, int right, int minWidth);
