#pragma once

#include <QString>

namespace tavlo::util {

// What a running window and the later starts of the same user agree on, with one implementation per system
// (UserSession_posix.cpp, UserSession_win32.cpp).

// A folder that only the current user can enter, created when missing: $XDG_RUNTIME_DIR where it is set and
// private, else a folder of the user's own in the temporary folder. Empty, with the reason in *error, when no
// such folder can be had (someone else owns the place, or it cannot be made).
QString privateFolder(QString* error);

// The name of the local socket `base` for this user: a path in that folder where sockets are files, a pipe name
// with the user's name in it where they are not.
QString localSocketName(const QString& folder, const QString& base);

// The current user's login name.
QString currentUserName();

// The login name of the owner of a file; empty when the system does not say.
QString fileOwner(const QString& path);

} // namespace tavlo::util
