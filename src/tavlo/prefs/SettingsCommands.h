#pragma once

#include <QString>

class QTextStream;

namespace tavlo::prefs {

class ConfigStore;

// The settings deployment of the command line, for administrators who set up many stations without opening
// the window. Both return the exit status: 0 when done, 1 when refused (the reason on err).

// Writes the store's settings to file as the window's Export writes them (every setting, invalid ones as their
// defaults), without changing the store.
int exportSettingsCommand(ConfigStore& store, const QString& file, QTextStream& out, QTextStream& err);

// Merges a settings export into the store with the window's refusals; a refused file leaves the store as it
// was. Invalid values of an accepted file are reported; they give their defaults at the next start.
int importSettingsCommand(ConfigStore& store, const QString& file, QTextStream& out, QTextStream& err);

} // namespace tavlo::prefs
