#pragma once

#include <QString>
#include <stdexcept>

// An error a handler does not catch itself. Its text is shown to the user as it stands,
// so it says in plain words what failed, where, and why.
class OperationError : public std::runtime_error {
  public:
    explicit OperationError(const QString& message)
        : std::runtime_error(message.toStdString()), message_(message) {}
    const QString& message() const { return message_; }

  private:
    QString message_;
};
