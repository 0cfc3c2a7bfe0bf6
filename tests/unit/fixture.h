#pragma once
// The main window on a scripted platform, shown under the offscreen platform.

#include <memory>

#include <QActionGroup>
#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QMenu>
#include <QTabWidget>
#include <QtTest/QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include "chart.h"
#include "platform/fake/FakePlatform.h"
#include "stringgrid.h"
#include "untCmd.h"
#include "untMain.h"

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake.setCpuUsage(37);
        form = std::make_unique<TfrmMain>(fake);
        cmd = std::make_unique<TfrmCmd>(fake, form->Guard(), form.get());
        form->SetCmd(cmd.get());
    }

    void TearDown() override
    {
        cmd.reset();
        form.reset();
    }

    void Show()
    {
        form->ShowMain();
        fake.calls.clear();
    }

    template <class T = QWidget>
    T* Find(const char* name) const
    {
        T* found = form->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    QString Text(const char* label) const { return Find<QLabel>(label)->text(); }
    TImage& Image(const char* name) const { return *Find<TImage>(name); }
    TStringGrid& Grid() const { return *Find<TStringGrid>("grdApp"); }

    platform::FakePlatform fake;
    std::unique_ptr<TfrmMain> form;
    std::unique_ptr<TfrmCmd> cmd;
};
