#include "gui/dialogs/types_map_dlg.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/error_handler.h"
#include "app/pellix_converter.h"
#include "dbf/dbf_database.h"
#include "gui/frame/gui_call.h"
#include "gui/frame/gui_error_box.h"
#include "gui/frame/page_widgets.h"
#include "gui/frame/qt_page_view.h"
#include "gui/frame/wizard_shell.h"
#include "tk/tk_logger.h"
#include "udb/udb_names.h"
#include "udb/udb_recordset.h"

namespace {

constexpr int max_field_name = 1024;

QLineEdit* number_edit(QWidget* parent, int id) {
    QLineEdit* e = page_widgets::edit(parent, id, 10);
    e->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), e));
    return e;
}

QString number_text(uint64_t value) { return QString::number(value); }

}  // namespace

types_map_dlg::types_map_dlg(QWidget* owner, types_map_model model) : QDialog(owner), model_(std::move(model)) {
    tk_log(1, "types_map_dlg::types_map_dlg");
    setObjectName(QStringLiteral("dlg_%1").arg(dialog));
    setWindowTitle(QStringLiteral("Edit Table"));
    // Wide enough for the four column headers without a scroll bar.
    setMinimumWidth(460);
    auto* layout = new QVBoxLayout(this);
    table_name_ = page_widgets::edit(this, table_name_id, max_field_name);
    layout->addWidget(page_widgets::buddy_label(this, QStringLiteral("&Table name:"), table_name_));
    layout->addWidget(table_name_);
    list_ = new QTreeWidget(this);
    list_->setObjectName(qt_page_view::control_name(fields_id));
    list_->setRootIsDecorated(false);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setHeaderLabels(
        {QString(), QStringLiteral("Field Name"), QStringLiteral("Field Type"), QStringLiteral("Default value")});
    list_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    layout->addWidget(list_);
    auto* grid = new QGridLayout();
    name_ = page_widgets::edit(this, field_name_id, max_field_name);
    type_ = page_widgets::combo(this, type_id);
    default_ = page_widgets::edit(this, default_id, max_field_name);
    length_ = number_edit(this, length_id);
    precision_ = number_edit(this, precision_id);
    scale_ = number_edit(this, scale_id);
    grid->addWidget(page_widgets::buddy_label(this, QStringLiteral("Field &name:"), name_), 0, 0);
    grid->addWidget(name_, 0, 1);
    grid->addWidget(page_widgets::buddy_label(this, QStringLiteral("T&ype:"), type_), 1, 0);
    grid->addWidget(type_, 1, 1);
    grid->addWidget(page_widgets::buddy_label(this, QStringLiteral("&Default:"), default_), 2, 0);
    grid->addWidget(default_, 2, 1);
    QLabel* l1 = page_widgets::label(this, length_label_id, QStringLiteral("&Length:"));
    QLabel* l2 = page_widgets::label(this, precision_label_id, QStringLiteral("&Precision:"));
    QLabel* l3 = page_widgets::label(this, scale_label_id, QStringLiteral("&Scale:"));
    l1->setBuddy(length_);
    l2->setBuddy(precision_);
    l3->setBuddy(scale_);
    grid->addWidget(l1, 3, 0);
    grid->addWidget(length_, 3, 1);
    grid->addWidget(l2, 4, 0);
    grid->addWidget(precision_, 4, 1);
    grid->addWidget(l3, 5, 0);
    grid->addWidget(scale_, 5, 1);
    layout->addLayout(grid);
    QDialogButtonBox* buttons = page_widgets::ok_cancel_help(this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] { wizard_shell::guard([this] { on_ok(); }); });
    connect(buttons, &QDialogButtonBox::rejected, this, [this] {
        tk_log(1, "types_map_dlg::on_cancel");
        reject();
    });
    connect(buttons, &QDialogButtonBox::helpRequested, this, [] { gui_error_box::open_help(help_topic); });

    tk_log(1, "types_map_dlg::on_init");
    table_name_->setText(QString::fromStdWString(model_.new_table_name));
    for (size_t i = 0; i < model_.rows.size(); ++i) {
        auto* item = new QTreeWidgetItem(list_);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        refresh_item(static_cast<int>(i));
    }
    connect(list_, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
        if (column != 0) return;
        const int index = list_->indexOfTopLevelItem(item);
        if (index >= 0) model_.rows[index].kept = item->checkState(0) == Qt::Checked;
    });
    connect(list_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* now, QTreeWidgetItem*) {
        if (moving_) return;
        tk_log(1, "types_map_dlg::on_item_changed");
        select_row(list_->indexOfTopLevelItem(now));
    });
    connect(type_, &QComboBox::currentIndexChanged, this, [this] { show_ctrl(); });
    if (!model_.rows.empty()) {
        list_->setCurrentItem(list_->topLevelItem(0));
        list_->setFocus();
    }
}

void types_map_dlg::select_row(int index) {
    if (current_ >= 0 && index != current_) {
        const std::wstring refusal = read_row();
        if (!refusal.empty()) {
            // The row stays selected until it is fixed.
            moving_ = true;
            list_->setCurrentItem(list_->topLevelItem(current_));
            moving_ = false;
            wizard_shell::message(refusal);
            return;
        }
    }
    tk_log(1, "Row #%d is selected", index);
    show_row(index);
}

void types_map_dlg::refresh_item(int index) {
    const auto& r = model_.rows[index];
    QTreeWidgetItem* item = list_->topLevelItem(index);
    moving_ = true;
    item->setCheckState(0, r.kept ? Qt::Checked : Qt::Unchecked);
    item->setText(1, QString::fromStdWString(r.new_name));
    item->setText(2, QString::fromStdWString(r.shown_type()));
    item->setText(3, QString::fromStdWString(r.default_value));
    moving_ = false;
}

void types_map_dlg::show_row(int index) {
    current_ = index;
    if (index < 0) return;
    const auto& r = model_.rows[index];
    name_->setText(QString::fromStdWString(r.new_name));
    default_->setText(QString::fromStdWString(r.default_value));
    length_->setText(r.length >= 65536 ? QString() : number_text(r.length));
    precision_->setText(number_text(r.precision));
    scale_->setText(number_text(r.scale));
    set_available_conversions(index);
    show_ctrl();
}

void types_map_dlg::set_available_conversions(int index) {
    tk_log(1, "types_map_dlg::set_available_conversions(%d)", index);
    const auto& r = model_.rows[index];
    tk_wlog(1, L"selected_field_type.type=%ls", r.type.c_str());
    type_->blockSignals(true);
    type_->clear();
    for (const auto& t : types_map_model::mapped_types(r.source_type)) {
        tk_wlog(1, L"Adding->%ls", t.c_str());
        type_->addItem(QString::fromStdWString(t));
    }
    // The row's type by its name (the shown text up to "(").
    type_->setCurrentIndex(type_->findText(QString::fromStdWString(r.type), Qt::MatchFixedString));
    type_->blockSignals(false);
}

void types_map_dlg::show_ctrl() {
    const std::wstring type = type_->currentText().toStdWString();
    const bool length = types_map_model::takes(type, L"LENGTH");
    const bool precision = types_map_model::takes(type, L"PRECISION");
    const bool scale = types_map_model::takes(type, L"SCALE");
    tk_log(1, "types_map_dlg::show_ctrl(%d=%d)", length_id, length ? 1 : 0);
    tk_log(1, "types_map_dlg::show_ctrl(%d=%d)", precision_id, precision ? 1 : 0);
    tk_log(1, "types_map_dlg::show_ctrl(%d=%d)", scale_id, scale ? 1 : 0);
    length_->setVisible(length);
    findChild<QLabel*>(qt_page_view::control_name(length_label_id))->setVisible(length);
    precision_->setVisible(precision);
    findChild<QLabel*>(qt_page_view::control_name(precision_label_id))->setVisible(precision);
    scale_->setVisible(scale);
    findChild<QLabel*>(qt_page_view::control_name(scale_label_id))->setVisible(scale);
}

std::wstring types_map_dlg::read_row() {
    if (current_ < 0) return std::wstring();
    types_map_model::row r = model_.rows[current_];
    const std::wstring name = name_->text().trimmed().toStdWString();
    if (name.empty()) return L"Name cannot be empty. Try again.";
    r.new_name = name;
    if (type_->currentIndex() >= 0) r.type = type_->currentText().toStdWString();
    r.default_value = default_->text().toStdWString();
    // An empty number keeps the row's value.
    if (!length_->text().isEmpty()) r.length = length_->text().toULongLong();
    if (!precision_->text().isEmpty()) r.precision = precision_->text().toUInt();
    if (!scale_->text().isEmpty()) r.scale = scale_->text().toUInt();
    const std::wstring refusal = types_map_model::check_row(r);
    if (!refusal.empty()) return refusal;
    model_.rows[current_] = std::move(r);
    refresh_item(current_);
    return std::wstring();
}

void types_map_dlg::on_ok() {
    tk_log(1, "types_map_dlg::on_ok");
    const std::wstring refusal = read_row();
    if (!refusal.empty()) {
        wizard_shell::message(refusal);
        return;
    }
    // A row recorded before with a type it cannot have is shown, and so is
    // a field named as another kept field.
    for (size_t i = 0; i < model_.rows.size(); ++i) {
        const std::wstring bad = types_map_model::check_row(model_.rows[i]);
        if (bad.empty()) continue;
        list_->setCurrentItem(list_->topLevelItem(static_cast<int>(i)));
        wizard_shell::message(bad);
        return;
    }
    std::wstring taken;
    if (const int row = model_.taken_name(taken); row >= 0) {
        list_->setCurrentItem(list_->topLevelItem(row));
        wizard_shell::message(taken);
        return;
    }
    const std::wstring table_name = table_name_->text().trimmed().toStdWString();
    if (table_name.empty()) {
        wizard_shell::message(L"Name cannot be empty. Try again.");
        return;
    }
    model_.new_table_name = table_name;
    model_.save(*pellix_converter::ptr(), table_name);
    accept();
}

bool types_map_dlg::edit_table(const std::wstring& table) {
    tk_log(1, "Ready for types mapping");
    pellix_converter* conv = pellix_converter::ptr();
    try {
        // The folder may have changed since the list was read.
        std::wstring name;
        {
            dbf_database source(conv->source, udb_open_read, static_cast<uint8_t>(conv->code_page & 0xFF), false,
                                error_handler::reader_reporter());
            for (const auto& n : source.table_names)
                if (n == table) name = n;
            for (const auto& n : source.table_names)
                if (name.empty() && udb_same_name(n, table)) name = n;
        }
        if (name.empty()) {
            wizard_shell::error(L"Table " + table + L" not exists");
            return false;
        }
        std::wstring error;
        if (!types_map_model::load_maps(error)) {
            wizard_shell::error(error);
            return false;
        }
        const udb_schema shown = conv->get_schema(name);
        udb_schema keys;
        {
            dbf_database source(conv->source, udb_open_read, static_cast<uint8_t>(conv->code_page & 0xFF), false,
                                error_handler::reader_reporter());
            std::unique_ptr<udb_recordset> rs = source.get_table(name, udb_open_read);
            keys = rs->schema;
        }
        types_map_model model;
        model.load(name, shown, keys, *conv, conv->bool_dbf);
        types_map_dlg dlg(wizard_shell::owner_window(), std::move(model));
        return gui_call::exec_modal(dlg) == QDialog::Accepted;
    } catch (const tk_exception& e) {
        gui_error_box::show(e);
    } catch (const std::exception& e) {
        wizard_shell::error(std::string(e.what()));
    }
    return false;
}
