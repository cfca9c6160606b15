#include "usererror.h"

#include <utility>

namespace Lumetra {

UserError::UserError(QString message) : m_message(std::move(message)), m_utf8Message(m_message.toUtf8()) {}

UserError::~UserError() = default;

const char* UserError::what() const noexcept
{
    return m_utf8Message.isNull() ? "" : m_utf8Message.constData();
}

} // namespace Lumetra
