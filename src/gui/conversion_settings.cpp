#include "gui/conversion_settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "app/pellix_converter.h"
#include "dbf/dbf_codepages.h"
#include "gui/page_widgets.h"
#include "tk/tk_logger.h"
#include "tk/tk_text.h"

namespace {

// The server calls the three-byte UTF-8 set utf8mb3; the settings and the
// statements use its old name.
std::wstring stored_charset(const std::wstring& name) {
    return tk_equal_no_case(name, L"utf8mb3") ? std::wstring(L"utf8") : name;
}

}  // namespace

conversion_settings::conversion_settings()
    : wizard_page(dialog, wiz_back | wiz_next, page_has_help | page_header, L"Step 3 of 5",
                  L"Specify conversion settings", 1021) {}

QWidget* conversion_settings::create_widget() {
    auto* w = new QWidget();
    auto* layout = new QVBoxLayout(w);
    auto* form = new QFormLayout();
    auto* charset = page_widgets::combo(w, 1303);
    auto* engine = page_widgets::combo(w, 1304);
    auto* encoding = page_widgets::combo(w, 1302);
    form->addRow(page_widgets::buddy_label(w, QStringLiteral("&MySQL character set:"), charset), charset);
    form->addRow(page_widgets::buddy_label(w, QStringLiteral("MySQL &engine type:"), engine), engine);
    form->addRow(page_widgets::buddy_label(w, QStringLiteral("&DBF encoding: "), encoding), encoding);
    layout->addLayout(form);
    layout->addWidget(page_widgets::check(w, 1226, QStringLiteral("S&kip converting indexes")));
    layout->addWidget(page_widgets::check(w, 1228, QStringLiteral("&Do not migrate the data")));
    layout->addWidget(page_widgets::check(w, 1202, QStringLiteral("D&o not convert deleted records")));
    layout->addWidget(page_widgets::check(w, 1204, QStringLiteral("Convert logical &values 'as is'")));
    layout->addStretch();
    return w;
}

std::wstring conversion_settings::name_part(const std::wstring& text) {
    const size_t blank = text.find(L' ');
    return blank == std::wstring::npos ? text : text.substr(0, blank);
}

int conversion_settings::find_by_name(const page_view& view, int id, const std::wstring& name) {
    const int count = view.item_count(id);
    for (int i = 0; i < count; ++i)
        if (tk_equal_no_case(name_part(view.item_text(id, i)), name)) return i;
    if (tk_equal_no_case(name, L"utf8")) return find_by_name(view, id, L"utf8mb3");
    return -1;
}

int conversion_settings::page_init() {
    tk_log(1, "conversion_settings::page_init");
    pellix_converter* conv = pellix_converter::ptr();
    view().set_check(1228, conv->tab_def);
    view().set_check(1226, conv->skip_idx);
    view().set_check(1202, conv->skip_del);
    view().set_check(1204, conv->bool_dbf);
    if (view().item_count(1302) == 0) {
        init_codepage_tables();
        // Each choice but "Default" shows the code page it reads with, so
        // keys of alike descriptions ("Windows ANSI", "1251 Windows ANSI")
        // are told apart; the item's data stays the stored key.
        for (const auto& [byte, text] : dbf_codepage_descriptions()) {
            const std::wstring label =
                byte == 0 ? text : text + L" (" + std::to_wstring(dbf_codepage_of(byte)) + L")";
            view().add_item(1302, label, byte);
        }
    }
    int selected = 0;
    for (int i = 0; i < view().item_count(1302); ++i)
        if (view().item_data(1302, i) == static_cast<int64_t>(conv->code_page)) selected = i;
    view().set_current_index(1302, view().item_count(1302) > 0 ? selected : -1);
    // Filled on every visit: a connection made since the last one brings
    // the server's own lists in place of the built-in ones.
    tk_log(1, "Initializing charset combobox");
    view().clear_items(1303);
    for (const auto& c : conv->engine.get_charsets()) view().add_item(1303, c, 0);
    tk_log(1, "Initializing engines combobox");
    view().clear_items(1304);
    for (const auto& e : conv->engine.get_storage_engines()) view().add_item(1304, e, 0);
    view().set_current_index(1303, find_by_name(view(), 1303, conv->engine.get_char_set()));
    view().set_current_index(1304, find_by_name(view(), 1304, conv->engine.get_tab_type()));
    return 1;
}

void conversion_settings::on_command(int id, command_event event) {
    if (event == command_event::click && (id == 1226 || id == 1228 || id == 1202 || id == 1204))
        invert_chbox(id);
}

void conversion_settings::store_file_info() {
    tk_log(1, "conversion_settings::store_file_info");
    pellix_converter* conv = pellix_converter::ptr();
    conv->tab_def = view().get_check(1228);
    conv->skip_idx = view().get_check(1226);
    conv->skip_del = view().get_check(1202);
    conv->bool_dbf = view().get_check(1204);
    const int encoding = view().current_index(1302);
    if (encoding >= 0) conv->code_page = static_cast<uint32_t>(view().item_data(1302, encoding));
    const int charset = view().current_index(1303);
    if (charset >= 0) {
        const std::wstring text = view().item_text(1303, charset);
        tk_wlog(1, L"got charset1=%ls", text.c_str());
        const std::wstring name = stored_charset(name_part(text));
        tk_wlog(1, L"got charset2=%ls", name.c_str());
        conv->engine.set_char_set(name);
    }
    const int engine = view().current_index(1304);
    if (engine >= 0) {
        const std::wstring text = view().item_text(1304, engine);
        tk_wlog(1, L"got tab_type=%ls", text.c_str());
        conv->engine.set_tab_type(text);
    }
}

int conversion_settings::on_next() {
    store_file_info();
    return 0;
}

int conversion_settings::on_back() {
    store_file_info();
    return 0;
}
