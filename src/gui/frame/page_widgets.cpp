#include "gui/frame/page_widgets.h"

#include <QComboBox>
#include <QKeySequence>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>

#include "gui/frame/gui_check_box.h"
#include "gui/frame/qt_page_view.h"

namespace {

template <typename W>
W* named(W* w, int id) {
    w->setObjectName(qt_page_view::control_name(id));
    return w;
}

}  // namespace

QLabel* page_widgets::label(QWidget* parent, int id, const QString& text) {
    return named(new QLabel(text, parent), id);
}

QRadioButton* page_widgets::radio(QWidget* parent, int id, const QString& text) {
    return named(new QRadioButton(text, parent), id);
}

QCheckBox* page_widgets::check(QWidget* parent, int id, const QString& text) {
    return named(new gui_check_box(text, parent), id);
}

QLineEdit* page_widgets::edit(QWidget* parent, int id, int max_length) {
    auto* e = named(new QLineEdit(parent), id);
    // QLineEdit's own default cap is 32767; 0 asks for no cap at all.
    e->setMaxLength(max_length > 0 ? max_length : 1 << 24);
    return e;
}

QPushButton* page_widgets::button(QWidget* parent, int id, const QString& text) {
    auto* b = named(new QPushButton(text, parent), id);
    b->setAutoDefault(false);
    return b;
}

QComboBox* page_widgets::combo(QWidget* parent, int id) { return named(new QComboBox(parent), id); }

QListWidget* page_widgets::list(QWidget* parent, int id) {
    auto* l = named(new QListWidget(parent), id);
    l->setSelectionMode(QAbstractItemView::ExtendedSelection);
    return l;
}

QLabel* page_widgets::buddy_label(QWidget* parent, const QString& text, QWidget* buddy) {
    auto* l = new QLabel(text, parent);
    l->setBuddy(buddy);
    return l;
}

QDialogButtonBox* page_widgets::ok_cancel_help(QWidget* parent) {
    auto* buttons =
        new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Help, parent);
    QPushButton* ok = named(buttons->button(QDialogButtonBox::Ok), ok_id);
    named(buttons->button(QDialogButtonBox::Cancel), cancel_id);
    QPushButton* help = named(buttons->button(QDialogButtonBox::Help), help_id);
    // Keys of their own: "&Overwrite the entire database" holds Alt+O.
    ok->setText(QStringLiteral("O&K"));
    help->setText(QStringLiteral("&Help"));
    auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), parent);
    QObject::connect(f1, &QShortcut::activated, help, &QPushButton::click);
    return buttons;
}
