#pragma once

#include "base/Exceptions.h"

namespace tavlo::prefs {

// The store behind a preferences tree could not be read or written (a file, the registry).
class BackingStoreException : public base::TavloException {
public:
    using base::TavloException::TavloException;
};

// The operating system refused access to the store. Callers that report other store failures quietly
// pass this one on, so that the user learns that the settings cannot be kept.
class AccessDeniedException : public BackingStoreException {
public:
    using BackingStoreException::BackingStoreException;
};

// A settings export file that is not well-formed or not laid out as a preferences export.
class InvalidPreferencesFormatException : public base::TavloException {
public:
    using base::TavloException::TavloException;
};

// An operation on a node that has been removed, or the removal of a root.
class IllegalStateException : public base::TavloException {
public:
    using base::TavloException::TavloException;
};

// A file outside the store (an export file) could not be read or written.
class IOException : public base::TavloException {
public:
    using base::TavloException::TavloException;
};

} // namespace tavlo::prefs
