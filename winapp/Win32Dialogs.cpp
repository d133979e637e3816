#include "Win32Dialogs.h"

#include <commdlg.h>

#include <cstdio>

#include "Win32Text.h"
#include "WindowTexts.h"

namespace {

// Room for the longest path Windows takes with the \\?\ prefix.
constexpr size_t kPathCapacity = 32768;

// "caption\0pattern\0caption\0pattern\0\0"
std::wstring SaveFilter() {
    std::wstring filter;
    for (const std::string_view part :
         {WindowText::kSaveRtfCaption, WindowText::kSaveRtfPattern, WindowText::kSaveTextCaption,
          WindowText::kSaveTextPattern}) {
        filter += WideFromUtf8(part);
        filter.push_back(L'\0');
    }
    filter.push_back(L'\0');
    return filter;
}

bool RunSaveDialog(HWND owner, const std::wstring& folder, const std::wstring& offered,
                   std::wstring& chosen) {
    const std::wstring filter = SaveFilter();
    const std::wstring extension = WideFromUtf8(WindowText::kSaveDefaultExtension);
    std::wstring file(kPathCapacity, L'\0');
    if (offered.size() < kPathCapacity) {
        file.replace(0, offered.size(), offered);
    }
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filter.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file.data();
    dialog.nMaxFile = static_cast<DWORD>(file.size());
    dialog.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
    dialog.lpstrDefExt = extension.c_str();
    dialog.Flags = OFN_EXPLORER | OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_ENABLESIZING |
                   OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST;
    if (!GetSaveFileNameW(&dialog)) {
        return false;
    }
    chosen.assign(file.c_str());
    return true;
}

}  // namespace

std::optional<std::string> AskSavePathDialog(HWND owner, const std::string& folder,
                                             const std::string& lastPath) {
    const std::wstring start = WideFromUtf8(folder);
    std::wstring chosen;
    if (RunSaveDialog(owner, start, WideFromUtf8(lastPath), chosen)) {
        return Utf8FromWide(chosen);
    }
    // A last path the dialog cannot take (its folder went) is not offered again; a cancel is
    // the operator's answer.
    if (CommDlgExtendedError() != 0 && !lastPath.empty() &&
        RunSaveDialog(owner, start, {}, chosen)) {
        return Utf8FromWide(chosen);
    }
    return std::nullopt;
}

void ShowMessageBoxWaiting(HWND owner, std::string_view caption, std::string_view text, UINT icon) {
    const UINT modality = owner == nullptr ? MB_TASKMODAL : MB_APPLMODAL;
    MessageBoxW(owner, WideFromUtf8(text).c_str(), WideFromUtf8(caption).c_str(),
                MB_OK | icon | modality);
}

void PrintReport(std::string_view text) {
    const std::string line =
        std::string(WindowText::kErrorReportCaption) + ": " + std::string(text) + "\n";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    OutputDebugStringW(WideFromUtf8(line).c_str());
}
