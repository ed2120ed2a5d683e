#pragma once
// Builds the three global windows as the start routine does and records error boxes.

#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>

#include "ui/about.h"
#include "ui/app.h"
#include "ui/frmostrel.h"
#include "ui/main.h"

class FormTest : public testing::Test {
protected:
    struct TBox {
        QString Title, Text;
    };
    std::vector<TBox> Boxes;

    void SetUp() override
    {
        ErrorBoxHook = [this](const QString& t, const QString& m) { Boxes.push_back({t, m}); };
        frmMain = new TfrmMain;
        frmOstrel = new TfrmOstrel(frmMain, *frmMain->Sheet);
        frmAbout = new TfrmAbout(frmMain);
        // Qt's own dialogs, so the tests can fill them in.
        frmMain->OpenDialog->setOption(QFileDialog::DontUseNativeDialog, true);
        frmMain->SaveDialog->setOption(QFileDialog::DontUseNativeDialog, true);
        frmMain->ExportDialog->setOption(QFileDialog::DontUseNativeDialog, true);
        frmMain->show();
        QApplication::processEvents();
    }
    void TearDown() override
    {
        delete frmAbout;
        delete frmOstrel;
        delete frmMain;
        frmAbout = nullptr;
        frmOstrel = nullptr;
        frmMain = nullptr;
        ErrorBoxHook = nullptr;
    }

    // Open through the open dialog, as the user would.
    void Open(const std::string& path) { OpenWith(frmMain->actOpen, path); }
    // The same through another action that shows the open dialog (Open as plain HPGL).
    void OpenWith(QAction* action, const std::string& path)
    {
        action->trigger();
        ASSERT_TRUE(frmMain->OpenDialog->isVisible());
        Type(frmMain->OpenDialog, path);
        static_cast<QDialog*>(frmMain->OpenDialog)->accept();  // QFileDialog::accept, as the button does
        QApplication::processEvents();
    }
    void SaveAs(const std::string& path)
    {
        frmMain->actSaveAs->trigger();
        ASSERT_TRUE(frmMain->SaveDialog->isVisible());
        Type(frmMain->SaveDialog, path);
        static_cast<QDialog*>(frmMain->SaveDialog)->accept();
        QApplication::processEvents();
    }
    void ExportSvg(const std::string& path)
    {
        frmMain->actExportSvg->trigger();
        ASSERT_TRUE(frmMain->ExportDialog->isVisible());
        Type(frmMain->ExportDialog, path);
        static_cast<QDialog*>(frmMain->ExportDialog)->accept();
        QApplication::processEvents();
    }
    // Types a name into a file dialog's name field, as the user does.
    static void Type(QFileDialog* dialog, const std::string& path)
    {
        auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(edit, nullptr);
        edit->setText(QString::fromStdString(path));
    }
    static std::string Panel(int i)
    {
        return (i == 0 ? frmMain->StatusPanel0 : frmMain->StatusPanel1)->text().toStdString();
    }
};
