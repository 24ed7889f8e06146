#pragma once

#include <QWidget>

class QLineEdit;
class QToolButton;

namespace cryo::app {

// A pair of arrows beside a number edit that step its value within a range
// without wrapping; the arrow keys in the edit do the same. The arrows never
// take the focus, so stepping does not count as leaving the edit.
class UpDown final : public QWidget {
    Q_OBJECT

public:
    UpDown(QLineEdit* buddy, int minimum, int maximum, QWidget* parent);

    int Minimum() const { return minimum_; }
    int Maximum() const { return maximum_; }
    int Position() const { return position_; }
    void SetRange(int minimum, int maximum)
    {
        minimum_ = minimum;
        maximum_ = maximum;
    }

    void Step(int delta);
    QSize sizeHint() const override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QLineEdit* buddy_;
    QToolButton* up_;
    QToolButton* down_;
    int minimum_;
    int maximum_;
    int position_;
};

} // namespace cryo::app
