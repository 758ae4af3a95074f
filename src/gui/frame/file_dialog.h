// The wizard's file pickers.
//
// A picker opens in the folder of its initial path without moving the
// process's current folder (the worker may rely on it). Filters are given
// as "Description (.ext)" (one pattern, plus "All Files (*)") or as
// "|"-separated description/pattern pairs. Names come back as the file
// system's bytes (QFile::encodeName), whole, whatever their length. The
// save picker appends its default extension to a name without one, once,
// before it asks whether to replace an existing file of that name.
#pragma once

#include <QStringList>

#include <string>

class QWidget;

class file_dialog {
public:
    file_dialog(QWidget* owner, const std::string& filter, const std::string& initial_path);
    virtual ~file_dialog() = default;

    // True when the user chose a file; a cancelled picker changes nothing.
    virtual bool show() = 0;
    const std::string& get_file_name() const { return file_name_; }
    // The picker's window title (UTF-8); empty leaves Qt's own.
    void set_title(const std::string& title) { title_ = title; }

    static QStringList make_filters(const std::string& filter);

protected:
    // Runs the picker; the chosen name (encoded) or empty when cancelled.
    std::string run(bool save, const std::string& default_extension);

    QWidget* owner_;
    std::string filter_;
    std::string file_name_;
    std::string title_;
};

class open_file_dialog : public file_dialog {
public:
    using file_dialog::file_dialog;
    bool show() override;
};

class save_file_dialog : public file_dialog {
public:
    // An empty default extension is an assertion; a leading "." is optional.
    save_file_dialog(QWidget* owner, const std::string& filter, const std::string& initial_path,
                     const std::string& default_extension);
    bool show() override;

    // `name` with the extension appended when its last part has none.
    static std::string with_extension(const std::string& name, const std::string& extension);

private:
    std::string extension_;  // with its leading "."
};
