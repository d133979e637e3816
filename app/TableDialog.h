#pragma once

#include <QDialog>
#include <string>
#include <string_view>
#include <vector>

class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

// What the sites and ports dialogs share on Linux: a note, a table whose rows are chosen whole,
// a line where the operator types, a row of buttons and the line that tells what an action did.
// The rows have keys that keep the operator's choice while the table is filled again.
class TTableDialog : public QDialog {
public:
    TTableDialog(QWidget* parent, std::string_view caption, std::string_view note,
                 const std::vector<std::string_view>& columns);

    // The rows' cells and keys (one each); the row whose key was chosen stays chosen.
    void SetRows(const std::vector<std::vector<std::string>>& cells,
                 const std::vector<std::string>& keys);
    // The key of the row chosen; empty when none is.
    std::string ChosenKey() const;
    void SetMessage(const std::string& text, bool error);

    QLabel* Note = nullptr;
    QTableWidget* Table = nullptr;
    QLabel* FieldLabel = nullptr;
    QLineEdit* Field = nullptr;
    // Beside the field.
    QPushButton* FieldButton = nullptr;
    QLabel* Message = nullptr;

protected:
    // A button in the row below the table, on the left of "Закрыть".
    QPushButton* AddButton(std::string_view text);
    // The line above the buttons: a label, the field and its button.
    void AddField(std::string_view label, std::string_view hint, std::string_view button);

private:
    QHBoxLayout* FieldRow = nullptr;
    QHBoxLayout* Buttons = nullptr;
    std::vector<std::string> Keys;
};

// UTF-8 text for Qt's widgets.
QString QtText(std::string_view text);
