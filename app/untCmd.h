#pragma once
// The run dialog: starts a program, or opens a document, by the name typed or chosen.

#include <memory>

#include <QDialog>

#include "platform/Platform.h"

namespace Ui { class frmCmd; }
class TErrorGuard;

class TfrmCmd : public QDialog {
    Q_OBJECT
public:
    TfrmCmd(platform::Platform& platform, TErrorGuard& guard, QWidget* parent = nullptr);
    ~TfrmCmd() override;

    // Shows the dialog modally to its owner, while the rest of the program (the tray icon
    // included) keeps working; returns when it closes.
    void ShowModal();

    void btnFileClick();
    void OKBtnClick();
    void CancelBtnClick();

private:
    platform::Platform& platform_;
    TErrorGuard& guard_;
    std::unique_ptr<Ui::frmCmd> ui;
    platform::OpenFileRequest dlgOpen_;
    bool placed_ = false;
};
