#include "worker/Editor.h"

#include "config/Config.h"

namespace tavlo::worker {

using H = config::ConfigHelper;

Editor::Editor(const config::Config& config)
    : Editor(config.getEditOperation(), config.getEditPosition(), config.getEditNumCharactersAsInt()) {}

Editor::Editor(const H::EditOperation* operation, const H::EditPosition* position, int numCharacters)
    : m_editOperation(operation ? operation : H::EditOperation::getDefault()),
      m_editPosition(position ? position : H::EditPosition::getDefault()), m_numCharacters(numCharacters) {}

QString Editor::edit(const QString& value) const {
    if (m_numCharacters <= 0 || value.isEmpty())
        return value;
    const qsizetype n = m_numCharacters;
    const bool first = m_editPosition == &H::EditPosition::FIRST;
    if (m_editOperation == &H::EditOperation::REMOVE) {
        if (n >= value.size())
            return QString();
        return first ? value.mid(n) : value.left(value.size() - n);
    }
    if (n >= value.size())
        return value;
    return first ? value.left(n) : value.right(n);
}

} // namespace tavlo::worker
