#include "PanelSplitter.h"

#include <QMouseEvent>

#include <algorithm>

namespace cryo::app {

PanelSplitter::PanelSplitter(QWidget* above, QWidget* below, int minimumSize, QWidget* parent)
    : QWidget(parent)
    , above_(above)
    , below_(below)
    , minimumSize_(minimumSize)
{
    setCursor(Qt::SizeVerCursor);
}

void PanelSplitter::SetBelowHeight(int height)
{
    // The three share the space from the top of the upper control to the bottom
    // of the lower one.
    const int top = above_->y();
    const int bottom = below_->geometry().bottom() + 1;
    const int room = bottom - top - this->height();
    const int belowHeight = std::clamp(height, minimumSize_, std::max(minimumSize_, room - minimumSize_));
    const int aboveHeight = room - belowHeight;
    above_->setGeometry(above_->x(), top, above_->width(), aboveHeight);
    setGeometry(x(), top + aboveHeight, width(), this->height());
    below_->setGeometry(below_->x(), bottom - belowHeight, below_->width(), belowHeight);
}

void PanelSplitter::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    dragging_ = true;
    dragStartY_ = qRound(event->globalPosition().y());
    dragStartHeight_ = below_->height();
}

void PanelSplitter::mouseMoveEvent(QMouseEvent* event)
{
    if (dragging_)
        SetBelowHeight(dragStartHeight_ - (qRound(event->globalPosition().y()) - dragStartY_));
}

void PanelSplitter::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && dragging_) {
        SetBelowHeight(dragStartHeight_ - (qRound(event->globalPosition().y()) - dragStartY_));
        dragging_ = false;
    }
}

} // namespace cryo::app
