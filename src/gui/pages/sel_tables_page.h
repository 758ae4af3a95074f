// The table selection page (127): the DBF folder's tables move between
// Available (1317) and Selected (1318) with 1101 "A&dd >", 1102 "Add a&ll >",
// 1111 "< &Remove" and 1110 "< Re&move all" (re-order buttons 1117 and 1118
// only with `b_reorder`). Query entries (a converter pair with a text)
// are shown in Selected; a double click, Enter or F2 there opens the query
// dialog for them and the table editor for a table (Enter never presses
// Next from a list's item). A double click or Enter in Available adds.
// on_add_query (button 1114, "&Add Query", kept hidden in this program)
// adds a new query entry to Selected.
// Next hands the selected tables to the converter.
//
// The page keeps both lists itself and shows them through the view; the
// rows a user selected in a list come from `rows_view`.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "gui/dialogs/set_query_dlg.h"
#include "gui/frame/wizard_page.h"

// The multiple selection of a list control.
class rows_view {
public:
    virtual ~rows_view() = default;
    virtual std::vector<int> selected_rows(int id) const = 0;
    // Selects exactly these rows and makes `current` the current row (-1: none).
    virtual void select_rows(int id, const std::vector<int>& rows, int current) = 0;
};

class sel_tables_page : public wizard_page {
public:
    static constexpr int dialog = 127;
    static constexpr int help_topic = 1015;
    // Controls.
    static constexpr int intro_id = 1337;
    static constexpr int available_label_id = 1334;
    static constexpr int selected_label_id = 1312;
    static constexpr int available_list = 1317;
    static constexpr int selected_list = 1318;
    static constexpr int add_id = 1101;
    static constexpr int add_all_id = 1102;
    static constexpr int remove_id = 1111;
    static constexpr int remove_all_id = 1110;
    static constexpr int add_query_id = 1114;  // hidden in this program
    static constexpr int move_up_id = 1117;    // only with b_reorder
    static constexpr int move_down_id = 1118;  // only with b_reorder

    explicit sel_tables_page(bool b_reorder);

    int page_init() override;
    int on_next() override;
    void on_command(int id, command_event event) override;

    void on_add();
    void on_add_all();
    void on_delete();
    void on_del_all();
    void on_move_up();
    void on_move_down();
    void on_edit_query();
    // Asks for a new query entry until its name is held by neither list
    // ("Duplicate table name. Try again.") or the dialog is cancelled; the
    // entry goes to the end of Selected and to the converter's pairs.
    void on_add_query();

    bool is_query(const std::wstring& name) const;
    const std::vector<std::wstring>& available() const { return available_; }
    const std::vector<std::wstring>& selected() const { return selected_; }

    void set_rows_view(std::unique_ptr<rows_view> rows) { rows_ = std::move(rows); }

protected:
    QWidget* create_widget() override;
    // Opens the table editor for a table of the Selected list.
    virtual void edit_table(const std::wstring& name);
    // The query dialog: true on OK with the new name and text.
    virtual bool edit_query(std::wstring& name, std::wstring& query, set_query_dlg::purpose what);

private:
    rows_view& rows();
    void do_page_init(const std::vector<std::wstring>& names);
    void show_lists(int available_current, int selected_current);
    void move_to_selected(size_t index);
    void move_to_available(size_t index);
    void add_pair(const std::wstring& name, const std::wstring& query);
    void remove_pair(const std::wstring& name);
    bool name_taken(const std::wstring& name, const std::wstring& except) const;
    static int find_row(const std::vector<std::wstring>& list, const std::wstring& name);

    bool b_reorder_;
    std::vector<std::wstring> names_;  // the folder's tables
    std::vector<std::wstring> available_;
    std::vector<std::wstring> selected_;
    std::vector<std::pair<std::wstring, std::wstring>> queries_;
    std::unique_ptr<rows_view> rows_;
};
