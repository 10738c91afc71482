#pragma once

#include <QString>

namespace tavlo::output {

// The per-user secret that lets a program or web page send commands through the reading service. It is kept in
// a file of its own that only the user can read, in the user's configuration folder, and never in the settings
// store: an export writes every key of the settings node, and the multi-user edition's settings file is
// readable by every user of the computer.
class ReadingServiceToken {
public:
    // The token file: "<configuration folder>/Corvane/Tavlo/reading-service-token".
    static QString path();
    // The token, made (32 random bytes as 64 hexadecimal digits) when there is none yet. A file that others may
    // read is restricted to the user again, with the note in *warning. Empty, with the reason in *error, when
    // the file cannot be read, written or holds no usable token.
    static QString loadOrCreate(QString* error, QString* warning = nullptr);
    // The token when the file exists and is usable; empty otherwise (nothing is created).
    static QString load();
    // Whether a text can be a token: 16 to 256 characters that need no escaping in an address (letters,
    // digits, "-", ".", "_", "~").
    static bool isUsable(const QString& token);
};

} // namespace tavlo::output
