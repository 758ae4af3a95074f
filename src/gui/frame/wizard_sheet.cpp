#include "gui/frame/wizard_sheet.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "gui/frame/wizard_page.h"
#include "gui/frame/wizard_shell.h"

namespace {

QPushButton* make_button(const QString& text, const char* name, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QLatin1String(name));
    // Only Next/Finish may answer Enter: Enter never means Back or Cancel.
    button->setAutoDefault(false);
    return button;
}

}  // namespace

wizard_sheet::wizard_sheet(wizard_shell& shell) : QDialog(nullptr), shell_(shell) {
    setObjectName(QStringLiteral("wizard_sheet"));
    auto* outer = new QVBoxLayout(this);

    header_ = new QWidget(this);
    header_->setObjectName(QStringLiteral("header"));
    header_->setAutoFillBackground(true);
    QPalette pal = header_->palette();
    pal.setColor(QPalette::Window, Qt::white);
    header_->setPalette(pal);
    auto* header_layout = new QVBoxLayout(header_);
    title_ = new QLabel(header_);
    title_->setObjectName(QStringLiteral("header_title"));
    QFont bold = title_->font();
    bold.setBold(true);
    title_->setFont(bold);
    subtitle_ = new QLabel(header_);
    subtitle_->setObjectName(QStringLiteral("header_subtitle"));
    subtitle_->setWordWrap(true);
    header_layout->addWidget(title_);
    header_layout->addWidget(subtitle_);
    outer->addWidget(header_);

    auto* body = new QHBoxLayout();
    watermark_ = new QWidget(this);
    watermark_->setObjectName(QStringLiteral("watermark"));
    watermark_->setFixedWidth(164);
    watermark_->setAutoFillBackground(true);
    QPalette wpal = watermark_->palette();
    wpal.setColor(QPalette::Window, QColor(0x1f, 0x4e, 0x79));
    watermark_->setPalette(wpal);
    stack_ = new QStackedWidget(this);
    body->addWidget(watermark_);
    body->addWidget(stack_, 1);
    outer->addLayout(body, 1);

    auto* buttons = new QHBoxLayout();
    back_ = make_button(QStringLiteral("< &Back"), "btn_back", this);
    next_ = make_button(QStringLiteral("&Next >"), "btn_next", this);
    finish_ = make_button(QStringLiteral("&Finish"), "btn_finish", this);
    cancel_ = make_button(QStringLiteral("Cancel"), "btn_cancel", this);
    // No mnemonic: Alt+H belongs to the pages' labels ("&Host:"); F1 is Help's key.
    help_ = make_button(QStringLiteral("Help"), "btn_help", this);
    next_->setDefault(true);
    buttons->addStretch(1);
    for (QPushButton* b : {back_, next_, finish_, cancel_, help_}) buttons->addWidget(b);
    outer->addLayout(buttons);
    finish_->hide();

    connect(back_, &QPushButton::clicked, this, [this] { shell_.press_back(); });
    connect(next_, &QPushButton::clicked, this, [this] { shell_.press_next(); });
    connect(finish_, &QPushButton::clicked, this, [this] { shell_.press_finish(); });
    connect(cancel_, &QPushButton::clicked, this, [this] { shell_.press_cancel(); });
    connect(help_, &QPushButton::clicked, this, [this] { shell_.press_help(); });
    resize(640, 480);
}

void wizard_sheet::add_page(QWidget* page) { stack_->addWidget(page); }

void wizard_sheet::show_page(QWidget* page, bool header, const QString& title, const QString& subtitle, bool has_help) {
    stack_->setCurrentWidget(page);
    header_->setVisible(header);
    watermark_->setVisible(!header);
    title_->setText(title);
    subtitle_->setText(subtitle);
    help_->setVisible(has_help);
}

void wizard_sheet::set_buttons(int buttons) {
    back_->setEnabled((buttons & wiz_back) != 0);
    const bool finish = (buttons & wiz_finish) != 0;
    next_->setVisible(!finish);
    finish_->setVisible(finish);
    next_->setEnabled((buttons & wiz_next) != 0);
    finish_->setEnabled(finish);
    next_->setDefault(!finish);
    finish_->setDefault(finish);
}

void wizard_sheet::enable_button(int button, bool on) {
    if (button & wiz_back) back_->setEnabled(on);
    if (button & wiz_next) next_->setEnabled(on);
    if (button & wiz_finish) finish_->setEnabled(on);
    // Any other bit stands for Cancel.
    if (button & ~(wiz_back | wiz_next | wiz_finish)) cancel_->setEnabled(on);
}

wizard_sheet::button_state wizard_sheet::save_buttons() const {
    return {back_->isEnabled(), next_->isEnabled(), finish_->isEnabled(), !finish_->isHidden(), cancel_->isEnabled()};
}

void wizard_sheet::restore_buttons(const button_state& s) {
    back_->setEnabled(s.back_enabled);
    next_->setEnabled(s.next_enabled);
    finish_->setEnabled(s.finish_enabled);
    finish_->setVisible(s.finish_shown);
    next_->setVisible(!s.finish_shown);
    next_->setDefault(!s.finish_shown);
    finish_->setDefault(s.finish_shown);
    cancel_->setEnabled(s.cancel_enabled);
}

bool wizard_sheet::cancel_enabled() const { return cancel_->isEnabled(); }

void wizard_sheet::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F1) {
        shell_.press_help();
        return;
    }
    QDialog::keyPressEvent(event);
}

void wizard_sheet::closeEvent(QCloseEvent* event) {
    // The close box asks like Cancel; the shell closes the sheet by done().
    event->ignore();
    shell_.press_cancel();
}

void wizard_sheet::reject() { shell_.press_cancel(); }
