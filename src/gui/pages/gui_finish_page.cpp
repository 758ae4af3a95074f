#include "gui/pages/gui_finish_page.h"

#include <QCloseEvent>
#include <QFont>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/frame/gui_call.h"
#include "tk/tk_text.h"

// Escape and the close box end the wizard like Finish while this page is
// current (Cancel is off here, so the sheet would ignore them).
class gui_finish_page::close_filter : public QObject {
public:
    explicit close_filter(gui_finish_page& page) : page_(page) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const bool close = event->type() == QEvent::Close;
        const bool escape =
            event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape;
        if (!close && !escape) return QObject::eventFilter(watched, event);
        wizard_shell* shell = wizard_shell::try_ptr();
        if (shell == nullptr || gui_call::is_closed() || shell->current_page() != &page_)
            return QObject::eventFilter(watched, event);
        event->ignore();
        shell->press_finish();
        return true;
    }

private:
    gui_finish_page& page_;
};

gui_finish_page::gui_finish_page(std::wstring success_text, std::wstring error_text)
    : wizard_page(dialog, wiz_finish, 0), success_text_(std::move(success_text)), error_text_(std::move(error_text)) {}

gui_finish_page::~gui_finish_page() = default;

QWidget* gui_finish_page::create_widget() {
    auto* w = new QWidget();
    auto* layout = new QVBoxLayout(w);
    auto* title = new QLabel(QStringLiteral("Conversion is Completed"), w);
    title->setObjectName(QStringLiteral("ctl_%1").arg(title_id));
    // The welcome page's title font: the system sans face, 13 points, normal weight.
    QFont font(QStringLiteral("Sans Serif"), 13, QFont::Normal);
    font.setStyleHint(QFont::SansSerif);
    title->setFont(font);
    auto* result = new QLabel(w);
    result->setObjectName(QStringLiteral("ctl_%1").arg(result_id));
    result->setTextFormat(Qt::PlainText);
    result->setWordWrap(true);
    auto* report = new QPlainTextEdit(w);
    report->setObjectName(QStringLiteral("ctl_%1").arg(report_id));
    report->setVisible(false);
    auto* store = new QPushButton(QStringLiteral("&Save Settings..."), w);
    store->setObjectName(QStringLiteral("ctl_%1").arg(store_id));
    store->setAutoDefault(false);
    layout->addWidget(title);
    layout->addWidget(result);
    layout->addWidget(report, 1);
    layout->addStretch();
    layout->addWidget(store, 0, Qt::AlignLeft);
    return w;
}

std::wstring gui_finish_page::report_text(const std::vector<std::string>& messages) {
    std::wstring text;
    for (std::string m : messages) {
        for (char& c : m)
            if (c == '\n' || c == '\r') c = ' ';
        text += tk_utf8_to_unicode(m);
        text += L"\n\n";
    }
    return text;
}

int gui_finish_page::page_init() {
    tk_log(2, "gui_finish_page::page_init");
    wizard_shell* shell = wizard_shell::ptr();
    // Help is hidden on this page (it has none); Cancel is turned off.
    shell->enable_button(cancel_button, false);
    if (!filter_) {
        filter_ = std::make_unique<close_filter>(*this);
        if (QWidget* sheet = widget()->window(); sheet != nullptr && sheet != widget())
            sheet->installEventFilter(filter_.get());
    }
    view().set_text(title_id, run_completed() ? L"Conversion is Completed" : L"Conversion is Stopped");
    std::vector<std::string> messages = shell->get_messages();
    const bool success = messages.empty() && run_completed();
    for (std::string& line : renamed_tables()) messages.push_back(std::move(line));
    for (std::string& line : run_report()) messages.push_back(std::move(line));
    tk_log(2, success ? "Display success-message" : "Display errors");
    view().set_text(result_id, success ? success_text_ : error_text_);
    view().set_visible(report_id, !messages.empty());
    view().set_text(report_id, report_text(messages));
    view().set_read_only(report_id, true);
    first_focus_ = true;
    return 1;
}

void gui_finish_page::on_command(int id, command_event event) {
    if (id == report_id && event == command_event::focus_in) on_eb_focus();
    if (id == store_id && event == command_event::click) on_store();
}

void gui_finish_page::on_eb_focus() {
    if (!first_focus_) return;
    first_focus_ = false;
    tk_log(1, "gui_finish_page::on_eb_focus");
    if (auto* report = widget()->findChild<QPlainTextEdit*>(QStringLiteral("ctl_%1").arg(report_id))) {
        QTextCursor cursor = report->textCursor();
        cursor.clearSelection();
        report->setTextCursor(cursor);
        report->ensureCursorVisible();
    }
    if (auto* finish = widget()->window()->findChild<QPushButton*>(QStringLiteral("btn_finish")))
        finish->setFocus(Qt::OtherFocusReason);
}
