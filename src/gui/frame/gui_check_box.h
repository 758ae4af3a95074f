// A check box that does not toggle itself: the page decides
// (wizard_page::invert_chbox), so a click or Space toggles exactly once.
#pragma once

#include <QCheckBox>

class gui_check_box : public QCheckBox {
public:
    explicit gui_check_box(const QString& text, QWidget* parent = nullptr) : QCheckBox(text, parent) {}

protected:
    void nextCheckState() override {}
};
