// page_view over Qt widgets: control <id> is the descendant of the root
// widget whose objectName is "ctl_<id>". Clicks, double clicks, focus-in
// and selection changes of those controls reach the sink; Enter and F2 on
// a list's current item reach it as its double click and edit, and go no
// further (Enter does not press the default button). A missing control is
// an assertion.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include "gui/frame/page_view.h"

class QKeyEvent;

class qt_page_view : public QObject, public page_view {
public:
    explicit qt_page_view(QWidget* root);
    ~qt_page_view() override;

    static QString control_name(int id);

    QWidget* control(int id) const;  // asserts when missing

    bool has_control(int id) const override;
    void set_text(int id, const std::wstring& text) override;
    std::wstring get_text(int id) const override;
    void set_check(int id, bool checked) override;
    bool get_check(int id) const override;
    void set_enabled(int id, bool on) override;
    bool is_enabled(int id) const override;
    void set_visible(int id, bool on) override;
    bool is_visible(int id) const override;
    void set_focus(int id) override;
    void set_read_only(int id, bool on) override;
    void set_bold(int id, bool on) override;
    void clear_items(int id) override;
    int add_item(int id, const std::wstring& text, int64_t data) override;
    int item_count(int id) const override;
    std::wstring item_text(int id, int index) const override;
    int64_t item_data(int id, int index) const override;
    int current_index(int id) const override;
    void set_current_index(int id, int index) override;
    void set_range(int id, int low, int high) override;
    void set_pos(int id, int pos) override;
    int get_pos(int id) const override;
    void set_sink(command_sink sink) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void connect_controls();
    void send(int id, command_event event);
    // Enter or F2 on a list's current item: sent, and true (the key is used).
    bool open_item_by_key(QObject* watched, const QKeyEvent& key);

    QPointer<QWidget> root_;
    command_sink sink_;
    bool connected_ = false;
};
