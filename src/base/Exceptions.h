#pragma once

#include <QString>
#include <stdexcept>

namespace tavlo::base {

// Base of the program's failures: a message text that the caller may log or show.
class TavloException : public std::runtime_error {
public:
    explicit TavloException(const QString& message) : std::runtime_error(message.toStdString()), m_message(message) {}
    const QString& message() const noexcept { return m_message; }

private:
    QString m_message;
};

// A text that is not a number of the expected form.
class NumberFormatException : public TavloException {
public:
    using TavloException::TavloException;
};

// A key that a text table does not hold, or a text table that cannot be read.
class MissingResourceException : public TavloException {
public:
    MissingResourceException(const QString& message, QString table, QString key)
        : TavloException(message), m_table(std::move(table)), m_key(std::move(key)) {}
    const QString& table() const noexcept { return m_table; }
    const QString& key() const noexcept { return m_key; }

private:
    QString m_table;
    QString m_key;
};

// An argument outside what the callee accepts, such as an unknown constant name.
class IllegalArgumentException : public TavloException {
public:
    using TavloException::TavloException;
};

// An arithmetic operation without a result, such as a division by zero.
class ArithmeticException : public TavloException {
public:
    using TavloException::TavloException;
};

// The user cancelled an operation in a dialog.
class UserCancelException : public TavloException {
public:
    using TavloException::TavloException;
};

} // namespace tavlo::base
