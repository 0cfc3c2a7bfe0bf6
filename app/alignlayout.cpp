#include "alignlayout.h"

#include <algorithm>

#include <QWidget>

namespace {

QString AlignOf(const QWidget* widget)
{
    return widget->property("align").toString();
}

}  // namespace

TAlignLayout::TAlignLayout(QWidget* parent) : QLayout(parent)
{
    setSpacing(0);
    setContentsMargins(0, 0, 0, 0);
    setSizeConstraint(QLayout::SetNoConstraint);
}

TAlignLayout::~TAlignLayout()
{
    for (QLayoutItem* item : items_)
        delete item;
}

void TAlignLayout::Install(QWidget* root)
{
    const auto children = root->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    std::vector<QWidget*> docked;
    for (QWidget* child : children) {
        Install(child);
        if (AlignOf(child) == QLatin1String("autosize"))
            child->adjustSize();
        const QString align = AlignOf(child);
        if (align == QLatin1String("top") || align == QLatin1String("bottom") ||
            align == QLatin1String("right") || align == QLatin1String("client"))
            docked.push_back(child);
    }
    if (docked.empty() || root->layout())
        return;
    auto* layout = new TAlignLayout(root);
    // The client child's stored offset gives the parent's inner margins: a frame's width on
    // every side, and a group box's caption above. Stored places count from the parent's own
    // corner, not from whatever inner area the style gives it. (The parent's own stored size is
    // no guide: pages have none.)
    for (QWidget* child : docked) {
        if (AlignOf(child) == QLatin1String("client")) {
            const QPoint offset = child->pos();
            layout->setContentsMargins(offset.x(), offset.y(), offset.x(), offset.x());
        }
    }
    // Controls docked to the same edge stack in the order of their stored places.
    std::stable_sort(docked.begin(), docked.end(), [](QWidget* a, QWidget* b) {
        return a->y() != b->y() ? a->y() < b->y() : a->x() < b->x();
    });
    for (QWidget* child : docked)
        layout->addWidget(child);
}

void TAlignLayout::addItem(QLayoutItem* item)
{
    items_.push_back(item);
}

QLayoutItem* TAlignLayout::itemAt(int index) const
{
    return index >= 0 && index < count() ? items_[static_cast<std::size_t>(index)] : nullptr;
}

QLayoutItem* TAlignLayout::takeAt(int index)
{
    if (index < 0 || index >= count())
        return nullptr;
    QLayoutItem* item = items_[static_cast<std::size_t>(index)];
    items_.erase(items_.begin() + index);
    return item;
}

int TAlignLayout::count() const
{
    return static_cast<int>(items_.size());
}

QSize TAlignLayout::sizeHint() const
{
    return parentWidget() ? parentWidget()->size() : QSize();
}

QSize TAlignLayout::minimumSize() const
{
    return QSize(0, 0);
}

void TAlignLayout::setGeometry(const QRect& rect)
{
    QLayout::setGeometry(rect);
    // From the parent's corner, like the stored places (see Install), not from the inner area
    // the style gives the parent.
    const QWidget* parent = parentWidget();
    QRect free = parent ? parent->rect().marginsRemoved(contentsMargins()) : contentsRect();
    for (const char* edge : {"top", "bottom", "right", "client"}) {
        const QLatin1String wanted(edge);
        // Bottom-docked controls stack upwards from the edge: the lowest one first.
        std::vector<QLayoutItem*> order(items_.begin(), items_.end());
        if (wanted == QLatin1String("bottom"))
            std::reverse(order.begin(), order.end());
        for (QLayoutItem* item : order) {
            QWidget* widget = item->widget();
            if (!widget || AlignOf(widget) != wanted)
                continue;
            if (wanted == QLatin1String("top")) {
                widget->setGeometry(free.left(), free.top(), free.width(), widget->height());
                free.setTop(free.top() + widget->height());
            } else if (wanted == QLatin1String("bottom")) {
                widget->setGeometry(free.left(), free.bottom() + 1 - widget->height(),
                                    free.width(), widget->height());
                free.setBottom(free.bottom() - widget->height());
            } else if (wanted == QLatin1String("right")) {
                widget->setGeometry(free.right() + 1 - widget->width(), free.top(),
                                    widget->width(), free.height());
                free.setRight(free.right() - widget->width());
            } else {
                widget->setGeometry(free.left(), free.top(), std::max(0, free.width()),
                                    std::max(0, free.height()));
            }
        }
    }
}
