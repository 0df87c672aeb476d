#pragma once

#include <QString>

#include <stdexcept>

namespace vesk {

// The one error type of the program. `what` names the operation that failed and
// `why` the reason, both in words a user can read; they go into the error report.
class Error : public std::runtime_error {
public:
    Error(QString what, QString why)
        : std::runtime_error((what + QStringLiteral(": ") + why).toStdString()),
          m_what(std::move(what)), m_why(std::move(why)) {}

    const QString& failed() const noexcept { return m_what; }
    const QString& reason() const noexcept { return m_why; }

private:
    QString m_what;
    QString m_why;
};

} // namespace vesk
