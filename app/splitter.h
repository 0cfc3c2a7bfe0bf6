#pragma once
// A horizontal splitter that resizes the control docked just above it, with the arithmetic of
// the classic splitter: a 30-pixel minimum, collapse on drag, and a hatched line while dragging.

#include <QWidget>

class TSplitter : public QWidget {
    Q_OBJECT
public:
    explicit TSplitter(QWidget* parent = nullptr);

    static constexpr int MinSize = 30;

    // The control above the splitter, whose height it sets.
    void SetControl(QWidget* control) { control_ = control; }

    // The drag, exposed for tests: press at y, move to y, release; Esc cancels.
    void BeginDrag(int globalY);
    void DragTo(int globalY);
    void EndDrag();
    void CancelDrag();
    bool Dragging() const { return dragging_; }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    int MaxSize() const;
    void CalcNewSize(int globalY);
    void ShowLine();

    QWidget* control_ = nullptr;
    QWidget* line_ = nullptr;
    bool dragging_ = false;
    int downY_ = 0;
    int maxSize_ = 0;
    int newSize_ = 0;
    int oldSize_ = -1;
};
