#include "splitter.h"

#include <QKeyEvent>
#include <QLayout>
#include <QMouseEvent>
#include <QPainter>

namespace {

// The line that follows the mouse during a drag; the control is resized only on release.
class THatchLine : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), QBrush(Qt::black, Qt::Dense4Pattern));
    }
};

}  // namespace

TSplitter::TSplitter(QWidget* parent) : QWidget(parent)
{
    setCursor(Qt::SizeVerCursor);
    setFocusPolicy(Qt::NoFocus);
}

int TSplitter::MaxSize() const
{
    // Room the parent can give: its height less a 30-pixel reserve and every docked control
    // (this splitter included), plus what the resized control has now.
    int docked = 0;
    for (QWidget* sibling : parentWidget()->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        const QString align = sibling->property("align").toString();
        if (align == QLatin1String("top") || align == QLatin1String("bottom"))
            docked += sibling->height();
    }
    return parentWidget()->height() - MinSize - docked + control_->height();
}

void TSplitter::CalcNewSize(int globalY)
{
    const int split = globalY - downY_;
    newSize_ = control_->height() + split;
    if (newSize_ < MinSize)
        newSize_ = MinSize;
    else if (newSize_ > maxSize_)
        newSize_ = maxSize_;
}

void TSplitter::BeginDrag(int globalY)
{
    if (!control_ || !parentWidget())
        return;
    dragging_ = true;
    downY_ = globalY;
    maxSize_ = MaxSize();
    CalcNewSize(globalY);
    setFocusPolicy(Qt::ClickFocus);
    setFocus();
    ShowLine();
}

void TSplitter::DragTo(int globalY)
{
    if (!dragging_)
        return;
    CalcNewSize(globalY);
    if (newSize_ <= MinSize)
        newSize_ = 0;
    ShowLine();
}

void TSplitter::EndDrag()
{
    if (!dragging_)
        return;
    dragging_ = false;
    delete line_;
    line_ = nullptr;
    if (newSize_ != oldSize_) {
        control_->setFixedHeight(newSize_);
        oldSize_ = newSize_;
        if (QLayout* layout = parentWidget()->layout())
            layout->setGeometry(parentWidget()->rect());
    }
}

void TSplitter::CancelDrag()
{
    dragging_ = false;
    delete line_;
    line_ = nullptr;
}

void TSplitter::ShowLine()
{
    if (!line_) {
        line_ = new THatchLine(parentWidget());
        line_->setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    line_->setGeometry(0, control_->y() + newSize_, parentWidget()->width(), height());
    line_->show();
    line_->raise();
}

void TSplitter::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        BeginDrag(event->globalPosition().toPoint().y());
}

void TSplitter::mouseMoveEvent(QMouseEvent* event)
{
    DragTo(event->globalPosition().toPoint().y());
}

void TSplitter::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        EndDrag();
}

void TSplitter::keyPressEvent(QKeyEvent* event)
{
    if (dragging_ && event->key() == Qt::Key_Escape)
        CancelDrag();
    else
        QWidget::keyPressEvent(event);
}
