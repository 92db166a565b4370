#include "alsa/AlsaNames.h"

#include <QRegularExpression>
#include <QStringList>

namespace alsa {

QString composeDisplayName(const QString& clientName, const QString& portName) {
    static const QRegularExpression space(QStringLiteral("\\s+"));
    const QString client = clientName.trimmed();
    const QString port = portName.trimmed();
    if (client.isEmpty()) {
        return port;
    }
    const QStringList clientWords = client.split(space, Qt::SkipEmptyParts);
    const QStringList portWords = port.split(space, Qt::SkipEmptyParts);
    qsizetype shared = 0;
    while (shared < clientWords.size() && shared < portWords.size() &&
           clientWords[shared].compare(portWords[shared], Qt::CaseInsensitive) == 0) {
        ++shared;
    }
    if (shared == clientWords.size()) {
        return port;
    }
    const QStringList rest = portWords.mid(shared);
    return rest.isEmpty() ? client : client + QLatin1Char(' ') + rest.join(QLatin1Char(' '));
}

} // namespace alsa
