#include "PortsDialog.h"

#include <algorithm>

#include "Blanks.h"
#include "PortMap.h"

void TPortsDialog::Attach(TPortsView* view) {
    View = view;
    if (View != nullptr) {
        Refresh();
    }
}

void TPortsDialog::Refresh() {
    Rows_ = Keeper.PortRows();
    if (View != nullptr) {
        View->ShowPorts(Rows_);
    }
}

void TPortsDialog::Pin(const std::string& device, const std::string& typedNumber) {
    const auto row = std::find_if(Rows_.begin(), Rows_.end(), [&device](const TPortRow& each) {
        return each.Port && each.Port->Path == device;
    });
    if (row == Rows_.end()) {
        Show("Выберите порт в таблице", true);
        return;
    }
    const std::string stable = row->Port->StablePath;
    if (stable.empty()) {
        Show("У " + device +
                 " нет постоянного пути в /dev/serial/by-id: такой путь есть у адаптеров USB",
             true);
        return;
    }
    std::string name(TrimBlanks(typedNumber));
    if (!name.empty() && name.front() >= '0' && name.front() <= '9') {
        name = "COM" + name;
    }
    int number = 0;
    if (!ParsePortName(name, number)) {
        Show("Номер COM — число от 1 до 255", true);
        return;
    }
    const std::string com = "COM" + std::to_string(number);
    const std::string before = Keeper.MappedPath(number);
    if (before == stable) {
        Show(com + " уже закреплён за " + stable, false);
        return;
    }
    std::string problem;
    const bool done = Keeper.MapPort(number, stable, problem);
    Refresh();
    std::string text = com + " = " + stable;
    if (!before.empty()) {
        text += " (было " + before + ")";
    }
    if (done) {
        Show(text + ": записано в [Ports], действует со следующего запроса; адаптер сохранит " +
                 com + " в любом гнезде USB",
             false);
    } else {
        Show(text + ", но " + problem, true);
    }
}

void TPortsDialog::Show(const std::string& text, bool error) {
    if (View != nullptr) {
        View->ShowPortsMessage(text, error);
    }
}
