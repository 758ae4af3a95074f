#include "gui/pages/sel_tables_page.h"

#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

#include "app/pellix_converter.h"
#include "gui/dialogs/set_query_dlg.h"
#include "gui/dialogs/types_map_dlg.h"
#include "gui/frame/gui_call.h"
#include "gui/frame/page_widgets.h"
#include "gui/frame/wizard_shell.h"
#include "tk/tk_logger.h"
#include "tk/tk_text.h"
#include "udb/udb_names.h"

namespace {

class qt_rows_view : public rows_view {
public:
    explicit qt_rows_view(QWidget* root) : root_(root) {}
    std::vector<int> selected_rows(int id) const override {
        std::vector<int> rows;
        if (QListWidget* l = list(id))
            for (QListWidgetItem* item : l->selectedItems()) rows.push_back(l->row(item));
        std::sort(rows.begin(), rows.end());
        return rows;
    }
    void select_rows(int id, const std::vector<int>& rows, int current) override {
        QListWidget* l = list(id);
        if (!l) return;
        if (current >= 0) l->setCurrentRow(current, QItemSelectionModel::NoUpdate);
        l->clearSelection();
        for (int r : rows)
            if (QListWidgetItem* item = l->item(r)) item->setSelected(true);
    }

private:
    QListWidget* list(int id) const { return root_->findChild<QListWidget*>(QStringLiteral("ctl_%1").arg(id)); }
    QWidget* root_;
};

}  // namespace

sel_tables_page::sel_tables_page(bool b_reorder)
    : wizard_page(dialog, wiz_back | wiz_next, page_has_help | page_header, L"Step 4 of 5", L"Select tables to convert",
                  help_topic),
      b_reorder_(b_reorder) {}

QWidget* sel_tables_page::create_widget() {
    auto* w = new QWidget();
    auto* layout = new QVBoxLayout(w);
    QLabel* intro = page_widgets::label(w, intro_id, QString());
    intro->setWordWrap(true);
    layout->addWidget(intro);
    auto* grid = new QGridLayout();
    QListWidget* available = page_widgets::list(w, available_list);
    QListWidget* selected = page_widgets::list(w, selected_list);
    QLabel* l1 = page_widgets::label(w, available_label_id, QString());
    QLabel* l2 = page_widgets::label(w, selected_label_id, QString());
    l1->setBuddy(available);
    l2->setBuddy(selected);
    grid->addWidget(l1, 0, 0);
    grid->addWidget(l2, 0, 2);
    grid->addWidget(available, 1, 0);
    auto* buttons = new QVBoxLayout();
    buttons->addStretch();
    buttons->addWidget(page_widgets::button(w, add_id, QStringLiteral("A&dd >")));
    buttons->addWidget(page_widgets::button(w, add_all_id, QStringLiteral("Add a&ll >")));
    buttons->addWidget(page_widgets::button(w, remove_id, QStringLiteral("< &Remove")));
    buttons->addWidget(page_widgets::button(w, remove_all_id, QStringLiteral("< Re&move all")));
    buttons->addWidget(page_widgets::button(w, add_query_id, QStringLiteral("&Add Query")));
    buttons->addWidget(page_widgets::button(w, move_up_id, QStringLiteral("^")));
    buttons->addWidget(page_widgets::button(w, move_down_id, QStringLiteral("v")));
    buttons->addStretch();
    grid->addLayout(buttons, 1, 1);
    grid->addWidget(selected, 1, 2);
    layout->addLayout(grid);
    return w;
}

rows_view& sel_tables_page::rows() {
    if (!rows_) rows_ = std::make_unique<qt_rows_view>(widget());
    return *rows_;
}

int sel_tables_page::find_row(const std::vector<std::wstring>& list, const std::wstring& name) {
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i] == name) return static_cast<int>(i);
    for (size_t i = 0; i < list.size(); ++i)
        if (udb_same_name(list[i], name)) return static_cast<int>(i);
    return -1;
}

bool sel_tables_page::is_query(const std::wstring& name) const {
    for (const auto& q : queries_)
        if (q.first == name) return true;
    return false;
}

void sel_tables_page::show_lists(int available_current, int selected_current) {
    view().clear_items(available_list);
    for (const auto& n : available_) view().add_item(available_list, n, 0);
    view().clear_items(selected_list);
    for (const auto& n : selected_) view().add_item(selected_list, n, 0);
    if (available_current >= 0) rows().select_rows(available_list, {available_current}, available_current);
    if (selected_current >= 0) rows().select_rows(selected_list, {selected_current}, selected_current);
}

void sel_tables_page::do_page_init(const std::vector<std::wstring>& names) {
    tk_log(1, "sel_tables_page::do_page_init");
    available_ = names;
    selected_.clear();
    if (b_reorder_) {
        tk_log(1, "Activating re-order buttons");
    }
    show_ctrl(move_up_id, b_reorder_);
    show_ctrl(move_down_id, b_reorder_);
}

int sel_tables_page::page_init() {
    tk_log(1, "pqz_sel_tables_page::page_init");
    pellix_converter* conv = pellix_converter::ptr();
    view().set_text(intro_id,
                    L"Select DBF tables to convert into MySQL format. Double click on an item in\n"
                    L"'Selected tables' list to edit it.");
    view().set_text(available_label_id, L"&Available tables:");
    view().set_text(selected_label_id, L"&Selected tables:");
    names_ = conv->get_all_tables();
    do_page_init(names_);
    show_ctrl(add_query_id, false);
    queries_.clear();
    for (const auto& p : conv->selected_pairs)
        if (!p.second.empty()) queries_.push_back(p);
    // A profile's entries (and the tables chosen before) start in Selected,
    // found as the run finds them: exactly, else ignoring case.
    auto bring = [this](const std::wstring& name) {
        tk_wlog(1, L"Processing '%ls'", name.c_str());
        const int row = find_row(available_, name);
        if (row >= 0) {
            selected_.push_back(available_[row]);
            available_.erase(available_.begin() + row);
        }
        return row >= 0;
    };
    for (const auto& p : conv->selected_pairs) {
        if (find_row(selected_, p.first) >= 0) continue;
        if (!bring(p.first) && !p.second.empty()) selected_.push_back(p.first);  // a query of its own
    }
    for (const auto& t : conv->selected_tables)
        if (find_row(selected_, t) < 0) bring(t);
    show_lists(available_.empty() ? -1 : 0, -1);
    if (!available_.empty()) tk_log(1, "Highlight 1st row");
    return 1;
}

void sel_tables_page::add_pair(const std::wstring& name, const std::wstring& query) {
    tk_wlog(1, L"Adding pair: '%ls','%ls'", name.c_str(), query.c_str());
    pellix_converter::ptr()->selected_pairs.emplace_back(name, query);
}

void sel_tables_page::remove_pair(const std::wstring& name) {
    auto& pairs = pellix_converter::ptr()->selected_pairs;
    pairs.erase(
        std::remove_if(pairs.begin(), pairs.end(), [&](const auto& p) { return p.first == name && !p.second.empty(); }),
        pairs.end());
}

void sel_tables_page::move_to_selected(size_t index) {
    const std::wstring name = available_[index];
    selected_.push_back(name);
    available_.erase(available_.begin() + static_cast<long>(index));
    for (const auto& q : queries_)
        if (q.first == name) add_pair(q.first, q.second);
}

void sel_tables_page::move_to_available(size_t index) {
    const std::wstring name = selected_[index];
    selected_.erase(selected_.begin() + static_cast<long>(index));
    if (is_query(name)) remove_pair(name);
    // A query of its own (no table of the folder) has no row to go back to.
    if (find_row(names_, name) >= 0 || is_query(name)) available_.push_back(name);
}

void sel_tables_page::on_add() {
    tk_log(1, "sel_tables_page::on_add");
    const std::vector<int> rows_chosen = rows().selected_rows(available_list);
    if (rows_chosen.empty()) return;
    int moved = 0;
    for (int r : rows_chosen) {
        tk_log(1, "Adding item #%d", r);
        move_to_selected(static_cast<size_t>(r - moved));
        ++moved;
    }
    if (!available_.empty()) {
        const int next = std::min<int>(rows_chosen.back() - moved + 1, static_cast<int>(available_.size()) - 1);
        show_lists(std::max(next, 0), -1);
    } else {
        show_lists(-1, 0);
        view().set_focus(selected_list);
    }
}

void sel_tables_page::on_delete() {
    const std::vector<int> rows_chosen = rows().selected_rows(selected_list);
    if (rows_chosen.empty()) return;
    int moved = 0;
    for (int r : rows_chosen) {
        tk_log(1, "Deleting item #%d", r);
        move_to_available(static_cast<size_t>(r - moved));
        ++moved;
    }
    if (!selected_.empty()) {
        const int next = std::min<int>(rows_chosen.back() - moved + 1, static_cast<int>(selected_.size()) - 1);
        show_lists(-1, std::max(next, 0));
    } else {
        show_lists(available_.empty() ? -1 : 0, -1);
        view().set_focus(available_list);
    }
}

void sel_tables_page::on_add_all() {
    while (!available_.empty()) move_to_selected(0);
    show_lists(-1, selected_.empty() ? -1 : 0);
    view().set_focus(selected_list);
}

void sel_tables_page::on_del_all() {
    while (!selected_.empty()) move_to_available(0);
    show_lists(available_.empty() ? -1 : 0, -1);
    view().set_focus(available_list);
}

void sel_tables_page::on_move_up() {
    const int row = view().current_index(selected_list);
    if (row <= 0 || row >= static_cast<int>(selected_.size())) return;
    std::swap(selected_[row], selected_[row - 1]);
    show_lists(-1, row - 1);
}

void sel_tables_page::on_move_down() {
    const int row = view().current_index(selected_list);
    if (row < 0 || row + 1 >= static_cast<int>(selected_.size())) return;
    std::swap(selected_[row], selected_[row + 1]);
    show_lists(-1, row + 1);
}

bool sel_tables_page::name_taken(const std::wstring& name, const std::wstring& except) const {
    for (const auto* list : {&available_, &selected_})
        for (const auto& n : *list)
            if (n != except && udb_same_name(n, name)) return true;
    return false;
}

void sel_tables_page::on_edit_query() {
    tk_log(1, "sel_tables_page_ex::on_edit_query");
    const int row = view().current_index(selected_list);
    if (row < 0 || row >= static_cast<int>(selected_.size())) {
        tk_log(1, "Nothing is selected!");
        return;
    }
    const std::wstring old_name = selected_[row];
    if (!is_query(old_name)) {
        tk_log(1, "It's not a query, show type mapping");
        edit_table(old_name);
        return;
    }
    std::wstring query;
    for (const auto& q : queries_)
        if (q.first == old_name) query = q.second;
    std::wstring name = old_name;
    for (;;) {
        if (!edit_query(name, query, set_query_dlg::purpose::edit)) return;
        if (!name_taken(name, old_name)) break;
        wizard_shell::message(L"Duplicate table name. Try again.");
    }
    for (auto& q : queries_)
        if (q.first == old_name) q = {name, query};
    for (auto& p : pellix_converter::ptr()->selected_pairs)
        if (p.first == old_name && !p.second.empty()) p = {name, query};
    selected_[row] = name;
    show_lists(-1, row);
}

void sel_tables_page::on_add_query() {
    tk_log(1, "sel_tables_page::on_add_query");
    std::wstring name;
    std::wstring query;
    for (;;) {
        if (!edit_query(name, query, set_query_dlg::purpose::add)) return;
        if (!name_taken(name, std::wstring())) break;
        wizard_shell::message(L"Duplicate table name. Try again.");
    }
    selected_.push_back(name);
    queries_.emplace_back(name, query);
    add_pair(name, query);
    show_lists(-1, static_cast<int>(selected_.size()) - 1);
}

int sel_tables_page::on_next() {
    pellix_converter* conv = pellix_converter::ptr();
    if (!available_.empty() && selected_.empty() &&
        !wizard_shell::question(L"There are no tables selected. Continue anyway?", true))
        return -1;
    std::vector<std::wstring> tables;
    for (const auto& n : selected_)
        if (!is_query(n)) tables.push_back(n);
    conv->selected_tables = tables;
    // A profile's table that was moved back to Available is not converted.
    auto& pairs = conv->selected_pairs;
    pairs.erase(std::remove_if(pairs.begin(), pairs.end(),
                               [&](const auto& p) {
                                   return p.second.empty() && find_row(names_, p.first) >= 0 &&
                                          find_row(selected_, p.first) < 0;
                               }),
                pairs.end());
    return 0;
}

void sel_tables_page::on_command(int id, command_event event) {
    if (event == command_event::double_click || event == command_event::edit) {
        // A double click or Enter on Available adds; either, or F2, on
        // Selected opens the entry's editor.
        if (id == available_list && event == command_event::double_click)
            on_add();
        else if (id == selected_list)
            on_edit_query();
        return;
    }
    if (event != command_event::click) return;
    switch (id) {
    case add_id:
        on_add();
        break;
    case add_all_id:
        on_add_all();
        break;
    case remove_id:
        on_delete();
        break;
    case remove_all_id:
        on_del_all();
        break;
    case add_query_id:
        on_add_query();
        break;
    case move_up_id:
        if (b_reorder_) on_move_up();
        break;
    case move_down_id:
        if (b_reorder_) on_move_down();
        break;
    default:
        break;
    }
}

void sel_tables_page::edit_table(const std::wstring& name) { types_map_dlg::edit_table(name); }

bool sel_tables_page::edit_query(std::wstring& name, std::wstring& query, set_query_dlg::purpose what) {
    set_query_dlg dlg(wizard_shell::owner_window(), name, query, what);
    if (gui_call::exec_modal(dlg) != QDialog::Accepted) return false;
    name = dlg.get_name();
    query = dlg.get_query();
    return true;
}
