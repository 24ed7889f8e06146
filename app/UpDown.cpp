#include "UpDown.h"

#include "Convert.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>

#include <algorithm>
#include <string>

namespace cryo::app {

namespace {

QToolButton* MakeArrow(Qt::ArrowType arrow, QWidget* parent)
{
    auto* button = new QToolButton(parent);
    button->setArrowType(arrow);
    button->setAutoRepeat(true);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

} // namespace

UpDown::UpDown(QLineEdit* buddy, int minimum, int maximum, QWidget* parent)
    : QWidget(parent)
    , buddy_(buddy)
    , up_(MakeArrow(Qt::UpArrow, this))
    , down_(MakeArrow(Qt::DownArrow, this))
    , minimum_(minimum)
    , maximum_(maximum)
    , position_(minimum)
{
    up_->setObjectName(QStringLiteral("UpArrow"));
    down_->setObjectName(QStringLiteral("DownArrow"));
    setFocusPolicy(Qt::NoFocus);
    connect(up_, &QToolButton::clicked, this, [this] { Step(1); });
    connect(down_, &QToolButton::clicked, this, [this] { Step(-1); });
    buddy_->installEventFilter(this);
}

void UpDown::Step(int delta)
{
    // The edit may have been typed into since the last step; its number, when it
    // is one, is where the step starts.
    try {
        position_ = StrToInt(buddy_->text().toStdString());
    } catch (const ConvertError&) {
    }
    position_ = std::clamp(position_, minimum_, maximum_);
    position_ = std::clamp(position_ + delta, minimum_, maximum_);
    buddy_->setText(QString::number(position_));
}

bool UpDown::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == buddy_ && event->type() == QEvent::KeyPress && isEnabled()) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            Step(key == Qt::Key_Up ? 1 : -1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

QSize UpDown::sizeHint() const
{
    return {fontMetrics().height(), buddy_->sizeHint().height()};
}

void UpDown::resizeEvent(QResizeEvent*)
{
    const int upHeight = height() / 2;
    up_->setGeometry(0, 0, width(), upHeight);
    down_->setGeometry(0, upHeight, width(), height() - upHeight);
}

} // namespace cryo::app
