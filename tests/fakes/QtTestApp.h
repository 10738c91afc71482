#pragma once

// A QCoreApplication for the whole test program, so that code which hands work to the GUI thread (queued
// invocations, BackgroundTask) finds one. Include this header in every test file that needs it; the
// application is created once, before the first test, on the main thread, which thus plays the GUI thread.

#include "EventLoop.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace tavlo::test {

class QtAppEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "tavlo_test";
        static char* argv[] = {name, nullptr};
        m_app = std::make_unique<QCoreApplication>(argc, argv);
    }
    void TearDown() override {
        // Let queued releases and deferred deletions of finished work run before the application goes.
        QCoreApplication::sendPostedEvents(nullptr, 0);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_app.reset();
    }

private:
    std::unique_ptr<QCoreApplication> m_app;
};

inline const bool qtAppEnvironmentRegistered = [] {
    ::testing::AddGlobalTestEnvironment(new QtAppEnvironment);
    return true;
}();

// Runs the events already posted (and those they post) for a short while.
inline void drainEvents(int ms = 50) {
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

} // namespace tavlo::test
