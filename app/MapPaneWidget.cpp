#include "MapPaneWidget.h"

#include "MainForm.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

namespace cryo::app {

MapPaneWidget::MapPaneWidget(form::TMainForm& form, QWidget* parent)
    : QWidget(parent)
    , form_(form)
{
    setObjectName(QStringLiteral("MapPane"));
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(160, 120);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setToolTip(tr("Click: list a block. Drag: move the map. Shift+drag: select an area. Wheel: zoom."));
}

void MapPaneWidget::paintEvent(QPaintEvent*)
{
    if (image_.size() != size())
        image_ = QImage(size(), QImage::Format_RGB888);
    form::MapPane& pane = form_.Pane();
    pane.Resize(width(), height());
    pane.Paint(PictureView{image_.bits(), image_.width(), image_.height(), std::size_t(image_.bytesPerLine())});
    QPainter painter(this);
    painter.drawImage(0, 0, image_);
    QString text = QString::fromStdString(pane.PositionText());
    if (!pane.HasMap())
        text = tr("GetStaticIndex shows the map here");
    if (text.isEmpty())
        return;
    const QRect box = painter.fontMetrics().boundingRect(text).adjusted(-4, -2, 4, 2);
    const QRect at(QPoint(4, height() - box.height() - 4), box.size());
    painter.fillRect(at, QColor(0, 0, 0, 170));
    painter.setPen(Qt::white);
    painter.drawText(at, Qt::AlignCenter, text);
}

void MapPaneWidget::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    form_.Pane().Resize(width(), height());
}

void MapPaneWidget::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const QPoint at = event->position().toPoint();
    form_.MapPaneAction(form_.Pane().Press(at.x(), at.y(), (event->modifiers() & Qt::ShiftModifier) != 0));
}

void MapPaneWidget::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    form_.MapPaneAction(form_.Pane().Move(at.x(), at.y()));
}

void MapPaneWidget::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const QPoint at = event->position().toPoint();
    form_.MapPaneAction(form_.Pane().Release(at.x(), at.y()));
}

void MapPaneWidget::wheelEvent(QWheelEvent* event)
{
    wheelRest_ += event->angleDelta().y();
    const int steps = wheelRest_ / 120;
    wheelRest_ -= steps * 120;
    const QPoint at = event->position().toPoint();
    form_.MapPaneAction(form_.Pane().Wheel(steps, at.x(), at.y()));
    event->accept();
}

void MapPaneWidget::leaveEvent(QEvent* event)
{
    QWidget::leaveEvent(event);
    form_.MapPaneAction(form_.Pane().Leave());
}

} // namespace cryo::app
