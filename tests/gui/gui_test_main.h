// SPDX-License-Identifier: MIT
// Every window test runs on its own settings folder, so tests running side by side never share a file.
#pragma once

#include <QApplication>
#include <QTemporaryDir>
#include <QtTest>

#define KORVEL_GUI_TEST_MAIN(TestClass)                                                              \
    int main(int argc, char** argv) {                                                                \
        QTemporaryDir config;                                                                        \
        qputenv("XDG_CONFIG_HOME", config.path().toUtf8());                                          \
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen"); \
        QApplication app(argc, argv);                                                                \
        TestClass test;                                                                              \
        return QTest::qExec(&test, argc, argv);                                                      \
    }
