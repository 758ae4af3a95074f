// The question asked when the destination database already exists
// (dialog 121): a text (1320) and the four modes as radios 1329 to 1332,
// OK, Cancel and Help (topic 1013). The current mode (a loaded profile's)
// starts ticked; OK gives the ticked mode. A mode without a radio (4, from
// a profile) ticks none, and OK then keeps it.
#pragma once

#include <QDialog>

#include <string>

class overwrite_dlg2 : public QDialog {
public:
    static constexpr int dialog = 121;
    static constexpr int help_topic = 1013;
    // Controls: the text and the radio of mode 0; mode m is first_mode_id + m.
    static constexpr int text_id = 1320;
    static constexpr int first_mode_id = 1329;
    static constexpr int modes = 4;

    overwrite_dlg2(QWidget* owner, const std::wstring& text, int current_mode);

    // The mode of the ticked radio (0 to 3), or the current mode when none
    // is ticked.
    int get_mode() const;

    // Runs the dialog modally: the chosen mode, or -1 for Cancel.
    static int ask(const std::wstring& text, int current_mode);

private:
    void on_ok();
    const int current_mode_;
    int mode_ = 0;
};
