#pragma once

#include <QString>

namespace tavlo::config {
class Config;
}

namespace tavlo::worker {

// Deletes every character of the value that occurs anywhere in the remove-characters text.
class Remover {
public:
    explicit Remover(const config::Config& config);
    explicit Remover(QString removeCharacters);

    QString removeCharacters(const QString& value) const;
    bool isEmpty() const { return m_removeCharacters.isEmpty(); }

private:
    QString m_removeCharacters;
};

} // namespace tavlo::worker
