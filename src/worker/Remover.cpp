#include "worker/Remover.h"

#include "config/Config.h"

namespace tavlo::worker {

Remover::Remover(const config::Config& config) : Remover(config.getRemoveCharacters()) {}

Remover::Remover(QString removeCharacters) : m_removeCharacters(std::move(removeCharacters)) {}

QString Remover::removeCharacters(const QString& value) const {
    if (value.isEmpty() || m_removeCharacters.isEmpty())
        return value;
    QString out;
    out.reserve(value.size());
    for (const QChar c : value)
        if (!m_removeCharacters.contains(c))
            out += c;
    return out;
}

} // namespace tavlo::worker
