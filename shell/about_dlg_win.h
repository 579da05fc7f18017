// The About box: dialog resource 100, no messages of its own.
#pragma once

#include "shell/dialog_win.h"
#include "shell/resource.h"

namespace kavenor {

class CAboutDlg : public ModalDialog {
 public:
  CAboutDlg() : ModalDialog(IDD_ABOUTBOX) {}
};

}  // namespace kavenor
