#pragma once

#include "config/ConfigHelper.h"

#include <QString>

namespace tavlo::config {
class Config;
}

namespace tavlo::worker {

// Cuts characters from, or keeps characters of, the start or the end of a value.
class Editor {
public:
    explicit Editor(const config::Config& config);
    Editor(const config::ConfigHelper::EditOperation* operation, const config::ConfigHelper::EditPosition* position,
           int numCharacters);

    // A count of 0 or an empty value leaves the value unchanged; counts beyond the length never fail.
    QString edit(const QString& value) const;
    int numCharacters() const { return m_numCharacters; }

private:
    const config::ConfigHelper::EditOperation* m_editOperation;
    const config::ConfigHelper::EditPosition* m_editPosition;
    int m_numCharacters;
};

} // namespace tavlo::worker
