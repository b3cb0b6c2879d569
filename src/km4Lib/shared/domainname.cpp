#include "domainname.h"

#include <QUrl>

namespace {

bool printable(char32_t codePoint)
{
    switch (QChar::category(codePoint)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Other_Surrogate:
    case QChar::Other_PrivateUse:
    case QChar::Other_NotAssigned:
    case QChar::Separator_Space:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return false;
    default:
        return true;
    }
}

} // namespace

QString DomainName::normalised(const QString &typed)
{
    const QString domain = typed.trimmed();
    for (const uint codePoint : domain.toUcs4()) {
        if (!printable(char32_t(codePoint)))
            return QString();
    }
    return QString::fromLatin1(QUrl::toAce(domain));
}
