#include "gui/dialogs/set_query_dlg.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/pellix_converter.h"
#include "gui/frame/gui_error_box.h"
#include "gui/frame/page_widgets.h"
#include "gui/frame/qt_page_view.h"
#include "gui/frame/wizard_shell.h"
#include "tk/tk_logger.h"
#include "tk/tk_send_bug.h"
#include "tk/tk_text.h"

set_query_dlg::set_query_dlg(QWidget* owner, const std::wstring& name, const std::wstring& query, purpose what)
    : QDialog(owner), name_(name), query_(query) {
    tk_log(1, "set_query_dlg::set_query_dlg");
    setObjectName(QStringLiteral("dlg_%1").arg(dialog));
    setWindowTitle(what == purpose::add ? QStringLiteral("Add Query") : QStringLiteral("Edit Query"));
    auto* layout = new QVBoxLayout(this);
    name_edit_ = page_widgets::edit(this, name_id, max_name);
    layout->addWidget(page_widgets::buddy_label(this, QStringLiteral("&Store as Table:"), name_edit_));
    layout->addWidget(name_edit_);
    query_edit_ = new QPlainTextEdit(this);
    query_edit_->setObjectName(qt_page_view::control_name(query_id));
    layout->addWidget(page_widgets::buddy_label(this, QStringLiteral("&Query:"), query_edit_));
    layout->addWidget(query_edit_);
    // The edit takes no more than the limit, so nothing is cut later.
    connect(query_edit_, &QPlainTextEdit::textChanged, this, [this] {
        const QString text = query_edit_->toPlainText();
        if (text.size() > max_query) {
            query_edit_->setPlainText(text.left(max_query));
            query_edit_->moveCursor(QTextCursor::End);
        }
    });
    QDialogButtonBox* buttons = page_widgets::ok_cancel_help(this);
    QPushButton* test = buttons->addButton(QStringLiteral("&Test Query"), QDialogButtonBox::ActionRole);
    test->setObjectName(qt_page_view::control_name(test_id));
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] { wizard_shell::guard([this] { on_ok(); }); });
    connect(buttons, &QDialogButtonBox::rejected, this, [this] {
        tk_log(1, "set_query_dlg::on_cancel");
        reject();
    });
    connect(buttons, &QDialogButtonBox::helpRequested, this, [] { gui_error_box::open_help(help_topic); });
    connect(test, &QPushButton::clicked, this, [this] { wizard_shell::guard([this] { on_test(); }); });

    tk_log(1, "set_query_dlg::on_init");
    name_edit_->setText(QString::fromStdWString(name_));
    query_edit_->setPlainText(QString::fromStdWString(query_));
}

std::wstring set_query_dlg::trim(const std::wstring& text) {
    const wchar_t* blanks = L"\t\n\r ";
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::wstring::npos) return std::wstring();
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

std::wstring set_query_dlg::one_line(const std::wstring& text) {
    const std::wstring trimmed = trim(text);
    std::wstring out;
    for (size_t i = 0; i < trimmed.size(); ++i) {
        const wchar_t c = trimmed[i];
        if (c == L'\r' && i + 1 < trimmed.size() && trimmed[i + 1] == L'\n') continue;  // CR LF is one
        out += (c == L'\r' || c == L'\n') ? L' ' : c;
    }
    return out;
}

bool set_query_dlg::is_select(const std::wstring& text) {
    const std::wstring t = trim(text);
    return t.size() >= 6 && tk_equal_no_case(t.substr(0, 6), L"SELECT");
}

std::wstring set_query_dlg::check(const std::wstring& name, const std::wstring& query, bool& box) {
    box = false;
    const std::wstring n = trim(name);
    if (n.empty()) {
        box = true;
        return L"Table name is empty!";
    }
    // A profile keeps one entry per line as name=text under a [section].
    if (n.find_first_of(L"=\r\n") != std::wstring::npos || n.front() == L'[')
        return L"The table name cannot contain '=' or line breaks, or start with '['.";
    if (trim(query).empty()) return L"Query is empty!";
    if (!is_select(query)) return L"The query must start with SELECT.";
    return std::wstring();
}

std::wstring set_query_dlg::syntax_error_text() {
    return L"You have an error in your query syntax. Make sure that it is a correct SQL "
           L"SELECT-statement. Write to " +
           tk_utf8_to_unicode(tk_bug_report_address) + L" for help.";
}

void set_query_dlg::on_ok() {
    tk_log(1, "set_query_dlg::on_ok");
    const std::wstring name = name_edit_->text().toStdWString();
    const std::wstring query = query_edit_->toPlainText().toStdWString();
    bool box = false;
    const std::wstring refusal = check(name, query, box);
    if (!refusal.empty()) {
        if (box)
            wizard_shell::message(refusal);
        else
            wizard_shell::error(refusal);
        return;
    }
    name_ = trim(name);
    query_ = one_line(query);
    accept();
}

void set_query_dlg::on_test() {
    const std::wstring query = query_edit_->toPlainText().toStdWString();
    if (!is_select(query)) {
        wizard_shell::error(L"The query must start with SELECT.");
        return;
    }
    if (pellix_converter::ptr()->test_query(one_line(query)))
        wizard_shell::message(L"The query is correct.");
    else
        wizard_shell::error(syntax_error_text());
}
