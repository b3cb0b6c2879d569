#include "sqlvalue.h"

#include <QString>

bool SqlValue::repair(QVariant &value)
{
    if (value.typeId() != QMetaType::QString)
        return false;
    const QString text = value.toString();
    if (QStringView(text).isValidUtf16())
        return false;
    QString repaired;
    repaired.reserve(text.size());
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < size && text.at(i + 1).isLowSurrogate()) {
            repaired.append(c);
            repaired.append(text.at(++i));
        } else if (c.isSurrogate()) {
            repaired.append(QChar::ReplacementCharacter);
        } else {
            repaired.append(c);
        }
    }
    value = repaired;
    return true;
}

int SqlValue::bind(QSqlQuery &query, const QVariantList &values)
{
    int repaired = 0;
    for (qsizetype i = 0; i < values.size(); ++i) {
        const QVariant &value = values.at(i);
        // Checked in place: a copy per value would cost more than the check on a bulk write.
        if (value.typeId() == QMetaType::QString
            && !QStringView(*static_cast<const QString *>(value.constData())).isValidUtf16()) {
            QVariant copy = value;
            repair(copy);
            query.bindValue(int(i), copy);
            ++repaired;
        } else {
            query.bindValue(int(i), value);
        }
    }
    return repaired;
}

QString SqlValue::identifier(const QString &name)
{
    return QLatin1Char('"') + QString(name).replace(QLatin1Char('"'), QLatin1String("\"\""))
        + QLatin1Char('"');
}
