#include "Win32SitesDialog.h"

#include "DialogTexts.h"

namespace {

enum TSitesButton : size_t { kAllowButton, kRefuseButton, kForgetButton, kRefreshButton };

// The dialog's view goes when the dialog closes, or when it could not be shown.
template <typename TDialog>
struct TDetach {
    TDialog& Dialog;
    ~TDetach() { Dialog.Attach(nullptr); }
};

}  // namespace

TWin32SitesDialog::TWin32SitesDialog(TSitesDialog& dialog)
    : Dialog(dialog),
      Table(
          {DialogText::kSitesCaption,
           std::string(DialogText::kSitesNote),
           {DialogText::kSiteColumns.begin(), DialogText::kSiteColumns.end()},
           DialogText::kTypedOriginLabel,
           DialogText::kTypedOriginHint,
           DialogText::kAdd,
           {DialogText::kAllow, DialogText::kRefuse, DialogText::kForget, DialogText::kRefresh}}) {
    Table.Opened = [this] { Dialog.Attach(this); };
    Table.FieldButtonPressed = [this] { Dialog.Add(Table.FieldText()); };
    Table.ButtonPressed = [this](size_t button) {
        switch (button) {
            case kAllowButton:
                Dialog.Allow(Table.ChosenKey());
                break;
            case kRefuseButton:
                Dialog.Refuse(Table.ChosenKey());
                break;
            case kForgetButton:
                Dialog.Forget(Table.ChosenKey());
                break;
            case kRefreshButton:
                Dialog.Refresh();
                break;
            default:
                break;
        }
    };
}

void TWin32SitesDialog::Run(HWND owner) {
    const TDetach<TSitesDialog> detach{Dialog};
    Table.Run(owner);
}

void TWin32SitesDialog::ShowSites(const std::vector<TSiteRow>& rows) {
    std::vector<std::vector<std::string>> cells;
    std::vector<std::string> keys;
    for (const TSiteRow& row : rows) {
        cells.push_back({row.Origin, row.State, row.LastRequest, row.Requests});
        keys.push_back(row.Origin);
    }
    Table.SetRows(cells, keys);
}

void TWin32SitesDialog::ShowSitesMessage(const std::string& text, bool error) {
    Table.SetMessage(text, error);
}

void TWin32SitesDialog::ClearTypedOrigin() {
    Table.SetFieldText({});
}

TWin32PortsDialog::TWin32PortsDialog(TPortsDialog& dialog)
    : Dialog(dialog),
      Table({DialogText::kPortsCaption,
             std::string(DialogText::kPortsNote),
             {PortColumnTitles().begin(), PortColumnTitles().end()},
             {},
             {},
             {},
             {DialogText::kRefresh}}) {
    Table.Opened = [this] { Dialog.Attach(this); };
    Table.ButtonPressed = [this](size_t) { Dialog.Refresh(); };
}

void TWin32PortsDialog::Run(HWND owner) {
    const TDetach<TPortsDialog> detach{Dialog};
    Table.Run(owner);
}

void TWin32PortsDialog::ShowPorts(const std::vector<TPortRow>& rows) {
    std::vector<std::vector<std::string>> cells;
    std::vector<std::string> keys;
    for (const TPortRow& row : rows) {
        const auto texts = PortRowCells(row);
        cells.emplace_back(texts.begin(), texts.end());
        keys.push_back(row.Port ? row.Port->Path : std::string());
    }
    Table.SetRows(cells, keys);
}

void TWin32PortsDialog::ShowPortsMessage(const std::string& text, bool error) {
    Table.SetMessage(text, error);
}
