// Answers every dialog the wizard opens during a test, from the dialog's
// own event loop, and records what each one said: message boxes (questions
// get `yes`), the level-0 report 115 (Continue, or Abort; its buttons are
// recorded as " [Continue|Abort]" after its text), the internal
// error 114 (OK, or Send bug) and the save picker (the file name to type;
// its own question whether to replace a file gets `yes`, and No cancels
// the picker).
#pragma once

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "gui/frame/gui_call.h"

struct wizard_answers {
    bool yes = true;
    bool abort_115 = false;
    bool send_bug_114 = false;
    std::string save_as;               // empty: the picker is cancelled
    std::function<void()> before_box;  // runs before a message box is answered

    wizard_answers() {
        gui_call::set_modal_hook([this](QDialog& d) { answer(d); });
    }
    ~wizard_answers() { gui_call::set_modal_hook({}); }

    std::vector<std::string> seen() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return seen_;
    }
    bool saw(const std::string& part) const {
        for (const std::string& s : seen())
            if (s.find(part) != std::string::npos) return true;
        return false;
    }

private:
    void record(const QDialog& d, const QString& text) {
        std::lock_guard<std::mutex> lock(mutex_);
        seen_.push_back(d.objectName().toStdString() + ": " + d.windowTitle().toStdString() + ": " +
                        text.toStdString());
    }
    static QString error_text(QDialog& d) {
        auto* text = d.findChild<QPlainTextEdit*>(QStringLiteral("ctl_1320"));
        return text != nullptr ? text->toPlainText() : QString();
    }
    void answer(QDialog& d) {
        if (auto* box = qobject_cast<QMessageBox*>(&d)) {
            record(d, box->text());
            if (before_box) before_box();
            if (QAbstractButton* b = box->button(yes ? QMessageBox::Yes : QMessageBox::No))
                b->click();
            else
                box->accept();
        } else if (auto* picker = qobject_cast<QFileDialog*>(&d)) {
            record(d, picker->windowTitle());
            if (save_as.empty()) {
                picker->reject();
                return;
            }
            picker->selectFile(QString::fromStdString(save_as));
            // The picker asks from its accept(), outside the modal hook.
            QTimer::singleShot(0, picker, [this, picker] { answer_picker_question(*picker); });
            static_cast<QDialog*>(picker)->accept();
        } else if (d.objectName() == QStringLiteral("dlg_115")) {
            // With nothing to stop the dialog has one OK (ctl_1).
            QStringList buttons;
            for (QPushButton* b : d.findChildren<QPushButton*>()) buttons << b->text();
            record(d, error_text(d) + QStringLiteral(" [") + buttons.join(QLatin1Char('|')) + QLatin1Char(']'));
            auto* go_on = d.findChild<QPushButton*>(QStringLiteral("ctl_2"));
            if (abort_115 || go_on == nullptr) go_on = d.findChild<QPushButton*>(QStringLiteral("ctl_1"));
            go_on->click();
        } else if (d.objectName() == QStringLiteral("dlg_114")) {
            record(d, error_text(d));
            d.findChild<QPushButton*>(send_bug_114 ? QStringLiteral("ctl_1112") : QStringLiteral("ctl_1"))->click();
        } else {
            record(d, QString());
            d.reject();
        }
    }

    void answer_picker_question(QFileDialog& picker) {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) return;
        record(*box, box->text());
        if (QAbstractButton* b = box->button(yes ? QMessageBox::Yes : QMessageBox::No)) b->click();
        if (!yes) QTimer::singleShot(0, &picker, [&picker] { picker.reject(); });
    }

    mutable std::mutex mutex_;
    std::vector<std::string> seen_;
};
