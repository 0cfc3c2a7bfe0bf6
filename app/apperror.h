#pragma once
// The few real errors of the program: thrown by a handler, caught at its boundary, shown once.

#include <exception>
#include <functional>

#include <QString>

namespace platform { class Platform; }
class QWidget;

// An error whose message is for the user.
class EAppError : public std::exception {
public:
    explicit EAppError(QString message) : message_(std::move(message)) {}
    const QString& message() const { return message_; }
    const char* what() const noexcept override { return "application error"; }

private:
    QString message_;
};

// The standard error box's text: the message with "." added when its last byte sorts after "."
// (in UTF-8 every non-ASCII character ends in such a byte, so Japanese messages get one).
QString ErrorBoxText(const QString& message);

// Runs each handler body and shows what escapes it in the one error box. While a box is open
// further errors are dropped: a source that fails on every tick must not pile up boxes.
class TErrorGuard {
public:
    TErrorGuard(platform::Platform& platform, QString caption);

    // Returns false when the body failed (the rest of it was skipped).
    bool Run(const std::function<void()>& body);
    // The window a box stands above when none of ours is active (the always-on-top main window).
    void SetOwner(QWidget* owner) { owner_ = owner; }

private:
    void Show(const QString& message);

    platform::Platform& platform_;
    QString caption_;
    QWidget* owner_ = nullptr;
    bool boxOpen_ = false;
};
