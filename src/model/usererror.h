#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

namespace Lumetra {

// A failure that reaches the user, carrying a finished sentence. what() returns
// its UTF-8 form, made once, so it stays valid for the exception's lifetime.
class UserError : public std::exception
{
public:
    explicit UserError(QString message);
    ~UserError() override;

    const char* what() const noexcept override;
    const QString& message() const { return m_message; }

private:
    QString m_message;
    QByteArray m_utf8Message;
};

} // namespace Lumetra
