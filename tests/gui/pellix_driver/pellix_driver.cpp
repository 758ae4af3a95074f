// A Qt generic plugin that plays the user in the real pellix program.
//
// Loaded through QT_QPA_GENERIC_PLUGINS=pellixdriver with QT_PLUGIN_PATH
// naming the folder that holds generic/, it is created inside the
// QApplication constructor, before any page exists, and works from a timer
// from then on. It reads the script named by QZ_PELLIX_SCRIPT (one command a
// line, "#" starts a comment) and appends what it saw to QZ_PELLIX_RECORD
// (default: the script's path plus ".out").
//
// Commands; NAME is an objectName (ctl_<id>, btn_next, ...) looked up in the
// open box, else in the sheet's current page, else in the sheet:
//   page N             wait until page_N is shown with no box over it; record it
//   click NAME         click the control (buttons, check boxes, radios)
//   set NAME TEXT      type TEXT into an edit, replacing what it held
//   key NAME KEY       press KEY (Return, Escape, Space, Tab, Down, Up, Delete)
//   choose NAME TEXT   step a combo box with the keyboard to the item holding TEXT
//   item NAME TEXT     click the row of a list or tree that shows TEXT
//   dblitem NAME TEXT  double-click that row
//   tick NAME TEXT / untick NAME TEXT   set the row's check box with Space
//   box NAME [ANSWER]  wait for a box (NAME: its objectName or *), record it,
//                      answer yes/no/ok/cancel or click the button ANSWER
//   pick PATH          wait for a file picker, type PATH, accept
//   auto NAME ANSWER   from now on answer any box NAME with ANSWER while
//                      waiting for a page or a bar
//   bar NAME LOW       wait until the progress bar's value is at least LOW
//   sleep MS           wait
//   timeout MS         the bound of every later wait (default 20000)
//   shot FILE          save the box, or the sheet, as a PNG
//   remove PATH        delete a file or folder (the user tidying up meanwhile)
//   mark               record the milliseconds since the program started
// Whatever the script does, each page the sheet shows is recorded once as
// "shown page_N" when it comes up, so a test sees every page passed.
// A wait that runs past its bound records "timeout" with what was showing
// and ends the process with status 97, so a test never hangs on a dialog.
#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QGenericPlugin>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <QWidget>

#include <QPointer>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <utility>
#include <vector>

namespace {

struct step {
    int line = 0;
    QString cmd;
    QString arg;   // the second word
    QString rest;  // everything after the second word
    QString all;   // everything after the command
};

QString one_line(QString text) {
    text.replace(QLatin1String("\r"), QLatin1String("\\r"));
    text.replace(QLatin1String("\n"), QLatin1String("\\n"));
    return text;
}

QString without_mnemonic(QString text) {
    text.remove(QLatin1Char('&'));
    return text;
}

class pellix_driver : public QObject {
public:
    pellix_driver() {
        const QByteArray script = qgetenv("QZ_PELLIX_SCRIPT");
        QByteArray record = qgetenv("QZ_PELLIX_RECORD");
        if (record.isEmpty()) record = script + ".out";
        record_.setFileName(QString::fromLocal8Bit(record));
        record_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text);
        load(QString::fromLocal8Bit(script));
        connect(&timer_, &QTimer::timeout, this, [this] { tick(); });
        timer_.start(25);
        clock_.start();
    }

private:
    void load(const QString& path) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
            write(QStringLiteral("no script: ") + path);
            return;
        }
        int number = 0;
        while (!file.atEnd()) {
            ++number;
            const QString text = QString::fromUtf8(file.readLine()).trimmed();
            if (text.isEmpty() || text.startsWith(QLatin1Char('#'))) continue;
            step s;
            s.line = number;
            const qsizetype blank = text.indexOf(QLatin1Char(' '));
            s.cmd = text.left(blank < 0 ? text.size() : blank);
            s.all = blank < 0 ? QString() : text.mid(blank + 1).trimmed();
            const qsizetype second = s.all.indexOf(QLatin1Char(' '));
            s.arg = second < 0 ? s.all : s.all.left(second);
            s.rest = second < 0 ? QString() : s.all.mid(second + 1).trimmed();
            steps_.push_back(s);
        }
    }

    void write(const QString& line) {
        record_.write(line.toUtf8() + '\n');
        record_.flush();
    }

    // The wizard's window and the box (any other modal dialog) over it.
    static QWidget* sheet() {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == QLatin1String("wizard_sheet") && w->isVisible()) return w;
        return nullptr;
    }
    static QWidget* box() {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal != nullptr && modal->objectName() != QLatin1String("wizard_sheet")) return modal;
        // Boxes shown before the sheet exists (a refused quick launch).
        for (QWidget* w : QApplication::topLevelWidgets())
            if (qobject_cast<QDialog*>(w) != nullptr && w->isVisible() && w->isModal() &&
                w->objectName() != QLatin1String("wizard_sheet"))
                return w;
        return nullptr;
    }
    static QWidget* current_page() {
        QWidget* s = sheet();
        if (s == nullptr) return nullptr;
        auto* stack = s->findChild<QStackedWidget*>();
        return stack != nullptr ? stack->currentWidget() : nullptr;
    }
    static QWidget* find(const QString& name) {
        if (QWidget* b = box()) return b->findChild<QWidget*>(name);
        if (QWidget* page = current_page())
            if (QWidget* w = page->findChild<QWidget*>(name)) return w;
        if (QWidget* s = sheet()) return s->findChild<QWidget*>(name);
        return nullptr;
    }
    static bool usable(QWidget* w) { return w != nullptr && w->isVisible() && w->isEnabled(); }

    static QString widget_text(QWidget* w) {
        if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
        if (auto* b = qobject_cast<QAbstractButton*>(w)) {
            if (b->isCheckable()) return QString::fromLatin1(b->isChecked() ? "[x] " : "[ ] ") + b->text();
            return b->text();
        }
        if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
        if (auto* c = qobject_cast<QComboBox*>(w)) return c->currentText();
        if (auto* p = qobject_cast<QProgressBar*>(w)) return QString::number(p->value());
        if (auto* t = qobject_cast<QPlainTextEdit*>(w)) return t->toPlainText();
        if (auto* t = qobject_cast<QTextEdit*>(w)) return t->toPlainText();
        return QString();
    }
    // Every visible ctl_ control under `root`, one line each.
    void record_controls(QWidget* root) {
        for (QWidget* w : root->findChildren<QWidget*>()) {
            if (!w->objectName().startsWith(QLatin1String("ctl_")) || !w->isVisibleTo(root)) continue;
            write(QStringLiteral("  ") + w->objectName() + QStringLiteral(": ") + one_line(widget_text(w)));
        }
    }
    void record_page(QWidget* page) {
        QWidget* s = sheet();
        auto* title = s->findChild<QLabel*>(QStringLiteral("header_title"));
        auto* subtitle = s->findChild<QLabel*>(QStringLiteral("header_subtitle"));
        QString line = page->objectName().replace(QLatin1String("page_"), QLatin1String("page "));
        if (title != nullptr && title->isVisibleTo(s)) line += QStringLiteral(": ") + one_line(title->text());
        if (subtitle != nullptr && subtitle->isVisibleTo(s)) line += QStringLiteral(" | ") + one_line(subtitle->text());
        write(line);
        record_controls(page);
    }
    void record_box(QWidget* b) {
        QString text;
        if (auto* m = qobject_cast<QMessageBox*>(b))
            text = m->text();
        else if (auto* t = b->findChild<QPlainTextEdit*>(QStringLiteral("ctl_1320")))
            text = t->toPlainText();
        write(QStringLiteral("box ") + b->objectName() + QStringLiteral(": ") + b->windowTitle() +
              QStringLiteral(": ") + one_line(text));
        if (qobject_cast<QMessageBox*>(b) == nullptr && qobject_cast<QFileDialog*>(b) == nullptr) record_controls(b);
    }
    static bool box_matches(QWidget* b, const QString& name) {
        if (name == QLatin1String("*")) return true;
        if (name == QLatin1String("picker")) return qobject_cast<QFileDialog*>(b) != nullptr;
        return b->objectName() == name;
    }

    static void click(QWidget* w) {
        QPoint at = w->rect().center();
        // A check box or radio reacts only on its indicator and text.
        if (qobject_cast<QCheckBox*>(w) != nullptr || qobject_cast<QRadioButton*>(w) != nullptr)
            at = QPoint(qMin(8, w->width() / 2), w->height() / 2);
        QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, at);
    }
    // Answers a box: a standard answer of a message box, or a button's objectName.
    static bool answer(QWidget* b, const QString& how) {
        if (how.isEmpty()) return true;
        QAbstractButton* button = nullptr;
        if (auto* m = qobject_cast<QMessageBox*>(b)) {
            const QString h = how.toLower();
            if (h == QLatin1String("yes"))
                button = m->button(QMessageBox::Yes);
            else if (h == QLatin1String("no"))
                button = m->button(QMessageBox::No);
            else if (h == QLatin1String("ok"))
                button = m->button(QMessageBox::Ok);
            else if (h == QLatin1String("cancel"))
                button = m->button(QMessageBox::Cancel);
        }
        if (button == nullptr) button = b->findChild<QAbstractButton*>(how);
        if (button == nullptr) {
            for (QAbstractButton* any : b->findChildren<QAbstractButton*>())
                if (without_mnemonic(any->text()).compare(how, Qt::CaseInsensitive) == 0) button = any;
        }
        if (button == nullptr) return false;
        QPointer<QAbstractButton> guarded(button);
        QTimer::singleShot(0, [guarded] {
            if (guarded) click(guarded);
        });
        return true;
    }

    static QModelIndex row_showing(QAbstractItemView* view, const QString& text) {
        QAbstractItemModel* model = view->model();
        for (int r = 0; r < model->rowCount(); ++r)
            for (int c = 0; c < model->columnCount(); ++c) {
                const QModelIndex i = model->index(r, c);
                if (i.data().toString() == text) return i;
            }
        return QModelIndex();
    }
    static void press(QWidget* w, const QString& key) {
        static const std::pair<const char*, Qt::Key> keys[] = {
            {"Return", Qt::Key_Return}, {"Escape", Qt::Key_Escape}, {"Space", Qt::Key_Space},
            {"Tab", Qt::Key_Tab},       {"Down", Qt::Key_Down},     {"Up", Qt::Key_Up},
            {"Delete", Qt::Key_Delete}, {"F1", Qt::Key_F1},         {"Home", Qt::Key_Home}};
        for (const auto& k : keys)
            if (key == QLatin1String(k.first)) QTest::keyClick(w, k.second);
    }

    // Runs a user action from the event loop, so that a dialog it opens
    // runs its own loop while the timer goes on answering.
    void later(std::function<void()> action) {
        pending_ = true;
        QTimer::singleShot(0, this, [this, action] {
            pending_ = false;
            action();
        });
    }

    QString showing() {
        QString what;
        if (QWidget* b = box()) {
            what = QStringLiteral("box ") + b->objectName() + QStringLiteral(" ") + b->windowTitle();
            if (auto* m = qobject_cast<QMessageBox*>(b)) what += QStringLiteral(": ") + one_line(m->text());
        } else if (QWidget* p = current_page()) {
            what = p->objectName();
        } else {
            what = QStringLiteral("nothing");
        }
        return what;
    }

    // One attempt of the current step: true when it is done.
    bool attempt(const step& s) {
        if (s.cmd == QLatin1String("page")) {
            QWidget* page = current_page();
            if (box() != nullptr || page == nullptr || !page->isVisible() ||
                page->objectName() != QStringLiteral("page_") + s.arg)
                return false;
            record_page(page);
            return true;
        }
        if (s.cmd == QLatin1String("box")) {
            QWidget* b = box();
            if (b == nullptr || !b->isVisible() || !box_matches(b, s.arg)) return false;
            record_box(b);
            if (!answer(b, s.rest)) write(QStringLiteral("no button ") + s.rest);
            return true;
        }
        if (s.cmd == QLatin1String("pick")) {
            auto* picker = qobject_cast<QFileDialog*>(box());
            if (picker == nullptr || !picker->isVisible()) return false;
            write(QStringLiteral("picker ") + picker->objectName() + QStringLiteral(": ") + picker->windowTitle());
            QPointer<QFileDialog> guarded(picker);
            const QString path = s.all;
            later([guarded, path] {
                if (!guarded) return;
                auto* edit = guarded->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
                if (edit != nullptr) {
                    edit->setFocus();
                    edit->selectAll();
                    QTest::keyClick(edit, Qt::Key_Backspace);
                    QTest::keyClicks(edit, path);
                } else {
                    guarded->selectFile(path);
                }
                auto* buttons = guarded->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
                QAbstractButton* accept = nullptr;
                if (buttons != nullptr)
                    for (QAbstractButton* b : buttons->buttons())
                        if (buttons->buttonRole(b) == QDialogButtonBox::AcceptRole) accept = b;
                if (accept != nullptr && accept->isEnabled())
                    click(accept);
                else
                    static_cast<QDialog*>(guarded.data())->accept();
            });
            return true;
        }
        if (s.cmd == QLatin1String("bar")) {
            auto* bar = qobject_cast<QProgressBar*>(find(s.arg));
            if (bar == nullptr || bar->value() < s.rest.toInt()) return false;
            write(QStringLiteral("bar ") + s.arg + QStringLiteral(": ") + QString::number(bar->value()));
            return true;
        }
        if (s.cmd == QLatin1String("sleep")) return clock_.elapsed() - step_started_ >= s.arg.toLongLong();
        if (s.cmd == QLatin1String("remove")) {
            std::error_code ignored;
            std::filesystem::remove_all(std::filesystem::path(s.all.toStdString()), ignored);
            write(QStringLiteral("removed ") + s.all);
            return true;
        }
        if (s.cmd == QLatin1String("mark")) {
            write(QStringLiteral("mark ") + QString::number(clock_.elapsed()));
            return true;
        }
        if (s.cmd == QLatin1String("timeout")) {
            bound_ms_ = s.arg.toLongLong();
            return true;
        }
        if (s.cmd == QLatin1String("auto")) {
            auto_.push_back({s.arg, s.rest});
            return true;
        }
        if (s.cmd == QLatin1String("shot")) {
            QWidget* w = box();
            if (w == nullptr) w = sheet();
            if (w == nullptr) return false;
            const bool saved = w->grab().save(s.all, "PNG");
            write(QStringLiteral("shot ") + s.all + (saved ? QString() : QStringLiteral(" FAILED")));
            return true;
        }

        QWidget* w = find(s.arg);
        if (!usable(w)) return false;
        QPointer<QWidget> target(w);
        if (s.cmd == QLatin1String("click")) {
            later([target] {
                if (target) click(target);
            });
            return true;
        }
        if (s.cmd == QLatin1String("set")) {
            const QString text = s.rest;
            later([target, text] {
                if (!target) return;
                click(target);
                QTest::keyClick(target, Qt::Key_A, Qt::ControlModifier);
                QTest::keyClick(target, Qt::Key_Backspace);
                QTest::keyClicks(target, text);
            });
            return true;
        }
        if (s.cmd == QLatin1String("key")) {
            const QString key = s.rest;
            later([target, key] {
                if (target) press(target, key);
            });
            return true;
        }
        if (s.cmd == QLatin1String("choose")) {
            auto* combo = qobject_cast<QComboBox*>(w);
            if (combo == nullptr) return false;
            int wanted = combo->findText(s.rest);
            for (int i = 0; wanted < 0 && i < combo->count(); ++i)
                if (combo->itemText(i).contains(s.rest, Qt::CaseInsensitive)) wanted = i;
            if (wanted < 0) return false;
            QPointer<QComboBox> c(combo);
            later([c, wanted] {
                if (!c) return;
                c->setFocus();
                QTest::keyClick(c, Qt::Key_Home);
                for (int i = 0; i < c->count() && c->currentIndex() < wanted; ++i) QTest::keyClick(c, Qt::Key_Down);
            });
            return true;
        }
        if (s.cmd == QLatin1String("item") || s.cmd == QLatin1String("dblitem") || s.cmd == QLatin1String("tick") ||
            s.cmd == QLatin1String("untick")) {
            auto* view = qobject_cast<QAbstractItemView*>(w);
            if (view == nullptr) return false;
            const QModelIndex at = row_showing(view, s.rest);
            if (!at.isValid()) return false;
            QPointer<QAbstractItemView> v(view);
            const QString cmd = s.cmd;
            later([v, at, cmd] {
                if (!v) return;
                v->scrollTo(at);
                const QPoint point = v->visualRect(at).center();
                if (cmd == QLatin1String("dblitem")) {
                    QTest::mouseClick(v->viewport(), Qt::LeftButton, Qt::NoModifier, point);
                    QTest::mouseDClick(v->viewport(), Qt::LeftButton, Qt::NoModifier, point);
                    return;
                }
                QTest::mouseClick(v->viewport(), Qt::LeftButton, Qt::NoModifier, point);
                if (cmd == QLatin1String("item")) return;
                const QModelIndex box_index = at.sibling(at.row(), 0);
                const bool ticked = box_index.data(Qt::CheckStateRole).toInt() == Qt::Checked;
                if (ticked != (cmd == QLatin1String("tick"))) {
                    v->setCurrentIndex(box_index);
                    QTest::keyClick(v, Qt::Key_Space);
                }
            });
            return true;
        }
        write(QStringLiteral("unknown command at line ") + QString::number(s.line) + QStringLiteral(": ") + s.cmd);
        return true;
    }

    // Records the sheet's page each time another one comes up.
    void track_page() {
        QWidget* page = current_page();
        if (page == nullptr || !page->isVisible() || page == last_page_) return;
        last_page_ = page;
        write(QStringLiteral("shown ") + page->objectName());
    }

    // Standing answers, while the script waits for something else.
    void answer_standing() {
        QWidget* b = box();
        if (b == nullptr || !b->isVisible() || std::find(answered_.begin(), answered_.end(), b) != answered_.end())
            return;
        for (const auto& rule : auto_) {
            if (!box_matches(b, rule.first)) continue;
            record_box(b);
            answered_.push_back(b);
            answer(b, rule.second);
            return;
        }
    }

    void tick() {
        track_page();
        if (pending_) return;
        std::erase_if(answered_, [](const QPointer<QWidget>& p) { return p.isNull(); });
        if (next_ >= steps_.size()) {
            if (!finished_) {
                finished_ = true;
                write(QStringLiteral("done"));
            }
            answer_standing();
            return;
        }
        const step& s = steps_[next_];
        if (step_started_ < 0) step_started_ = clock_.elapsed();
        if (attempt(s)) {
            ++next_;
            step_started_ = -1;
            return;
        }
        if (s.cmd == QLatin1String("page") || s.cmd == QLatin1String("bar") || s.cmd == QLatin1String("sleep"))
            answer_standing();
        if (clock_.elapsed() - step_started_ > bound_ms_) {
            write(QStringLiteral("timeout at line ") + QString::number(s.line) + QStringLiteral(" (") + s.cmd +
                  QStringLiteral(" ") + s.all + QStringLiteral("): showing ") + showing());
            record_.close();
            std::_Exit(97);
        }
    }

    QFile record_;
    std::vector<step> steps_;
    size_t next_ = 0;
    qint64 step_started_ = -1;
    qint64 bound_ms_ = 20000;
    bool pending_ = false;
    bool finished_ = false;
    std::vector<std::pair<QString, QString>> auto_;
    std::vector<QPointer<QWidget>> answered_;
    QPointer<QWidget> last_page_;
    QTimer timer_;
    QElapsedTimer clock_;
};

}  // namespace

class pellix_driver_plugin : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "pellix_driver.json")

public:
    QObject* create(const QString& key, const QString&) override {
        if (key.compare(QLatin1String("pellixdriver"), Qt::CaseInsensitive) != 0) return nullptr;
        return new pellix_driver();
    }
};

#include "pellix_driver.moc"
