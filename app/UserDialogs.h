#pragma once

#include <QString>

class QWidget;

namespace cryo::app {

// Every message box of the program, so that tests can answer them.
class UserDialogs {
public:
    virtual ~UserDialogs() = default;

    // An error box titled "Cryoweaver"; the text is shown as given.
    virtual void ShowError(const QString& text) = 0;
    // A Yes/No question; true for Yes.
    virtual bool AskYesNo(const QString& caption, const QString& text) = 0;
    // A notice with an OK button.
    virtual void ShowNotice(const QString& caption, const QString& text) = 0;
};

// Modal message boxes over the given window.
class MessageBoxDialogs final : public UserDialogs {
public:
    explicit MessageBoxDialogs(QWidget* parent = nullptr)
        : parent_(parent)
    {
    }

    void SetParent(QWidget* parent) { parent_ = parent; }

    void ShowError(const QString& text) override;
    bool AskYesNo(const QString& caption, const QString& text) override;
    void ShowNotice(const QString& caption, const QString& text) override;

private:
    QWidget* parent_;
};

} // namespace cryo::app
