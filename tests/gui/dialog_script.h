// A test's answers to the dialogs the wizard's pages open modally.
#pragma once

#include <QAbstractButton>
#include <QDialog>
#include <QMessageBox>
#include <QString>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "gui/frame/gui_call.h"

// Answers every dialog the pages open: message boxes are recorded (a
// question gets `yes`); other dialogs go to the handler for their
// objectName, else they are cancelled. Handlers run in the dialog's own
// event loop, so they click and type into it like a user.
struct dialog_script {
    std::vector<std::string> boxes;
    std::vector<std::string> titles;
    bool yes = true;
    std::map<QString, std::function<void(QDialog&)>> handlers;
    std::map<QString, int> opened;

    dialog_script() {
        gui_call::set_modal_hook([this](QDialog& d) { answer(d); });
    }
    ~dialog_script() { gui_call::set_modal_hook({}); }

    void answer(QDialog& d) {
        if (auto* box = qobject_cast<QMessageBox*>(&d)) {
            boxes.push_back(box->text().toStdString());
            titles.push_back(box->windowTitle().toStdString());
            if (QAbstractButton* b = box->button(yes ? QMessageBox::Yes : QMessageBox::No))
                b->click();
            else
                box->accept();
            return;
        }
        ++opened[d.objectName()];
        auto it = handlers.find(d.objectName());
        if (it != handlers.end())
            it->second(d);
        else
            d.reject();
    }
};
