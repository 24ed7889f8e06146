#pragma once

#include <QWidget>

namespace cryo::app {

// A horizontal bar between two stacked controls: dragging it moves the border
// between them, keeping each at least minimumSize pixels high.
class PanelSplitter final : public QWidget {
    Q_OBJECT

public:
    PanelSplitter(QWidget* above, QWidget* below, int minimumSize, QWidget* parent);

    int MinimumSize() const { return minimumSize_; }

    // Puts the border so that the control below is height pixels high, within the limits.
    void SetBelowHeight(int height);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QWidget* above_;
    QWidget* below_;
    int minimumSize_;
    bool dragging_ = false;
    int dragStartY_ = 0;
    int dragStartHeight_ = 0;
};

} // namespace cryo::app
