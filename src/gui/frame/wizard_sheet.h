// The wizard's window: a header band (title, subtitle) or a watermark
// beside a stack of pages, and the buttons btn_back, btn_next, btn_finish
// (in Next's place), btn_cancel and btn_help. It only shows; every button,
// F1, Escape and the close box go to the wizard_shell. Help has no mnemonic
// (F1 is its key), so the pages' labels keep theirs.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;
class QStackedWidget;
class QWidget;
class wizard_shell;

class wizard_sheet : public QDialog {
public:
    explicit wizard_sheet(wizard_shell& shell);

    void add_page(QWidget* page);
    void show_page(QWidget* page, bool header, const QString& title, const QString& subtitle, bool has_help);

    // Button bits of wizard_button.
    void set_buttons(int buttons);
    void enable_button(int button, bool on);
    // Which buttons are shown and enabled, to put them back after a failed move.
    struct button_state {
        bool back_enabled, next_enabled, finish_enabled, finish_shown, cancel_enabled;
    };
    button_state save_buttons() const;
    void restore_buttons(const button_state& state);
    bool cancel_enabled() const;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

public:
    void reject() override;  // Escape: the shell's cancel

private:
    wizard_shell& shell_;
    QWidget* header_;
    QLabel* title_;
    QLabel* subtitle_;
    QWidget* watermark_;
    QStackedWidget* stack_;
    QPushButton* back_;
    QPushButton* next_;
    QPushButton* finish_;
    QPushButton* cancel_;
    QPushButton* help_;
};
