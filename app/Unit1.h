// TForm1: Arcovelo's main window. Its two pages collect files and run a
// backup, and show an archive and restore it, driving the archive engine
// Backupfile1 synchronously from the click handlers.
#pragma once

#include "Dialogs.h"
#include "backup.h"

#include <QHash>
#include <QStringList>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QCheckBox;
class QLabel;
class QPushButton;
class QTabWidget;
class TFlatButton;
class TFlatCheckBox;
class TFlatEdit;
class TFlatGauge;
class TFlatGroupBox;
class TFlatListBox;
class TFlatPanel;
class TFlatRadioButton;
class TFlatSpeedButton;
class TFlatHint;
class TFlatAnimWnd;
class TFlatSound;

class TForm1 : public QWidget {
    Q_OBJECT

public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // Window geometry: the client area is 533 wide; the outer height limits
    // 445..600 less the standard frame give the client height limits.
    static constexpr int kClientWidth = 533;
    static constexpr int kFrameHeight = 27;  // outer minus client height
    static constexpr int kMinClientHeight = 445 - kFrameHeight;
    static constexpr int kMaxClientHeight = 600 - kFrameHeight;
    static constexpr int kInitialClientHeight = 494 - kFrameHeight;

    // --- handlers, named after the control and event they serve
    void FormShow();
    void Button1Click(QObject* Sender);
    void Button5Click(QObject* Sender);
    void Button4Click(QObject* Sender);
    void Button2Click(QObject* Sender);
    void Backupfile1Progress(arcovelo::TBackupFile* Sender, const std::string& Filename,
                             arcovelo::TPercentage Percent, bool& Continue);
    void BtnCancelClick(QObject* Sender);
    void edit2Click(QObject* Sender);
    void FileListBox1Click(QObject* Sender);
    void rbOrigpath_oldClick(QObject* Sender);
    void Button3Click(QObject* Sender);

    // --- the stored window description's controls and components
    QWidget* Panel2 = nullptr;
    QLabel* Image1 = nullptr;
    QTabWidget* PageControl1 = nullptr;
    QWidget* TabSheet1 = nullptr;
    QWidget* TabSheet2 = nullptr;
    QWidget* Panel1 = nullptr;

    QLabel* Label2 = nullptr;
    QPushButton* Button4 = nullptr;
    QCheckBox* CbSaveFileID = nullptr;
    TFlatButton* Button1 = nullptr;
    TFlatButton* FlatButton1 = nullptr;
    TFlatEdit* EdBackupTitle = nullptr;
    TFlatGroupBox* FlatGroupBox1 = nullptr;
    TFlatListBox* rgBackupMode = nullptr;
    TFlatGroupBox* FlatGroupBox2 = nullptr;
    TFlatListBox* rgCompressionLevel = nullptr;
    TFlatButton* btncancel = nullptr;
    TFlatListBox* FileListBox = nullptr;
    TFlatPanel* FlatPanel1 = nullptr;
    TFlatPanel* FlatPanel2 = nullptr;
    TFlatButton* Button2 = nullptr;

    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    TFlatSpeedButton* FlatSpeedButton1 = nullptr;
    TFlatEdit* edit2 = nullptr;
    TFlatEdit* Edit1 = nullptr;
    TFlatGroupBox* FlatGroupBox3 = nullptr;
    TFlatListBox* rgrestoremode = nullptr;
    TFlatGroupBox* FlatGroupBox4 = nullptr;
    TFlatRadioButton* rbOrigpath = nullptr;
    TFlatRadioButton* rbOtherPath = nullptr;
    TFlatEdit* EdPath = nullptr;
    TFlatCheckBox* CbFullPath = nullptr;
    TFlatButton* Button3 = nullptr;
    TFlatButton* FlatButton2 = nullptr;
    TFlatListBox* mefiles = nullptr;

    QLabel* Label1 = nullptr;
    TFlatGauge* progressbar1 = nullptr;
    QLabel* Label5 = nullptr;
    TFlatEdit* FlatEdit1 = nullptr;

    TFlatHint* FlatHint1 = nullptr;
    TFlatAnimWnd* FlatAnimWnd1 = nullptr;
    TFlatSound* FlatSound1 = nullptr;
    TFileDialogSettings OpenDialog;
    TFileDialogSettings OpenDialogadd;
    TFileDialogSettings SaveDialog;
    arcovelo::TBackupFile Backupfile1;

protected:
    void showEvent(QShowEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateControls();
    void CreateBackupPage();
    void CreateRestorePage();
    void CreateStatusBar();
    void SetUpComponents();
    void ApplyTabOrder();
    // True (and nothing done) while an operation runs: a second one waits.
    bool Busy() const { return Backupfile1.Busy(); }
    // A close asked for during an operation happens once it has returned.
    void CloseIfPending();
    // "N file(s) selezionati" for the page in view: the files the Backup
    // list stands for, or those "&Esegue ripristino" would restore.
    void ShowSelectedCount();
    int BackupFileCount();
    int RestoreFileCount() const;
    void AddEntries(const QStringList& entries);
    void DeleteSelectedEntries();
    void AddPageShortcuts();
    void AddArchiveChooserKeys();
    void KeepThePagesAboveTheStatusBar();
    bool RunShowingProgress(const std::function<bool()>& operation);
    void ForgetContents();
    // The stored names of the rows selected in the contents list.
    std::vector<std::string> SelectedStoredNames() const;
    // The gauge's percentage for the engine's progress now.
    int GaugePercent(const std::string& fileName);

    bool shownOnce_ = false;
    bool closePending_ = false;
    // The files each entry of the Backup list stands for, found when it was added.
    QHash<QString, QStringList> entryFiles_;
    // The file-ID list of the archive shown, one "path<TAB>stamp=size" entry a
    // row, kept once: the contents list makes its rows from it when drawn.
    std::vector<std::string> contents_;
    std::int32_t shownFileCount_ = 0;
    // The gauge counts the files' bytes. The engine also counts the file-ID
    // list, which a backup writes as its first record: its bytes are left out.
    struct GaugeScale {
        bool listFirst = false;  // a backup's first record is the file-ID list
        std::string listName;
        std::int64_t listBytes = 0;
        std::int64_t total = -1;  // a restore's files; -1: the engine's total
    } gauge_;
};
