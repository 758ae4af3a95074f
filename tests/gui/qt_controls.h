// Driving the wizard's real widgets in tests: finding a control by its id
// and clicking, double clicking or typing the way a user would.
#pragma once

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QTest>
#include <QTreeWidget>
#include <QWidget>

#include "gui/frame/qt_page_view.h"

// The control <id> under `root`; a missing one fails the test.
template <typename W>
W* child(QWidget* root, int id) {
    W* w = root->findChild<W*>(qt_page_view::control_name(id));
    EXPECT_NE(w, nullptr) << "no control " << id << " in " << root->objectName().toStdString();
    return w;
}

// Radios and boxes are clicked on their indicator: a stretched one takes
// no click in its empty right part.
inline void click(QWidget* w) {
    if (qobject_cast<QRadioButton*>(w) || qobject_cast<QCheckBox*>(w))
        QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(6, w->height() / 2));
    else
        QTest::mouseClick(w, Qt::LeftButton);
}

// Clicks (or double clicks) the row of a list that shows this text.
inline void click_row(QListWidget* list, const QString& text, bool twice = false, Qt::KeyboardModifiers keys = {}) {
    const auto found = list->findItems(text, Qt::MatchExactly);
    ASSERT_EQ(found.size(), 1) << text.toStdString();
    const QPoint at = list->visualItemRect(found.first()).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, keys, at);
    if (twice) QTest::mouseDClick(list->viewport(), Qt::LeftButton, keys, at);
}

// Replaces the edit's text by typing.
inline void retype(QLineEdit* edit, const QString& text) {
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
}

// The row of the table editor's field list whose name column shows `name`.
inline QTreeWidgetItem* row_named(QTreeWidget* list, const QString& name) {
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        if (list->topLevelItem(i)->text(1) == name) return list->topLevelItem(i);
    return nullptr;
}
