// SPDX-License-Identifier: MIT
// Every window test runs on its own settings folder and home (with its own upload folder), so tests
// running side by side never share a file.
#pragma once

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#define KORVEL_GUI_TEST_MAIN(TestClass)                                                              \
    int main(int argc, char** argv) {                                                                \
        QTemporaryDir home;                                                                          \
        QDir(home.path()).mkpath("hollin.data/upload");                                              \
        QDir(home.path()).mkpath("config");                                                          \
        qputenv("HOME", home.path().toUtf8());                                                       \
        qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8());                              \
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen"); \
        QApplication app(argc, argv);                                                                \
        TestClass test;                                                                              \
        return QTest::qExec(&test, argc, argv);                                                      \
    }
