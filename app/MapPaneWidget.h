#pragma once

#include <QImage>
#include <QWidget>

namespace cryo::form {
class TMainForm;
}

namespace cryo::app {

// The map pane: blits the picture the logic composes and passes on the mouse.
class MapPaneWidget final : public QWidget {
    Q_OBJECT

public:
    MapPaneWidget(form::TMainForm& form, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    form::TMainForm& form_;
    QImage image_;
    // Eighths of a wheel's notch not yet used (touchpads send small steps).
    int wheelRest_ = 0;
};

} // namespace cryo::app
