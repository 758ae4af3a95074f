// The edit-table dialog (135, "Edit Table"): the table's new name (1003),
// its fields (1316, a tick per row: kept), and for the selected row its
// name (1004), type (1302, from "sql.map"), default (1005), length (1006),
// precision (1007) and scale (1008), the last three shown as "sql.typ"
// says. OK records the rows in the converter's table mutator, unless a
// row's type is refused or two kept fields have one name; Cancel records
// nothing.
#pragma once

#include <QDialog>

#include "gui/dialogs/types_map_model.h"

class QComboBox;
class QLineEdit;
class QTreeWidget;
class QTreeWidgetItem;

class types_map_dlg : public QDialog {
public:
    static constexpr int dialog = 135;
    static constexpr int help_topic = 1024;
    // Controls.
    static constexpr int table_name_id = 1003;
    static constexpr int fields_id = 1316;
    static constexpr int field_name_id = 1004;
    static constexpr int type_id = 1302;
    static constexpr int default_id = 1005;
    static constexpr int length_id = 1006;
    static constexpr int precision_id = 1007;
    static constexpr int scale_id = 1008;
    static constexpr int length_label_id = 1340;
    static constexpr int precision_label_id = 1341;
    static constexpr int scale_label_id = 1342;

    types_map_dlg(QWidget* owner, types_map_model model);

    const types_map_model& model() const { return model_; }

    // Opens the editor for a selected table: reads its schema, runs the
    // dialog and records on OK. A table the folder lacks, or a missing type
    // file, shows an error box and opens or records nothing. True when OK
    // recorded the rows.
    static bool edit_table(const std::wstring& table);

    void on_ok();

private:
    // Reads the edits back into the current row. The refusal's text when
    // its name is empty or its type is refused (check_row); the row then
    // keeps its values.
    std::wstring read_row();
    // Selects a row, or leaves the selection on the current one with the
    // refusal's message when that row's edits are refused.
    void select_row(int index);
    void show_row(int index);
    void set_available_conversions(int index);
    void show_ctrl();
    void refresh_item(int index);

    types_map_model model_;
    QTreeWidget* list_;
    QLineEdit* table_name_;
    QLineEdit* name_;
    QComboBox* type_;
    QLineEdit* default_;
    QLineEdit* length_;
    QLineEdit* precision_;
    QLineEdit* scale_;
    int current_ = -1;
    bool moving_ = false;
};
