#include "Dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMessageBox>

bool Dialogs::scripted_ = false;
std::deque<bool> Dialogs::answers_;
std::deque<QStringList> Dialogs::files_;
std::deque<std::pair<QString, bool>> Dialogs::inputs_;
QStringList Dialogs::shown_;

namespace {

QString Title() { return QApplication::applicationName(); }

}  // namespace

// "label (pattern)", or the label alone when it already shows its pattern.
// "*.*" means every file, with or without a dot, which Qt writes "*".
QString Dialogs::NameFilter(const QString& filter)
{
    const auto parts = filter.split('|');
    if (parts.size() != 2)
        return filter;
    if (parts[0].endsWith("(" + parts[1] + ")"))
        return parts[0];
    return parts[0] + " (" + (parts[1] == "*.*" ? "*" : parts[1]) + ")";
}

void Dialogs::ShowMessage(QWidget* parent, const QString& text)
{
    shown_ << Title() + ": " + text;
    if (!scripted_)
        QMessageBox::information(parent, Title(), text);
}

bool Dialogs::Confirm(QWidget* parent, const QString& text, bool defaultNo)
{
    shown_ << Title() + ": " + text;
    if (scripted_) {
        const bool answer = !answers_.empty() && answers_.front();
        if (!answers_.empty())
            answers_.pop_front();
        return answer;
    }
    return QMessageBox::question(parent, Title(), text, QMessageBox::Yes | QMessageBox::No,
                                 defaultNo ? QMessageBox::No : QMessageBox::Yes) == QMessageBox::Yes;
}

// Enter must not replace an archive by accident: No is the default.
bool Dialogs::ConfirmReplace(QWidget* parent, const QString& file)
{
    return Confirm(parent, "Il file " + file + " esiste già. Vuoi sostituirlo?", true);
}

bool Dialogs::InputQuery(QWidget* parent, const QString& caption, const QString& prompt, QString& value)
{
    shown_ << caption + ": " + prompt;
    if (scripted_) {
        if (inputs_.empty())
            return false;
        const auto [text, ok] = inputs_.front();
        inputs_.pop_front();
        if (ok)
            value = text;
        return ok;
    }
    bool ok = false;
    const QString edited = QInputDialog::getText(parent, caption, prompt, QLineEdit::Normal, value, &ok);
    if (ok)
        value = edited;
    return ok;
}

bool Dialogs::OpenFiles(QWidget* parent, TFileDialogSettings& settings, QStringList& files)
{
    shown_ << "open: " + settings.title;
    if (scripted_) {
        files = files_.empty() ? QStringList() : files_.front();
        if (!files_.empty())
            files_.pop_front();
    } else if (settings.multiSelect) {
        files = QFileDialog::getOpenFileNames(parent, settings.title, QString(), NameFilter(settings.filter));
    } else {
        const QString file = QFileDialog::getOpenFileName(parent, settings.title, QString(), NameFilter(settings.filter));
        files = file.isEmpty() ? QStringList() : QStringList{file};
    }
    if (files.isEmpty())
        return false;
    settings.fileName = files.front();
    return true;
}

bool Dialogs::SaveFile(QWidget* parent, TFileDialogSettings& settings, QString& file)
{
    shown_ << "save: " + settings.title;
    if (scripted_) {
        file = files_.empty() || files_.front().isEmpty() ? QString() : files_.front().front();
        if (!files_.empty())
            files_.pop_front();
    } else {
        QFileDialog dialog(parent, settings.title, QString(), NameFilter(settings.filter));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(settings.defaultExt);
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
        file = dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty() ? dialog.selectedFiles().front()
                                                                                        : QString();
    }
    if (file.isEmpty())
        return false;
    if (QFileInfo::exists(file) && !ConfirmReplace(parent, file))
        return false;
    settings.fileName = file;
    return true;
}

void Dialogs::ShowError(const QString& text)
{
    shown_ << Title() + " error: " + text;
    if (!scripted_)
        QMessageBox::critical(QApplication::activeWindow(), Title(), text);
}

bool Dialogs::AskForDisk(const QString& text)
{
    shown_ << "Information: " + text;
    if (scripted_) {
        const bool answer = !answers_.empty() && answers_.front();
        if (!answers_.empty())
            answers_.pop_front();
        return answer;
    }
    return QMessageBox::information(QApplication::activeWindow(), "Information", text,
                                    QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
}

void Dialogs::ShowEngineError(const QString& text, const QString& detail)
{
    const QString shown = detail.isEmpty() ? text : text + "\n" + detail;
    shown_ << "Error: " + shown;
    if (!scripted_)
        QMessageBox::critical(QApplication::activeWindow(), "Error", shown);
}

void Dialogs::StartScript()
{
    scripted_ = true;
    answers_.clear();
    files_.clear();
    inputs_.clear();
    shown_.clear();
}

void Dialogs::StopScript() { scripted_ = false; }
void Dialogs::SetNextAnswer(bool answer) { answers_.push_back(answer); }
void Dialogs::SetNextFileNames(const QStringList& files) { files_.push_back(files); }
void Dialogs::SetNextInput(const QString& value, bool ok) { inputs_.emplace_back(value, ok); }
const QStringList& Dialogs::Shown() { return shown_; }
void Dialogs::ClearShown() { shown_.clear(); }
