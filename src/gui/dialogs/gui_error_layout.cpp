#include "gui/dialogs/gui_error_layout.h"

#include <QApplication>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "gui/frame/qt_page_view.h"

QHBoxLayout* gui_error_layout::build(QDialog& dialog, const QString& caption, const QString& message) {
    dialog.setWindowTitle(caption);
    auto* outer = new QVBoxLayout(&dialog);
    auto* top = new QHBoxLayout();
    auto* icon = new QLabel(&dialog);
    icon->setPixmap(dialog.style()->standardIcon(QStyle::SP_MessageBoxCritical).pixmap(32, 32));
    icon->setAlignment(Qt::AlignTop);
    // The whole message, scrolling when long.
    auto* text = new QPlainTextEdit(&dialog);
    text->setObjectName(qt_page_view::control_name(message_id));
    text->setReadOnly(true);
    text->setPlainText(message);
    text->setFocusPolicy(Qt::ClickFocus);
    top->addWidget(icon);
    top->addWidget(text, 1);
    outer->addLayout(top, 1);
    auto* row = new QHBoxLayout();
    row->addStretch(1);
    outer->addLayout(row);
    dialog.resize(480, 220);
    return row;
}

QPushButton* gui_error_layout::button(QDialog& dialog, QHBoxLayout* row, const QString& text, int id) {
    auto* b = new QPushButton(text, &dialog);
    b->setObjectName(qt_page_view::control_name(id));
    b->setAutoDefault(false);
    row->addWidget(b);
    return b;
}
