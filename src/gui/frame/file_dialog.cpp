#include "gui/frame/file_dialog.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>

#include "gui/frame/gui_call.h"
#include "tk/tk_exception.h"
#include "tk/tk_logger.h"

namespace {

QString decode(const std::string& name) {
    return QFile::decodeName(QByteArray(name.data(), static_cast<qsizetype>(name.size())));
}

std::string encode(const QString& name) {
    const QByteArray bytes = QFile::encodeName(name);
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

// "(.ext)" and "(*.ext)" both name the pattern "*.ext".
QString one_filter(const QString& description, QString pattern) {
    pattern = pattern.trimmed();
    if (pattern.startsWith(QLatin1Char('.'))) pattern.prepend(QLatin1Char('*'));
    return description.trimmed() + QStringLiteral(" (") + pattern + QLatin1Char(')');
}

}  // namespace

file_dialog::file_dialog(QWidget* owner, const std::string& filter, const std::string& initial_path)
    : owner_(owner), filter_(filter), file_name_(initial_path) {}

QStringList file_dialog::make_filters(const std::string& filter) {
    const QString text = QString::fromUtf8(filter.data(), static_cast<qsizetype>(filter.size()));
    QStringList out;
    if (text.contains(QLatin1Char('|'))) {
        const QStringList parts = text.split(QLatin1Char('|'), Qt::SkipEmptyParts);
        for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
            QString patterns;
            for (const QString& p : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
                QString one = p.trimmed();
                if (one.startsWith(QLatin1Char('.'))) one.prepend(QLatin1Char('*'));
                patterns += (patterns.isEmpty() ? QString() : QStringLiteral(" ")) + one;
            }
            QString description = parts[i];
            const qsizetype paren = description.indexOf(QLatin1Char('('));
            if (paren > 0) description = description.left(paren);
            out << one_filter(description, patterns);
        }
    } else if (!text.trimmed().isEmpty()) {
        const qsizetype open = text.lastIndexOf(QLatin1Char('('));
        const qsizetype close = text.lastIndexOf(QLatin1Char(')'));
        if (open >= 0 && close > open)
            out << one_filter(text.left(open), text.mid(open + 1, close - open - 1));
        else
            out << text.trimmed();
    }
    if (!out.contains(QStringLiteral("All Files (*)"))) out << QStringLiteral("All Files (*)");
    return out;
}

std::string file_dialog::run(bool save, const std::string& default_extension) {
    std::string chosen;
    gui_call::run([&] {
        const QFileInfo initial(decode(file_name_));
        QFileDialog dialog(owner_);
        dialog.setObjectName(save ? QStringLiteral("save_file_dialog") : QStringLiteral("open_file_dialog"));
        dialog.setOption(QFileDialog::DontUseNativeDialog, true);
        if (!title_.empty()) dialog.setWindowTitle(QString::fromUtf8(title_.c_str()));
        dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
        dialog.setNameFilters(make_filters(filter_));
        // The picker itself adds the extension, so its question whether to
        // replace an existing file is asked about the name that is saved.
        if (save && default_extension.size() > 1)
            dialog.setDefaultSuffix(QString::fromStdString(default_extension.substr(1)));
        // The folder of the initial path: the process's current folder stays.
        if (!file_name_.empty()) {
            dialog.setDirectory(initial.absolutePath());
            if (!initial.isDir()) dialog.selectFile(initial.fileName());
        }
        if (gui_call::exec_modal(dialog) != QDialog::Accepted) return;
        const QStringList files = dialog.selectedFiles();
        if (files.isEmpty()) return;
        chosen = encode(files.first());
    });
    if (!chosen.empty() && save) chosen = save_file_dialog::with_extension(chosen, default_extension);
    return chosen;
}

bool open_file_dialog::show() {
    tk_log(1, "open_file_dialog::show");
    std::string chosen = run(false, std::string());
    if (chosen.empty()) return false;
    file_name_ = std::move(chosen);
    return true;
}

save_file_dialog::save_file_dialog(QWidget* owner, const std::string& filter, const std::string& initial_path,
                                   const std::string& default_extension)
    : file_dialog(owner, filter, initial_path) {
    TK_ASSERT(!default_extension.empty());
    extension_ = default_extension[0] == '.' ? default_extension : "." + default_extension;
}

bool save_file_dialog::show() {
    tk_log(1, "save_file_dialog::show");
    std::string chosen = run(true, extension_);
    if (chosen.empty()) return false;
    file_name_ = std::move(chosen);
    return true;
}

std::string save_file_dialog::with_extension(const std::string& name, const std::string& extension) {
    const size_t slash = name.rfind('/');
    const size_t base = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = name.rfind('.');
    const bool has_dot = dot != std::string::npos && dot > base;
    if (has_dot && dot + 1 < name.size()) return name;  // has an extension
    std::string ext = extension;
    if (!ext.empty() && ext[0] != '.') ext.insert(0, ".");
    // "out." takes the extension without a second dot.
    if (has_dot) return name + ext.substr(1);
    return name + ext;
}
