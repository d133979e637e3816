// window-preview: the Win32 main window showing lines of every kind and the status panels, and
// with --ask ORIGIN the question bar, for pictures of the window's look. Not a product: a small
// stand-in behaviour answers the menus. Prints "shown" once the window is drawn, and closes when
// its standard input ends or from its close box.
//
//   window-preview.exe [--ask ORIGIN] [--place LEFT TOP WIDTH HEIGHT]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "LocalTime.h"
#include "LogLine.h"
#include "LogModel.h"
#include "LogSave.h"
#include "Win32MainWindow.h"
#include "Win32MessageLoop.h"
#include "Win32Tray.h"
#include "WindowTexts.h"

namespace {

class TPreview : public TWindowEvents, public TTrayEvents {
public:
    TWindowView* View = nullptr;
    TLogModel Log;
    TWindowPlacement Placement{0, 0, 900, 540};
    std::string Origin;
    TViewChecks Checks{{false, true}, {true, true}, {true, true}};
    std::string LastPath;
    bool StartAtLogin = false;

    void Write(TLogKind kind, const std::string& text) {
        Log.Append(kind, FormatLogLine(kind, LocalTimeNow(), text));
        View->ShowLogLines(Log);
    }

    void FormShow() override {
        View->PlaceWindow(Placement);
        View->ShowViewChecks(Checks);
        Write(TLogKind::Date, {});
        Write(TLogKind::Info, std::string(LogText::kCaption));
        Write(TLogKind::Info, ViewOptionLine(LogText::kViewErrorLine, false));
        Write(TLogKind::Info, ViewOptionLine(LogText::kViewSetLine, true));
        Write(TLogKind::Info, ViewOptionLine(LogText::kViewHexLine, true));
        Write(TLogKind::Info, std::string(LogText::kStart));
        Write(TLogKind::Info, std::string(LogText::kSeparator));
        Write(TLogKind::Info,
              "Сервер слушает порт 19284 только на 127.0.0.1 и ::1: запросы лишь с этого "
              "компьютера");
        Write(TLogKind::Info,
              "Адрес: 1, Скорость: 19200 бод, Порт: COM1, Частота: 1000 мс, Таймаут: 500 мс, "
              "ECHO: 0, DTR: 0, RTS: 0, Инвертирование: 0");
        Write(TLogKind::Send, "READ_HOLDING_REGISTERS 010300000004443F");
        Write(TLogKind::Receive, "READ_HOLDING_REGISTERS 0103080000000100020003B5C4");
        Write(TLogKind::Info, std::string(LogText::kSeparator));
        Write(TLogKind::Send, "READ_SECTION_DEVICE 01450000");
        Write(TLogKind::Receive, "READ_SECTION_DEVICE 0145200110");
        Write(TLogKind::Info, std::string(LogText::kSeparator));
        Write(TLogKind::Send, "READ_HOLDING_REGISTERS 0103FF0000019C2E");
        Write(TLogKind::Receive, "READ_HOLDING_REGISTERS 018302C0F1");
        Write(TLogKind::Error, "Error[2] - ILLEGAL DATA ADDRESS");
        Write(TLogKind::Error, "Предыдущая команда не обработана ...");
        Write(TLogKind::Notice,
              "Нужно в браузере на странице Демо в параметрах связи увеличить время частоты "
              "опроса!");
        View->ShowStatusPanels({"COM1", "ADDR 1", "19200 бод", "Тестовое устройство"});
        View->ShowOriginQuestion(Origin);
    }
    void CloseRequested(TCloseCause) override { View->CloseWindow(); }
    void M1_SaveClick() override {
        const std::optional<std::string> path = View->AskSavePath({}, LastPath);
        if (path) {
            LastPath = *path;
            if (!SaveLogFile(Log, *path)) {
                View->ShowErrorReport("Cannot create file " + *path, TReportKind::Waiting);
            }
        }
    }
    void M1_StartAtLoginClick() override {
        StartAtLogin = !StartAtLogin;
        View->ShowStartAtLoginCheck(StartAtLogin);
    }
    void M1_ExitClick() override { CloseRequested(TCloseCause::Operator); }
    void WindowMinimized() override {}

    void TrayAppeared() override {}
    void TrayGone() override {}
    void TrayClicked() override {}
    void TrayShowWindowClick() override {}
    void TraySitesClick() override {}
    void TrayStartAtLoginClick() override { M1_StartAtLoginClick(); }
    void TrayExitClick() override { M1_ExitClick(); }
    void NotificationClicked() override {}
    void M2_ErrorClick() override {
        Checks.ViewError.Checked = !Checks.ViewError.Checked;
        Checks.ViewSet.Enabled = Checks.ViewHex.Enabled = !Checks.ViewError.Checked;
        View->ShowViewChecks(Checks);
    }
    void M2_SetClick() override { Toggle(Checks.ViewSet); }
    void M2_HexClick() override { Toggle(Checks.ViewHex); }
    void M_HelpClick() override {
        View->ShowAboutBox(std::string(WindowText::kAboutCaption),
                           std::string(WindowText::kAboutText));
    }
    void M3_SitesClick() override {}
    void M3_PortsClick() override {}
    void OriginAnswered(const std::string& origin, bool allowed) override {
        View->ShowOriginQuestion({});
        Write(TLogKind::Info,
              "Страница " + origin + (allowed ? " разрешена" : " запрещена") + " оператором");
    }

private:
    void Toggle(TMenuCheck& check) {
        if (check.Enabled) {
            check.Checked = !check.Checked;
            View->ShowViewChecks(Checks);
        }
    }
};

}  // namespace

int main(int argc, char* argv[]) {
    TPreview preview;
    bool tray = false;
    for (int index = 1; index < argc; ++index) {
        const std::string option = argv[index];
        if (option == "--ask" && index + 1 < argc) {
            preview.Origin = argv[++index];
        } else if (option == "--tray") {
            tray = true;
        } else if (option == "--place" && index + 4 < argc) {
            preview.Placement = {std::atoi(argv[index + 1]), std::atoi(argv[index + 2]),
                                 std::atoi(argv[index + 3]), std::atoi(argv[index + 4])};
            index += 4;
        } else {
            std::fprintf(stderr,
                         "usage: window-preview [--ask ORIGIN] [--place LEFT TOP WIDTH HEIGHT] "
                         "[--tray]\n");
            return 2;
        }
    }
    TWin32MainWindow window(preview);
    preview.View = &window;
    window.Show();
    // The icon as a page waits for consent, with the notification about it.
    std::unique_ptr<TWin32Tray> icon;
    if (tray) {
        icon = std::make_unique<TWin32Tray>(preview);
        icon->ShowTrayIcon(preview.Origin.empty() ? TTrayPicture::Idle : TTrayPicture::Asking,
                           "Modbus мост, порт 19284\nЗапросов ещё не было");
        if (!preview.Origin.empty()) {
            icon->ShowNotification(std::string(WindowText::kTrayName),
                                   OriginNotificationText(preview.Origin));
        }
    }
    // Drawn before "shown" is said, so that a picture taken then shows everything.
    RedrawWindow(window.Handle(), nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    GdiFlush();
    std::puts("shown");
    std::fflush(stdout);
    const HWND handle = window.Handle();
    std::thread([handle] {
        while (std::getchar() != EOF) {
        }
        PostMessageW(handle, WM_CLOSE, 0, 0);
    }).detach();
    return RunMessageLoop([&window](const MSG& message) { return window.TakeKey(message); });
}
