// Every modal box and file dialog of the window goes through here, so tests
// can answer them in advance and read what was shown. Without a script the
// real Qt dialogs appear.
#pragma once

#include <QString>
#include <QStringList>

#include <deque>

class QWidget;

// A file dialog as the window describes it.
struct TFileDialogSettings {
    QString title;        // empty: the platform's own title
    QString filter;       // "label|pattern"
    QString defaultExt;
    bool multiSelect = false;
    QString fileName;     // the (first) file chosen last; starts empty
};

class Dialogs {
public:
    // Plain message box captioned with the application title, one OK button.
    static void ShowMessage(QWidget* parent, const QString& text);
    // Confirmation box with a question icon, Yes and No; true for Yes.
    // Enter answers Yes, or No when `defaultNo`.
    static bool Confirm(QWidget* parent, const QString& text, bool defaultNo = false);
    // "Il file ... esiste già. Vuoi sostituirlo?", with No the default answer.
    static bool ConfirmReplace(QWidget* parent, const QString& file);
    // One-line input box; true for OK, with the edited value in `value`.
    static bool InputQuery(QWidget* parent, const QString& caption, const QString& prompt, QString& value);
    // File-open dialog; true when confirmed, the chosen files in `files`.
    static bool OpenFiles(QWidget* parent, TFileDialogSettings& settings, QStringList& files);
    // File-save dialog; true when confirmed.
    static bool SaveFile(QWidget* parent, TFileDialogSettings& settings, QString& file);
    // The toolkit's standard error box, for a failure that left a handler.
    static void ShowError(const QString& text);
    // The engine's boxes: "Information" with OK and Cancel, "Error" with OK.
    static bool AskForDisk(const QString& text);
    // The message, and under it what failed (the file and the system's
    // reason) when `detail` tells it.
    static void ShowEngineError(const QString& text, const QString& detail = QString());

    // The Qt name filter of a stored "label|pattern" filter.
    static QString NameFilter(const QString& filter);

    // --- test hooks: while scripted no real dialog appears
    static void StartScript();
    static void StopScript();
    static void SetNextAnswer(bool answer);              // Confirm, AskForDisk
    static void SetNextFileNames(const QStringList& files);  // empty list = Cancel
    static void SetNextInput(const QString& value, bool ok = true);
    // Every box shown, as "caption: text", in order; an error's detail
    // follows its message on a line of its own.
    static const QStringList& Shown();
    static void ClearShown();

private:
    static bool scripted_;
    static std::deque<bool> answers_;
    static std::deque<QStringList> files_;
    static std::deque<std::pair<QString, bool>> inputs_;
    static QStringList shown_;
};
