#pragma once

#include <QTextStream>

namespace tavlo::worker {

// Runs every instrument profile's sample records through its expression and value group and prints one line
// per profile and a summary line. Returns the number of failed profiles.
int runSelfTest(QTextStream& out);

} // namespace tavlo::worker
