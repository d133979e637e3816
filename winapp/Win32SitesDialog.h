#pragma once

#include <windows.h>

#include "PortsDialog.h"
#include "SitesDialog.h"
#include "Win32TableDialog.h"

// The sites dialog on Windows: the list of sites, the field for a new one with "Добавить" (Enter
// in the field adds too), "Разрешить", "Запретить", "Забыть" for the row chosen, "Обновить".
class TWin32SitesDialog : public TSitesView {
public:
    explicit TWin32SitesDialog(TSitesDialog& dialog);

    // Shows the dialog over the owner until the operator closes it.
    void Run(HWND owner);

    void ShowSites(const std::vector<TSiteRow>& rows) override;
    void ShowSitesMessage(const std::string& text, bool error) override;
    void ClearTypedOrigin() override;

private:
    TSitesDialog& Dialog;
    TWin32TableDialog Table;
};

// The ports dialog on Windows: the list of ports and "Обновить". Windows keeps an adapter's COM
// number itself, so there is nothing to keep here.
class TWin32PortsDialog : public TPortsView {
public:
    explicit TWin32PortsDialog(TPortsDialog& dialog);

    void Run(HWND owner);

    void ShowPorts(const std::vector<TPortRow>& rows) override;
    void ShowPortsMessage(const std::string& text, bool error) override;

private:
    TPortsDialog& Dialog;
    TWin32TableDialog Table;
};
