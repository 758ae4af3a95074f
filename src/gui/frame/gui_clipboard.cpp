#include "gui/frame/gui_clipboard.h"

#include <QClipboard>
#include <QGuiApplication>

#include "gui/frame/gui_call.h"

bool tk_copy_to_clipboard2(const std::wstring& text) {
    bool copied = false;
    gui_call::run([&] {
        QClipboard* clipboard = QGuiApplication::clipboard();
        if (clipboard == nullptr) return;
        clipboard->setText(QString::fromStdWString(text));
        copied = true;
    });
    return copied;
}
