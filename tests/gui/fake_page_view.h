// A page_view and rows_view that only remember: page logic runs against it
// without widgets, and tests read back what the page showed.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "gui/frame/page_view.h"
#include "gui/pages/sel_tables_page.h"

struct fake_control {
    std::wstring text;
    bool checked = false;
    bool enabled = true;
    bool visible = true;
    std::vector<std::pair<std::wstring, int64_t>> items;
    int current = -1;
    std::vector<int> selected;
    int pos = 0;
};

class fake_page_view : public page_view {
public:
    std::map<int, fake_control>& controls;
    int focus = -1;
    explicit fake_page_view(std::map<int, fake_control>& c) : controls(c) {}

    bool has_control(int id) const override { return controls.count(id) != 0; }
    void set_text(int id, const std::wstring& text) override { controls[id].text = text; }
    std::wstring get_text(int id) const override { return get(id).text; }
    void set_check(int id, bool checked) override { controls[id].checked = checked; }
    bool get_check(int id) const override { return get(id).checked; }
    void set_enabled(int id, bool on) override { controls[id].enabled = on; }
    bool is_enabled(int id) const override { return get(id).enabled; }
    void set_visible(int id, bool on) override { controls[id].visible = on; }
    bool is_visible(int id) const override { return get(id).visible; }
    void set_focus(int id) override { focus = id; }
    void set_read_only(int, bool) override {}
    void set_bold(int, bool) override {}
    void clear_items(int id) override {
        controls[id].items.clear();
        controls[id].current = -1;
        controls[id].selected.clear();
    }
    int add_item(int id, const std::wstring& text, int64_t data) override {
        controls[id].items.emplace_back(text, data);
        return static_cast<int>(controls[id].items.size()) - 1;
    }
    int item_count(int id) const override { return static_cast<int>(get(id).items.size()); }
    std::wstring item_text(int id, int index) const override { return get(id).items.at(index).first; }
    int64_t item_data(int id, int index) const override { return get(id).items.at(index).second; }
    int current_index(int id) const override { return get(id).current; }
    void set_current_index(int id, int index) override { controls[id].current = index; }
    void set_range(int, int, int) override {}
    void set_pos(int id, int pos) override { controls[id].pos = pos; }
    int get_pos(int id) const override { return get(id).pos; }
    void set_sink(command_sink) override {}

    std::vector<std::wstring> texts(int id) const {
        std::vector<std::wstring> out;
        for (const auto& i : get(id).items) out.push_back(i.first);
        return out;
    }

private:
    const fake_control& get(int id) const {
        static const fake_control none;
        auto it = controls.find(id);
        return it == controls.end() ? none : it->second;
    }
};

class fake_rows_view : public rows_view {
public:
    std::map<int, fake_control>& controls;
    explicit fake_rows_view(std::map<int, fake_control>& c) : controls(c) {}
    std::vector<int> selected_rows(int id) const override {
        auto it = controls.find(id);
        return it == controls.end() ? std::vector<int>() : it->second.selected;
    }
    void select_rows(int id, const std::vector<int>& rows, int current) override {
        controls[id].selected = rows;
        controls[id].current = current;
    }
};
