#pragma once

#include "PortsDialog.h"
#include "TableDialog.h"

// The ports dialog on Linux: the table of ports, the COM number and "Закрепить" for the row
// chosen (offered its number; only an adapter with a stable path can be kept), "Обновить".
class TQtPortsDialog : public TTableDialog, public TPortsView {
public:
    TQtPortsDialog(QWidget* parent, TPortsDialog& dialog);

    // Shows the dialog until the operator closes it.
    void Run();

    void ShowPorts(const std::vector<TPortRow>& rows) override;
    void ShowPortsMessage(const std::string& text, bool error) override;

    QPushButton* Refresh = nullptr;

private:
    void RowChosen();

    TPortsDialog& Dialog;
    std::vector<TPortRow> Rows;
};
