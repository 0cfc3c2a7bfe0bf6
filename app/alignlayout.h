#pragma once
// Edge docking as the stored layouts describe it: a child marked "top", "bottom", "right" or
// "client" (dynamic property `align`) keeps its size across the docked edge and is stretched
// along it; "client" takes what is left. Undocked children stay where the layout put them.

#include <vector>

#include <QLayout>

class TAlignLayout : public QLayout {
public:
    explicit TAlignLayout(QWidget* parent);
    ~TAlignLayout() override;

    // Installs a TAlignLayout on every widget below `root` that has docked children.
    static void Install(QWidget* root);

    void addItem(QLayoutItem* item) override;
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    int count() const override;
    QSize sizeHint() const override;
    QSize minimumSize() const override;
    void setGeometry(const QRect& rect) override;

private:
    std::vector<QLayoutItem*> items_;
};
