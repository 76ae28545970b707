#pragma once
// The program's real windows, created as the program entry creates them, with the
// main window attached to a fresh database on the local server.

#include "TestDatabase.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

class ConnectedMainWindow : public ::testing::Test {
protected:
    // showMain: also show the main window (its first show reads the settings file,
    // pointed at one that does not exist, so nothing is attempted then).
    explicit ConnectedMainWindow(bool showMain = false) : showMain_(showMain) {}
    void SetUp() override;
    void TearDown() override;

    TestDatabase database;
    QTemporaryDir settingsDir;

private:
    bool showMain_;
};
