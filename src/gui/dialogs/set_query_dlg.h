// The query dialog (128): a name ("&Store as Table:", 1019) and an SQL
// SELECT text ("&Query:", 1020), with OK, Cancel, "&Test Query" (129) and
// Help (topic 1022). Its caption says "Add Query" for a new entry and
// "Edit Query" for one that exists. OK keeps the dialog open until the
// name and the query pass; the text is then trimmed with its line breaks
// turned into blanks, so a profile stores it on one line. Test Query asks
// the converter whether its source runs the statement.
#pragma once

#include <QDialog>

#include <string>

class QLineEdit;
class QPlainTextEdit;

class set_query_dlg : public QDialog {
public:
    static constexpr int dialog = 128;
    static constexpr int help_topic = 1022;
    // Controls.
    static constexpr int name_id = 1019;
    static constexpr int query_id = 1020;
    static constexpr int test_id = 129;
    static constexpr int max_name = 2048;
    static constexpr int max_query = 10000;

    enum class purpose { add, edit };

    set_query_dlg(QWidget* owner, const std::wstring& name, const std::wstring& query, purpose what);

    const std::wstring& get_name() const { return name_; }
    const std::wstring& get_query() const { return query_; }

    // Trimmed of tab, line feed, carriage return and space at both ends.
    static std::wstring trim(const std::wstring& text);
    // Trimmed, each CR LF, CR or LF a blank.
    static std::wstring one_line(const std::wstring& text);
    // True when the trimmed text starts with SELECT, ignoring case.
    static bool is_select(const std::wstring& text);
    // The refusal of OK for this name and text, or empty when both pass;
    // `box` says whether it is an information box (else an error box).
    static std::wstring check(const std::wstring& name, const std::wstring& query, bool& box);
    // The text Test Query shows when the test fails.
    static std::wstring syntax_error_text();

    void on_ok();
    void on_test();

private:
    QLineEdit* name_edit_;
    QPlainTextEdit* query_edit_;
    std::wstring name_;
    std::wstring query_;
};
