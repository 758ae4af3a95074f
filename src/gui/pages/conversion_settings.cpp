#include "gui/pages/conversion_settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "app/pellix_converter.h"
#include "dbf/dbf_codepages.h"
#include "gui/frame/page_widgets.h"
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
                  L"Specify conversion settings", help_topic) {}

QWidget* conversion_settings::create_widget() {
    auto* w = new QWidget();
    auto* layout = new QVBoxLayout(w);
    auto* form = new QFormLayout();
    auto* charset = page_widgets::combo(w, charset_id);
    auto* engine = page_widgets::combo(w, engine_id);
    auto* encoding = page_widgets::combo(w, encoding_id);
    form->addRow(page_widgets::buddy_label(w, QStringLiteral("&MySQL character set:"), charset), charset);
    form->addRow(page_widgets::buddy_label(w, QStringLiteral("MySQL &engine type:"), engine), engine);
    // Alt+D is "&Do not migrate the data"'s: the encoding takes Alt+F.
    form->addRow(page_widgets::buddy_label(w, QStringLiteral("DB&F encoding: "), encoding), encoding);
    layout->addLayout(form);
    layout->addWidget(page_widgets::check(w, skip_indexes_id, QStringLiteral("S&kip converting indexes")));
    layout->addWidget(page_widgets::check(w, definitions_only_id, QStringLiteral("&Do not migrate the data")));
    layout->addWidget(page_widgets::check(w, skip_deleted_id, QStringLiteral("D&o not convert deleted records")));
    layout->addWidget(page_widgets::check(w, logical_as_is_id, QStringLiteral("Convert logical &values 'as is'")));
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
    view().set_check(definitions_only_id, conv->tab_def);
    view().set_check(skip_indexes_id, conv->skip_idx);
    view().set_check(skip_deleted_id, conv->skip_del);
    view().set_check(logical_as_is_id, conv->bool_dbf);
    if (view().item_count(encoding_id) == 0) {
        init_codepage_tables();
        // Each choice but "Default" shows the code page it reads with, so
        // keys of alike descriptions ("Windows ANSI", "1251 Windows ANSI")
        // are told apart; the item's data stays the stored key.
        for (const auto& [byte, text] : dbf_codepage_descriptions()) {
            const std::wstring label = byte == 0 ? text : text + L" (" + std::to_wstring(dbf_codepage_of(byte)) + L")";
            view().add_item(encoding_id, label, byte);
        }
    }
    int selected = 0;
    for (int i = 0; i < view().item_count(encoding_id); ++i)
        if (view().item_data(encoding_id, i) == static_cast<int64_t>(conv->code_page)) selected = i;
    view().set_current_index(encoding_id, view().item_count(encoding_id) > 0 ? selected : -1);
    // Filled on every visit: a connection made since the last one brings
    // the server's own lists in place of the built-in ones.
    tk_log(1, "Initializing charset combobox");
    view().clear_items(charset_id);
    for (const auto& c : conv->engine.get_charsets()) view().add_item(charset_id, c, 0);
    tk_log(1, "Initializing engines combobox");
    view().clear_items(engine_id);
    for (const auto& e : conv->engine.get_storage_engines()) view().add_item(engine_id, e, 0);
    view().set_current_index(charset_id, find_by_name(view(), charset_id, conv->engine.get_char_set()));
    view().set_current_index(engine_id, find_by_name(view(), engine_id, conv->engine.get_tab_type()));
    return 1;
}

void conversion_settings::on_command(int id, command_event event) {
    if (event != command_event::click) return;
    if (id == skip_indexes_id || id == definitions_only_id || id == skip_deleted_id || id == logical_as_is_id)
        invert_chbox(id);
}

void conversion_settings::store_file_info() {
    tk_log(1, "conversion_settings::store_file_info");
    pellix_converter* conv = pellix_converter::ptr();
    conv->tab_def = view().get_check(definitions_only_id);
    conv->skip_idx = view().get_check(skip_indexes_id);
    conv->skip_del = view().get_check(skip_deleted_id);
    conv->bool_dbf = view().get_check(logical_as_is_id);
    const int encoding = view().current_index(encoding_id);
    if (encoding >= 0) conv->code_page = static_cast<uint32_t>(view().item_data(encoding_id, encoding));
    const int charset = view().current_index(charset_id);
    if (charset >= 0) {
        const std::wstring text = view().item_text(charset_id, charset);
        tk_wlog(1, L"got charset1=%ls", text.c_str());
        const std::wstring name = stored_charset(name_part(text));
        tk_wlog(1, L"got charset2=%ls", name.c_str());
        conv->engine.set_char_set(name);
    }
    const int engine = view().current_index(engine_id);
    if (engine >= 0) {
        const std::wstring text = view().item_text(engine_id, engine);
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
