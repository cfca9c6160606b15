#include "appidentity.h"

#include <QCoreApplication>

namespace Lumetra {

void setApplicationIdentity()
{
    QCoreApplication::setApplicationName(QStringLiteral("Lumetra"));
    QCoreApplication::setOrganizationName(QStringLiteral("Quorvane"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0"));
}

} // namespace Lumetra
