#include "gui/frame/wizard_shell.h"

#include <QApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QMessageBox>
#include <QScreen>
#include <QTextBrowser>
#include <QTimer>
#include <QUrl>

#include "app/error_handler.h"
#include "gui/frame/gui_box_layout.h"
#include "gui/frame/gui_call.h"
#include "gui/frame/program_files.h"
#include "gui/frame/wizard_sheet.h"
#include "tk/tk_exception.h"
#include "tk/tk_logger.h"

namespace {

// A box shows at most this much text; the log keeps it whole.
constexpr qsizetype box_text_limit = 20000;

QString box_text(const std::wstring& text) {
    QString value = gui_box_layout::plain_lines(QString::fromStdWString(text));
    if (value.size() > box_text_limit) value = value.left(box_text_limit) + QStringLiteral("...");
    return value;
}

// Shows one box on the GUI thread; false when it was only logged.
bool show_box(QMessageBox::Icon icon, const std::wstring& kind, const std::wstring& text, bool yes_no,
              bool default_no) {
    bool yes = false;
    const bool shown = gui_call::run([&] {
        QMessageBox box(icon, QString::fromStdWString(wizard_shell::caption(kind)), box_text(text),
                        QMessageBox::NoButton, wizard_shell::owner_window());
        box.setObjectName(QStringLiteral("message_box"));
        if (yes_no) {
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            box.setDefaultButton(default_no ? QMessageBox::No : QMessageBox::Yes);
            box.setEscapeButton(QMessageBox::No);
        } else {
            box.setStandardButtons(QMessageBox::Ok);
        }
        gui_box_layout::fit_lines(box);
        yes = gui_call::exec_modal(box) == QMessageBox::Yes;
    });
    return shown && yes;
}

}  // namespace

wizard_shell::wizard_shell(const std::wstring& title)
    : title_(title), help_folder_(program_files::path_of("pellix.help")) {
    tk_wlog(1, L"wizard_shell::ctor(%ls)", title.c_str());
    gui_call::set_closed(false);
}

wizard_shell::~wizard_shell() {
    tk_log(2, "wizard_shell::dtor");
    gui_call::set_closed(true);
    if (timer_ != nullptr) timer_->stop();
    timer_set_.store(false);
    // Pages first: a page may own the worker thread, which must end while
    // the sheet and the shell still stand.
    pages_.clear();
    help_.reset();
    sheet_.reset();
    // No worker is left: later boxes (teardown failures) show ownerless.
    gui_call::set_closed(false);
}

wizard_sheet& wizard_shell::sheet() {
    if (!sheet_) {
        sheet_ = std::make_unique<wizard_sheet>(*this);
        timer_ = new QTimer(sheet_.get());
        QObject::connect(timer_, &QTimer::timeout, sheet_.get(), [this] { tick(); });
    }
    return *sheet_;
}

void wizard_shell::add_page(std::unique_ptr<wizard_page> page) {
    TK_ASSERT(page != nullptr);
    wizard_page* raw = page.get();
    pages_.push_back(std::move(page));
    sheet().add_page(raw->widget());
    raw->view().set_sink([raw](int id, command_event event) { guard([&] { raw->on_command(id, event); }); });
}

int wizard_shell::run() {
    gui_call::set_closed(false);
    status_.store(0);
    wizard_sheet& s = sheet();
    if (current_ < 0) navigate(+1, 0);
    if (current_ < 0) {
        tk_log(3, "wizard_shell::run: no page may be shown");
        return 0;
    }
    // Shown, not exec()'d: a modal sheet would block the help window beside
    // it (no scrolling, no links). The boxes and dialogs stay modal to it.
    QEventLoop loop;
    QObject::connect(&s, &QDialog::finished, &loop, &QEventLoop::quit);
    s.show();
    if (s.isVisible()) loop.exec();
    gui_call::set_closed(true);
    kill_timer();
    return status_.load();
}

void wizard_shell::end(int status) {
    status_.store(status);
    gui_call::set_closed(true);
    auto close = [this, status] {
        if (!sheet_) return;
        gui_call::close_modals();
        sheet_->done(status);
    };
    if (gui_call::on_gui_thread()) {
        close();
    } else {
        // Posted past the closed flag: this call must still run.
        QMetaObject::invokeMethod(qApp, close, Qt::QueuedConnection);
    }
}

void wizard_shell::initialize_if() {
    tk_log(2, "wizard_shell::initialize_if");
    if (initialized_.load()) return;
    wizard_sheet& s = sheet();
    s.setWindowTitle(QString::fromStdWString(title_));
    if (QScreen* screen = QGuiApplication::primaryScreen())
        s.move(screen->availableGeometry().center() - s.rect().center());
    initialized_.store(true);
}

bool wizard_shell::is_initialized() {
    tk_log(1, "wizard_shell::is_initialized");
    wizard_shell* shell = try_ptr();
    if (shell == nullptr) {
        tk_log(1, "Before return false");
        return false;
    }
    tk_log(1, "Singleton has been initialized");
    return shell->initialized_.load();
}

QWidget* wizard_shell::owner_window() {
    wizard_shell* shell = try_ptr();
    if (shell == nullptr || !shell->initialized_.load() || !shell->sheet_) return nullptr;
    return shell->sheet_.get();
}

std::wstring wizard_shell::caption(const std::wstring& kind) {
    wizard_shell* shell = try_ptr();
    if (shell != nullptr && shell->initialized_.load()) return shell->title_ + L" " + kind;
    return kind;
}

void wizard_shell::error(const std::wstring& text) {
    tk_wlog(1, L"wizard_shell::error(%ls)", text.c_str());
    show_box(QMessageBox::Critical, L"Error", text, false, false);
}

void wizard_shell::error(const std::string& text) {
    // Invalid UTF-8 shows as replacement characters.
    error(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).toStdWString());
}

void wizard_shell::message(const std::wstring& text) {
    tk_wlog(1, L"wizard_shell::message(%ls)", text.c_str());
    show_box(QMessageBox::Information, L"Message", text, false, false);
}

bool wizard_shell::question(const std::wstring& text, bool default_no) {
    tk_wlog(1, L"wizard_shell::question(%ls)", text.c_str());
    return show_box(QMessageBox::Question, L"Question", text, true, default_no);
}

void wizard_shell::display_help(int topic) {
    tk_log(1, "wizard_shell::display_help(%d)", topic);
    const QString folder = QString::fromUtf8(help_folder_.c_str());
    const QString index = folder + QStringLiteral("/index.html");
    if (!QFileInfo(index).isFile()) {
        error(std::wstring(L"Help file does not exist. Reinstall the program."));
        return;
    }
    QString page = index;
    if (topic != 0) {
        const QString candidate = folder + QStringLiteral("/%1.html").arg(topic);
        if (QFileInfo(candidate).isFile())
            page = candidate;
        else
            tk_log(2, "Help topic %d has no page; showing the default topic", topic);
    }
    gui_call::run([this, &page] {
        if (!help_) {
            help_ = std::make_unique<QTextBrowser>();
            help_->setObjectName(QStringLiteral("help_window"));
            help_->setWindowTitle(QString::fromStdWString(title_ + L" Help"));
            help_->resize(640, 480);
        }
        help_->setSource(QUrl::fromLocalFile(page));
        help_->show();
        help_->raise();
        help_->activateWindow();
    });
}

void wizard_shell::display_help() {
    tk_log(1, "wizard_shell::display_help");
    display_help(0);
}

void wizard_shell::set_timer(int milliseconds) {
    tk_log(1, "wizard_shell::set_timer(%d)", milliseconds);
    // The assertion goes to the caller, on whatever thread it runs.
    TK_ASSERT(!timer_set_.exchange(true));
    gui_call::run([this, milliseconds] {
        sheet();
        timer_->start(milliseconds);
    });
}

void wizard_shell::kill_timer() {
    tk_log(1, "wizard_shell::kill_timer");
    if (!timer_set_.exchange(false)) return;
    auto stop = [this] {
        if (timer_ != nullptr) timer_->stop();
    };
    if (gui_call::on_gui_thread())
        stop();
    else
        QMetaObject::invokeMethod(qApp, stop, Qt::QueuedConnection);
}

void wizard_shell::tick() {
    if (!timer_set_.load()) return;
    if (wizard_page* page = current_page()) guard([page] { page->on_timer(); });
}

void wizard_shell::set_buttons(int buttons) {
    tk_log(1, "wizard_shell::set_buttons(%08X)", static_cast<unsigned>(buttons));
    sheet().set_buttons(buttons);
}

void wizard_shell::enable_button(int button, bool on) {
    tk_log(1, "wizard_shell::enable_button(%08X)", static_cast<unsigned>(button));
    sheet().enable_button(button, on);
}

void wizard_shell::select_page(int dialog) {
    const int index = index_of(dialog);
    TK_ASSERT(index >= 0);
    const wizard_sheet::button_state saved = sheet().save_buttons();
    if (activate(static_cast<size_t>(index)) <= 0) sheet().restore_buttons(saved);
}

void wizard_shell::add_message(const std::string& message) {
    std::lock_guard<std::mutex> lock(messages_mutex_);
    if (messages_.size() < max_messages) messages_.push_back(message);
}

void wizard_shell::clear_messages() {
    std::lock_guard<std::mutex> lock(messages_mutex_);
    messages_.clear();
}

std::vector<std::string> wizard_shell::get_messages() const {
    std::lock_guard<std::mutex> lock(messages_mutex_);
    return messages_;
}

wizard_page* wizard_shell::current_page() const {
    return current_ >= 0 ? pages_[static_cast<size_t>(current_)].get() : nullptr;
}

int wizard_shell::current_dialog() const {
    const wizard_page* page = current_page();
    return page != nullptr ? page->get_dialog() : 0;
}

int wizard_shell::index_of(int dialog) const {
    for (size_t i = 0; i < pages_.size(); ++i)
        if (pages_[i]->get_dialog() == dialog) return static_cast<int>(i);
    return -1;
}

bool wizard_shell::guard(const std::function<void()>& fn) {
    try {
        fn();
        return true;
    } catch (const tk_abort_exception& e) {
        tk_log(3, "The wizard ends after an error: %s", e.what());
        if (wizard_shell* shell = try_ptr()) shell->end(abort_status);
    } catch (const tk_final_exception&) {
        tk_log(2, "Stopped");
    } catch (const tk_exception& e) {
        try {
            if (error_handler* handler = error_handler::try_ptr())
                handler->handle(e, true);
            else
                error(e.message);
        } catch (const tk_abort_exception&) {
            if (wizard_shell* shell = try_ptr()) shell->end(abort_status);
        } catch (...) {
            tk_log(3, "A failure could not be reported");
        }
    } catch (const std::exception& e) {
        error(std::string(e.what()));
    } catch (...) {
        error(std::string("Unknown exception"));
    }
    return false;
}

// Shows pages[index]: 1 shown, 0 refused, -1 failed.
int wizard_shell::activate(size_t index) {
    tk_log(1, "wizard_page::OnSetActive");
    wizard_page* page = pages_[index].get();
    wizard_sheet& s = sheet();
    // The set lands before page_init, so page_init has the last word.
    s.set_buttons(page->get_buttons());
    initialize_if();
    const int previous = current_;
    current_ = static_cast<int>(index);
    int accepted = 0;
    const bool ok = guard([&] { accepted = page->page_init(); });
    if (!ok || accepted <= 0) {
        current_ = previous;
        return ok ? 0 : -1;
    }
    s.show_page(page->widget(), (page->get_flags() & page_header) != 0, QString::fromStdWString(page->get_title()),
                QString::fromStdWString(page->get_subtitle()), (page->get_flags() & page_has_help) != 0);
    return 1;
}

void wizard_shell::navigate(int direction, int target) {
    if (target == -1) return;
    const wizard_sheet::button_state saved = sheet().save_buttons();
    int candidate;
    if (target > 0) {
        candidate = index_of(target);
        TK_ASSERT(candidate >= 0);
    } else {
        candidate = current_ + direction;
    }
    while (candidate >= 0 && candidate < static_cast<int>(pages_.size())) {
        const int shown = activate(static_cast<size_t>(candidate));
        if (shown > 0) return;
        // A failure, unlike a refusal, cancels the move.
        if (shown < 0 || gui_call::is_closed()) break;
        candidate += direction;
    }
    sheet().restore_buttons(saved);
}

void wizard_shell::press_next() { leave_page(+1); }

void wizard_shell::press_back() { leave_page(-1); }

void wizard_shell::leave_page(int direction) {
    wizard_page* page = current_page();
    if (page == nullptr) return;
    int target = 0;
    int leave = 0;
    if (!guard([&] { target = direction > 0 ? page->on_next() : page->on_back(); })) return;
    if (target == -1) return;
    if (!guard([&] { leave = page->kill_active(); }) || leave != 1) return;
    navigate(direction, target);
}

void wizard_shell::press_finish() {
    wizard_page* page = current_page();
    if (page == nullptr) return;
    int allowed = 0;
    if (guard([&] { allowed = page->wizard_finish(); }) && allowed == 1) end(0);
}

void wizard_shell::press_cancel() {
    if (!sheet().cancel_enabled()) return;
    wizard_page* page = current_page();
    bool close = page == nullptr;
    if (page != nullptr && !guard([&] { close = page->on_cancel(); })) return;
    if (close) end(0);
}

void wizard_shell::press_help() {
    wizard_page* page = current_page();
    if (page == nullptr || (page->get_flags() & page_has_help) == 0) return;
    guard([page] { page->help(); });
}
