#include "gui/frame/gui_box_layout.h"

#include <QFontMetrics>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>

#include <algorithm>

namespace {

// The widest box QMessageBox makes: the screen less 480 pixels, at most
// 1000, or the whole width of a screen up to 1024 pixels wide.
int widest_box(const QMessageBox& box) {
    const QScreen* screen = box.screen();
    const int width = screen != nullptr ? screen->availableGeometry().width() : 1024;
    return width <= 1024 ? width : std::min(width - 480, 1000);
}

// What the box needs beside its text: its margins, the icon and the gap
// between them, and a little to spare for the frame's rounding.
int beside_text(const QMessageBox& box) {
    int width = 16;
    if (const auto* grid = qobject_cast<const QGridLayout*>(box.layout())) {
        const QMargins margins = grid->contentsMargins();
        width += margins.left() + margins.right() + std::max(grid->horizontalSpacing(), 0);
    }
    if (const auto* icon = box.findChild<const QLabel*>(QStringLiteral("qt_msgboxex_icon_label")))
        width += icon->sizeHint().width();
    return width;
}

}  // namespace

QString gui_box_layout::plain_lines(const QString& text) {
    QString lines = text;
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    lines.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return lines;
}

void gui_box_layout::fit_lines(QMessageBox& box) {
    auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    if (label == nullptr) return;
    const QFontMetrics metrics(label->font());
    int longest = 0;
    for (const QString& line : box.text().split(QLatin1Char('\n')))
        longest = std::max(longest, metrics.horizontalAdvance(line));
    // The label's own margins and indent around the text, and a few pixels
    // beyond the measure, so the wrap never meets a line's last word.
    const QMargins margins = label->contentsMargins();
    const int around = margins.left() + margins.right() + 2 * label->margin() + std::max(label->indent(), 0) + 4;
    label->setMinimumWidth(std::min(longest + around, widest_box(box) - beside_text(box)));
}
