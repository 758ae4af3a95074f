#include "gui/frame/qt_page_view.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTextEdit>

#include "tk/tk_exception.h"

namespace {

int id_of(const QObject* object) {
    const QString name = object->objectName();
    if (!name.startsWith(QLatin1String("ctl_"))) return -1;
    bool ok = false;
    const int id = name.mid(4).toInt(&ok);
    return ok ? id : -1;
}

}  // namespace

qt_page_view::qt_page_view(QWidget* root) : root_(root) { TK_ASSERT(root != nullptr); }

qt_page_view::~qt_page_view() = default;

QString qt_page_view::control_name(int id) { return QStringLiteral("ctl_%1").arg(id); }

QWidget* qt_page_view::control(int id) const {
    QWidget* found = root_ ? root_->findChild<QWidget*>(control_name(id)) : nullptr;
    TK_ASSERT(found != nullptr);
    return found;
}

bool qt_page_view::has_control(int id) const {
    return root_ && root_->findChild<QWidget*>(control_name(id)) != nullptr;
}

void qt_page_view::set_text(int id, const std::wstring& text) {
    const QString value = QString::fromStdWString(text);
    QWidget* w = control(id);
    if (auto* edit = qobject_cast<QLineEdit*>(w))
        edit->setText(value);
    else if (auto* plain = qobject_cast<QPlainTextEdit*>(w))
        plain->setPlainText(value);
    else if (auto* rich = qobject_cast<QTextEdit*>(w))
        rich->setPlainText(value);
    else if (auto* label = qobject_cast<QLabel*>(w))
        label->setText(value);
    else if (auto* button = qobject_cast<QAbstractButton*>(w))
        button->setText(value);
    else if (auto* combo = qobject_cast<QComboBox*>(w))
        combo->setCurrentText(value);
    else
        w->setWindowTitle(value);
}

std::wstring qt_page_view::get_text(int id) const {
    QWidget* w = control(id);
    QString value;
    if (auto* edit = qobject_cast<QLineEdit*>(w))
        value = edit->text();
    else if (auto* plain = qobject_cast<QPlainTextEdit*>(w))
        value = plain->toPlainText();
    else if (auto* rich = qobject_cast<QTextEdit*>(w))
        value = rich->toPlainText();
    else if (auto* label = qobject_cast<QLabel*>(w))
        value = label->text();
    else if (auto* button = qobject_cast<QAbstractButton*>(w))
        value = button->text();
    else if (auto* combo = qobject_cast<QComboBox*>(w))
        value = combo->currentText();
    else
        value = w->windowTitle();
    return value.toStdWString();
}

void qt_page_view::set_check(int id, bool checked) {
    auto* button = qobject_cast<QAbstractButton*>(control(id));
    TK_ASSERT(button != nullptr && button->isCheckable());
    button->setChecked(checked);
}

bool qt_page_view::get_check(int id) const {
    auto* button = qobject_cast<QAbstractButton*>(control(id));
    return button != nullptr && button->isChecked();
}

void qt_page_view::set_enabled(int id, bool on) { control(id)->setEnabled(on); }
bool qt_page_view::is_enabled(int id) const { return control(id)->isEnabled(); }
void qt_page_view::set_visible(int id, bool on) { control(id)->setVisible(on); }
bool qt_page_view::is_visible(int id) const { return !control(id)->isHidden(); }
void qt_page_view::set_focus(int id) { control(id)->setFocus(Qt::OtherFocusReason); }

void qt_page_view::set_read_only(int id, bool on) {
    QWidget* w = control(id);
    if (auto* edit = qobject_cast<QLineEdit*>(w))
        edit->setReadOnly(on);
    else if (auto* plain = qobject_cast<QPlainTextEdit*>(w))
        plain->setReadOnly(on);
    else if (auto* rich = qobject_cast<QTextEdit*>(w))
        rich->setReadOnly(on);
}

void qt_page_view::set_bold(int id, bool on) {
    QWidget* w = control(id);
    QFont font = w->font();
    font.setBold(on);
    w->setFont(font);
}

void qt_page_view::clear_items(int id) {
    QWidget* w = control(id);
    if (auto* combo = qobject_cast<QComboBox*>(w))
        combo->clear();
    else if (auto* list = qobject_cast<QListWidget*>(w))
        list->clear();
}

int qt_page_view::add_item(int id, const std::wstring& text, int64_t data) {
    QWidget* w = control(id);
    const QString value = QString::fromStdWString(text);
    if (auto* combo = qobject_cast<QComboBox*>(w)) {
        combo->addItem(value, QVariant::fromValue<qlonglong>(data));
        return combo->count() - 1;
    }
    auto* list = qobject_cast<QListWidget*>(w);
    TK_ASSERT(list != nullptr);
    auto* item = new QListWidgetItem(value, list);
    item->setData(Qt::UserRole, QVariant::fromValue<qlonglong>(data));
    return list->count() - 1;
}

int qt_page_view::item_count(int id) const {
    QWidget* w = control(id);
    if (auto* combo = qobject_cast<QComboBox*>(w)) return combo->count();
    if (auto* list = qobject_cast<QListWidget*>(w)) return list->count();
    return 0;
}

std::wstring qt_page_view::item_text(int id, int index) const {
    QWidget* w = control(id);
    if (auto* combo = qobject_cast<QComboBox*>(w)) return combo->itemText(index).toStdWString();
    auto* list = qobject_cast<QListWidget*>(w);
    QListWidgetItem* item = list ? list->item(index) : nullptr;
    return item ? item->text().toStdWString() : std::wstring();
}

int64_t qt_page_view::item_data(int id, int index) const {
    QWidget* w = control(id);
    if (auto* combo = qobject_cast<QComboBox*>(w)) return combo->itemData(index).toLongLong();
    auto* list = qobject_cast<QListWidget*>(w);
    QListWidgetItem* item = list ? list->item(index) : nullptr;
    return item ? item->data(Qt::UserRole).toLongLong() : 0;
}

int qt_page_view::current_index(int id) const {
    QWidget* w = control(id);
    if (auto* combo = qobject_cast<QComboBox*>(w)) return combo->currentIndex();
    if (auto* list = qobject_cast<QListWidget*>(w)) return list->currentRow();
    return -1;
}

void qt_page_view::set_current_index(int id, int index) {
    QWidget* w = control(id);
    if (auto* combo = qobject_cast<QComboBox*>(w))
        combo->setCurrentIndex(index);
    else if (auto* list = qobject_cast<QListWidget*>(w))
        list->setCurrentRow(index);
}

void qt_page_view::set_range(int id, int low, int high) {
    auto* bar = qobject_cast<QProgressBar*>(control(id));
    TK_ASSERT(bar != nullptr);
    bar->setRange(low, high);
}

void qt_page_view::set_pos(int id, int pos) {
    auto* bar = qobject_cast<QProgressBar*>(control(id));
    TK_ASSERT(bar != nullptr);
    bar->setValue(pos);
}

int qt_page_view::get_pos(int id) const {
    auto* bar = qobject_cast<QProgressBar*>(control(id));
    return bar ? bar->value() : 0;
}

void qt_page_view::set_sink(command_sink sink) {
    sink_ = std::move(sink);
    if (!connected_) connect_controls();
}

void qt_page_view::send(int id, command_event event) {
    if (sink_) sink_(id, event);
}

void qt_page_view::connect_controls() {
    connected_ = true;
    if (!root_) return;
    for (QWidget* w : root_->findChildren<QWidget*>()) {
        const int id = id_of(w);
        if (id < 0) continue;
        w->installEventFilter(this);
        if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            connect(button, &QAbstractButton::clicked, this, [this, id] { send(id, command_event::click); });
        } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
            connect(combo, &QComboBox::currentIndexChanged, this,
                    [this, id] { send(id, command_event::selection_change); });
        } else if (auto* list = qobject_cast<QListWidget*>(w)) {
            connect(list, &QListWidget::itemSelectionChanged, this,
                    [this, id] { send(id, command_event::selection_change); });
            connect(list, &QListWidget::itemDoubleClicked, this, [this, id] { send(id, command_event::double_click); });
        }
    }
}

bool qt_page_view::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusIn) {
        const int id = id_of(watched);
        if (id >= 0) send(id, command_event::focus_in);
    } else if (event->type() == QEvent::KeyPress) {
        if (open_item_by_key(watched, *static_cast<QKeyEvent*>(event))) return true;
    }
    return QObject::eventFilter(watched, event);
}

bool qt_page_view::open_item_by_key(QObject* watched, const QKeyEvent& key) {
    auto* list = qobject_cast<QListWidget*>(watched);
    // The keypad's Enter carries the keypad modifier; Alt, Ctrl and Shift keep their own meaning.
    if (list == nullptr || list->currentItem() == nullptr || (key.modifiers() & ~Qt::KeypadModifier) != 0)
        return false;
    const int id = id_of(watched);
    if (key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter)
        send(id, command_event::double_click);
    else if (key.key() == Qt::Key_F2)
        send(id, command_event::edit);
    else
        return false;
    return true;
}
