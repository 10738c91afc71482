#pragma once

#include <QLoggingCategory>

// Log of the preferences stores: node creation at debug level, the store file at info, failures as warnings.
Q_DECLARE_LOGGING_CATEGORY(tavloPrefsLog)
