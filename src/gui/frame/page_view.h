// The controls of one page or dialog, addressed by their numeric id.
//
// Page logic talks to this interface only, so it runs against the Qt
// widgets (qt_page_view) or against a recording fake in tests. Texts are
// wide; item data is one 64-bit number per list or combo item.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// A list's double click also comes from Enter on its current item, and
// edit from F2 there: the keyboard's ways to open that item.
enum class command_event { click, double_click, edit, focus_in, selection_change };

class page_view {
public:
    virtual ~page_view() = default;

    virtual bool has_control(int id) const = 0;

    virtual void set_text(int id, const std::wstring& text) = 0;
    virtual std::wstring get_text(int id) const = 0;
    virtual void set_check(int id, bool checked) = 0;
    virtual bool get_check(int id) const = 0;
    virtual void set_enabled(int id, bool on) = 0;
    virtual bool is_enabled(int id) const = 0;
    virtual void set_visible(int id, bool on) = 0;
    virtual bool is_visible(int id) const = 0;
    virtual void set_focus(int id) = 0;
    virtual void set_read_only(int id, bool on) = 0;
    virtual void set_bold(int id, bool on) = 0;

    // Combo boxes and lists.
    virtual void clear_items(int id) = 0;
    virtual int add_item(int id, const std::wstring& text, int64_t data) = 0;  // the new index
    virtual int item_count(int id) const = 0;
    virtual std::wstring item_text(int id, int index) const = 0;
    virtual int64_t item_data(int id, int index) const = 0;
    virtual int current_index(int id) const = 0;  // -1 when none
    virtual void set_current_index(int id, int index) = 0;

    // Progress bars.
    virtual void set_range(int id, int low, int high) = 0;
    virtual void set_pos(int id, int pos) = 0;
    virtual int get_pos(int id) const = 0;

    // Where the controls' events go.
    using command_sink = std::function<void(int id, command_event event)>;
    virtual void set_sink(command_sink sink) = 0;
};
