#include "labels.h"

#include <algorithm>

#include <QLabel>

void SetText(QLabel* label, const QString& text)
{
    if (label->text() != text)
        label->setText(text);
}

void SetRightAnchored(QLabel* label, const QString& text, int right, int minWidth)
{
    if (label->text() == text && label->geometry().right() + 1 == right)
        return;
    label->setText(text);
    const int width = std::max(minWidth, label->fontMetrics().horizontalAdvance(text));
    const int left = std::max(0, right - width);
    label->setGeometry(left, label->y(), right - left, label->height());
}
