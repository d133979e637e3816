// The window's side of its sites and ports dialogs: what they read and change in the window's
// server, link, settings file and question bar.
#include "AccessSettings.h"
#include "BridgeServer.h"
#include "BridgeStartup.h"
#include "IniFile.h"
#include "PortsDialog.h"
#include "Ravo32.h"
#include "SitesDialog.h"
#include "WindowBehaviour.h"

namespace {

constexpr char kPortsSection[] = "Ports";

std::string ComName(int number) {
    return "COM" + std::to_string(number);
}

}  // namespace

class TWindowDialogs final : public TSitesKeeper, public TPortsKeeper {
public:
    explicit TWindowDialogs(TWindowBehaviour& window) : Window(window) {}

    std::vector<TKnownOrigin> KnownOrigins() override {
        return Running() ? Window.Startup->Server()->KnownOrigins() : std::vector<TKnownOrigin>{};
    }

    TOriginMode OriginMode() override {
        return Running() ? ReadAccessSettings(Window.Startup->Settings()).Origins
                         : TOriginMode::List;
    }

    bool ChangeOrigin(const std::string& origin, std::optional<bool> allowed,
                      std::string& problem) override {
        if (!Running()) {
            problem = kClosing;
            return false;
        }
        if (allowed) {
            Window.Startup->Server()->DecideOrigin(origin, *allowed);
            WithdrawQuestion(origin);
            Window.LogInfo("Страница " + origin + (*allowed ? " разрешена" : " запрещена") +
                           " оператором");
            Window.Startup->Settings().SetString(kOriginsSection, origin, *allowed ? "1" : "0");
        } else {
            Window.Startup->Server()->ForgetOrigin(origin);
            Window.LogInfo("Страница " + origin + " забыта оператором");
            Window.Startup->Settings().RemoveKey(kOriginsSection, origin);
        }
        return Saved(problem);
    }

    std::vector<TPortRow> PortRows() override {
        return Running() ? ::PortRows(Window.ListPorts(), Window.Startup->Settings())
                         : std::vector<TPortRow>{};
    }

    std::string MappedPath(int number) override {
        return Running() ? Window.Startup->Settings().ReadString(kPortsSection, ComName(number), "")
                         : std::string();
    }

    bool MapPort(int number, const std::string& path, std::string& problem) override {
        if (!Running()) {
            problem = kClosing;
            return false;
        }
        Window.Startup->Link()->MapPort(static_cast<uint8_t>(number), path);
        Window.Startup->Settings().SetString(kPortsSection, ComName(number), path);
        // The port policy (UnmappedPorts=deny) takes the number as mapped from now on too.
        Window.Startup->Server()->ChangeAccess(ReadAccessSettings(Window.Startup->Settings()));
        Window.LogInfo("Порт " + ComName(number) + " закреплён оператором за " + path);
        return Saved(problem);
    }

private:
    static constexpr char kClosing[] = "окно закрывается";

    // The window may close while a dialog is open (the session ends): nothing is changed then.
    bool Running() const {
        return !Window.Closed_ && Window.Startup && Window.Startup->Server() != nullptr;
    }

    bool Saved(std::string& problem) {
        if (Window.Startup->Settings().Save()) {
            return true;
        }
        const std::string reason = Window.Startup->Settings().LastWriteError();
        Window.LogError("Unable to write to " + Window.Startup->Settings().Path() + " (" + reason +
                        ")");
        // The change stays in memory, and the close writes it with the others.
        problem = "файл настроек не записан (" + reason +
                  "); изменение действует, и окно запишет его при закрытии";
        return false;
    }

    // An answer given here answers the question about the origin too.
    void WithdrawQuestion(const std::string& origin) {
        const bool inView = Window.Questions.Current() == origin;
        Window.Questions.Withdraw(origin, Window.ClockMs());
        if (inView) {
            Window.View.ShowOriginQuestion(Window.Questions.Current());
            Window.TrayStatus.Asking(Window.Questions.Current());
            Window.ShowTray();
        }
    }

    TWindowBehaviour& Window;
};

void TWindowBehaviour::M3_SitesClick() {
    if (Closed_ || !Startup || Startup->Server() == nullptr) {
        return;
    }
    TWindowDialogs keeper(*this);
    TSitesDialog dialog(keeper);
    View.RunSitesDialog(dialog);
}

void TWindowBehaviour::M3_PortsClick() {
    if (Closed_ || !Startup || Startup->Server() == nullptr) {
        return;
    }
    TWindowDialogs keeper(*this);
    TPortsDialog dialog(keeper);
    View.RunPortsDialog(dialog);
}
