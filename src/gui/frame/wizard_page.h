// One page of the wizard.
//
// A page is identified by its dialog number and carries its button set
// (wizard_button bits), its flags (header band or watermark, help) and its
// header texts. Its callbacks are plain C++; the shell calls each one
// inside a guard, so a failure is reported and never crosses the event
// loop. Controls are reached through view(), by id.
#pragma once

#include <memory>
#include <string>

#include <QPointer>
#include <QWidget>

#include "gui/frame/page_view.h"

enum wizard_button : int { wiz_back = 1, wiz_next = 2, wiz_finish = 4 };
enum page_flag : int { page_has_help = 1, page_header = 2 };

class wizard_page {
public:
    wizard_page(int dialog, int buttons, int flags, std::wstring title = {}, std::wstring subtitle = {},
                int help_topic = 0);
    virtual ~wizard_page();

    wizard_page(const wizard_page&) = delete;
    wizard_page& operator=(const wizard_page&) = delete;

    int get_dialog() const { return dialog_; }
    int get_buttons() const { return buttons_; }
    int get_flags() const { return flags_; }
    const std::wstring& get_title() const { return title_; }
    const std::wstring& get_subtitle() const { return subtitle_; }
    int get_help_topic() const { return help_topic_; }

    // The page is being activated: > 0 shows it, otherwise it is skipped
    // in the direction of the move.
    virtual int page_init() { return 1; }
    // The page is being left: 1 allows.
    virtual int kill_active() { return 1; }
    // Finish was pressed: 1 ends the wizard.
    virtual int wizard_finish() { return 1; }
    // Help button or F1: opens the page's help topic, when it has one.
    virtual void help();
    // Next and Back: a dialog number, 0 for the neighbour, -1 to stay.
    virtual int on_next() { return 0; }
    virtual int on_back() { return 0; }
    // Cancel, Escape or the close box: true lets the wizard close. Asks.
    virtual bool on_cancel();
    // A tick of the shell's timer while this page is current.
    virtual void on_timer() {}
    // An event of one of the page's controls.
    virtual void on_command(int id, command_event event) { (void)id, (void)event; }

    void enable_ctrl(int id, bool on);
    void show_ctrl(int id, bool on);
    // Ticks a box that is not ticked, clears one that is.
    void invert_chbox(int id);

    page_view& view();
    // Tests put a fake in place of the Qt controls.
    void set_view(std::unique_ptr<page_view> view);

    // The page's widget, made on first use (objectName "page_<dialog>").
    QWidget* widget();

protected:
    // Builds the page's controls. Default: an empty page.
    virtual QWidget* create_widget();

private:
    int dialog_;
    int buttons_;
    int flags_;
    std::wstring title_;
    std::wstring subtitle_;
    int help_topic_;
    QPointer<QWidget> widget_;  // deleted with the page (or with the sheet that shows it)
    std::unique_ptr<page_view> view_;

    friend class wizard_shell;
};
