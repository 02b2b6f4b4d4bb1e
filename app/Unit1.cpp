#include "Unit1.h"

#include "HSLUtils.h"
#include "TFlatButtonUnit.h"
#include "TFlatCheckBoxUnit.h"
#include "TFlatEditUnit.h"
#include "TFlatGaugeUnit.h"
#include "TFlatListBoxUnit.h"
#include "TFlatRadioButtonUnit.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDate>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QUrl>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLocale>
#include <QRegularExpression>
#include <QScreen>
#include <QSet>
#include <QShortcut>
#include <QTabWidget>

#include <algorithm>
#include <cstdlib>

namespace {

using arcovelo::TBackupFile;

QString WindowText(const std::string& text) { return QFile::decodeName(QByteArray::fromStdString(text)); }

// The engine's boxes are the window's message boxes; between chunks the
// window's pending messages are dispatched, which is how "Chiudi" arrives.
// An error box says what failed under the message: the file and the
// system's reason, as the engine knows them.
class QtBackupHost : public arcovelo::BackupHost {
public:
    explicit QtBackupHost(const TBackupFile& engine) : engine_(engine) {}
    bool AskForDisk(const std::string& text) override { return Dialogs::AskForDisk(QString::fromStdString(text)); }
    void ShowError(const std::string& text) override
    {
        Dialogs::ShowEngineError(QString::fromStdString(text), WindowText(engine_.ErrorDetail()));
    }
    void ShowWarning(const std::string& text) override { Dialogs::ShowMessage(nullptr, WindowText(text)); }
    void ProcessMessages() override { QCoreApplication::processEvents(); }

private:
    const TBackupFile& engine_;
};

std::string EnginePath(const QString& path) { return QFile::encodeName(path).toStdString(); }
QString WindowPath(const std::string& path) { return WindowText(path); }

// Collects the engine's warnings while it lives (whatever way the backup ends).
struct WarningCollector {
    explicit WarningCollector(TBackupFile& engine) : engine(engine)
    {
        engine.OnWarning = [this](TBackupFile*, const std::string& text) { texts << WindowText(text); };
    }
    ~WarningCollector() { engine.OnWarning = nullptr; }
    WarningCollector(const WarningCollector&) = delete;
    WarningCollector& operator=(const WarningCollector&) = delete;
    TBackupFile& engine;
    QStringList texts;
};

// What a run could not do, in one box: a heading, the first lines and a count
// of the rest.
QString WarningsText(const QString& heading, const QStringList& warnings)
{
    constexpr int kShown = 20;
    QString text = heading + "\n" + warnings.mid(0, kShown).join("\n");
    if (warnings.size() > kShown)
        text += "\n... e altri " + QString::number(warnings.size() - kShown);
    return text;
}

// Items in display order "Veloce", "Normale", "Massimo", "Nessuno".
arcovelo::TCompressionLevel LevelOfItem(int index)
{
    static const arcovelo::TCompressionLevel levels[] = {arcovelo::clFastest, arcovelo::clDefault, arcovelo::clMax,
                                                        arcovelo::clNone};
    return index >= 0 && index < 4 ? levels[index] : arcovelo::clFastest;
}

// The date part of an MS-DOS stamp in the user's short date format.
QString StampDate(const QString& stampText)
{
    bool ok = false;
    const auto stamp = static_cast<std::uint32_t>(stampText.toLongLong(&ok));
    const QDate date(int(stamp >> 25) + 1980, int(stamp >> 21 & 0x0F), int(stamp >> 16 & 0x1F));
    if (!ok || !date.isValid())
        return stampText;
    return QLocale::system().toString(date, QLocale::ShortFormat);
}

// "path<TAB>stamp=size" as "path data <date>, <size> bytes". The size is cut
// at the first "=" after the tab, so an "=" in the path does no harm.
QString ContentsLine(const QString& entry)
{
    const auto tab = entry.lastIndexOf('\t');  // a name may hold a TAB; the stamp and size hold none
    const auto equals = tab < 0 ? -1 : entry.indexOf('=', tab);
    if (equals < 0)
        return entry;
    return entry.left(tab) + " data " + StampDate(entry.mid(tab + 1, equals - tab - 1)) + ", " +
           entry.mid(equals + 1) + " bytes";
}

// The stored name and the size of a file-ID list entry "path<TAB>stamp=size".
std::string StoredNameOf(const std::string& entry)
{
    const auto tab = entry.rfind('\t');
    return tab == std::string::npos ? entry : entry.substr(0, tab);
}

std::int64_t StoredSizeOf(const std::string& entry)
{
    const auto tab = entry.rfind('\t');
    const auto equals = tab == std::string::npos ? std::string::npos : entry.find('=', tab);
    return equals == std::string::npos ? 0 : std::strtoll(entry.c_str() + equals + 1, nullptr, 10);
}

// The files an entry of the Backup list stands for, found as a backup finds
// them: a name, a mask, and with " /s" the subfolders recursion may enter.
QStringList FilesOfEntry(arcovelo::FileSystem& files, const QString& entry)
{
    static const QRegularExpression recursion("\\s+/[sS]$");
    QString text = entry.trimmed();
    const bool recursive = text.contains(recursion);
    text.remove(recursion);
    const auto slash = text.lastIndexOf('/') + 1;
    const std::string mask = EnginePath(text.mid(slash));
    QStringList found;
    std::vector<std::string> folders{EnginePath(text.left(slash))};
    while (!folders.empty()) {
        const std::string folder = folders.back();
        folders.pop_back();
        const arcovelo::FolderListing listing = files.ListFolder(folder, mask, recursive);
        for (const auto& file : listing.files)
            found << WindowPath(folder + file.path);
        for (auto name = listing.folders.rbegin(); name != listing.folders.rend(); ++name)
            folders.push_back(folder + *name + "/");
    }
    return found;
}

// The list entries for what a file manager dropped: a file by its path, a
// folder as every file in it and its subfolders.
QStringList DroppedEntries(const QMimeData* data)
{
    QStringList entries;
    for (const QUrl& url : data->urls()) {
        if (!url.isLocalFile())
            continue;
        const QFileInfo info(url.toLocalFile());
        if (info.isDir())
            entries << info.absoluteFilePath() + "/*.* /s";
        else if (info.isFile())
            entries << info.absoluteFilePath();
    }
    return entries;
}

QString BlankTrimmed(const QString& text)
{
    qsizetype first = 0, last = text.size();
    while (first < last && text[first].unicode() <= ' ')
        ++first;
    while (last > first && text[last - 1].unicode() <= ' ')
        --last;
    return text.mid(first, last - first);
}

}  // namespace

TForm1::TForm1(QWidget* parent) : QWidget(parent)
{
    CreateControls();
    SetUpComponents();
    Backupfile1.SetHost(std::make_shared<QtBackupHost>(Backupfile1));
    for (auto* edit : findChildren<TFlatEdit*>())
        edit->Loaded();
    for (auto* list : findChildren<TFlatListBox*>())
        list->Loaded();
    FileListBox->setAcceptDrops(true);
    FileListBox->installEventFilter(this);
    FileListBox->SetExtendedSelect(true);
    mefiles->SetExtendedSelect(true);
    mefiles->OnSelectionChange = [this](QObject*) { ShowSelectedCount(); };
    connect(PageControl1, &QTabWidget::currentChanged, this, [this] {
        if (!Busy() && !FlatEdit1->text().isEmpty())
            ShowSelectedCount();
    });
    AddPageShortcuts();
    AddArchiveChooserKeys();
}

// The folder button takes no focus, as speed buttons never do: from the
// keyboard the archive is chosen with Enter in its name field, or with
// Ctrl+O while the Restore page is in view.
void TForm1::AddArchiveChooserKeys()
{
    connect(edit2, &QLineEdit::returnPressed, this, [this] { edit2Click(edit2); });
    auto* open = new QShortcut(QKeySequence::Open, this);
    connect(open, &QShortcut::activated, this, [this] {
        if (PageControl1->currentWidget() == TabSheet2)
            edit2Click(edit2);
    });
}

// Ctrl+Tab and Ctrl+PageDown show the next page, Ctrl+Shift+Tab and
// Ctrl+PageUp the previous one, whatever control has the focus.
void TForm1::AddPageShortcuts()
{
    const auto turn = [this](int by) {
        const int count = PageControl1->count();
        PageControl1->setCurrentIndex((PageControl1->currentIndex() + by + count) % count);
    };
    const std::pair<QKeyCombination, int> keys[] = {{Qt::CTRL | Qt::Key_Tab, 1},
                                                    {Qt::CTRL | Qt::Key_PageDown, 1},
                                                    {Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab, -1},
                                                    {Qt::CTRL | Qt::Key_PageUp, -1}};
    for (const auto& [key, by] : keys) {
        auto* shortcut = new QShortcut(QKeySequence(key), this);
        connect(shortcut, &QShortcut::activated, this, [turn, by = by] { turn(by); });
    }
}

TForm1::~TForm1() = default;

// ---------------------------------------------------------------- window

void TForm1::showEvent(QShowEvent* e)
{
    QWidget::showEvent(e);
    if (shownOnce_)
        return;  // restored from the task bar: what the user chose stays
    shownOnce_ = true;
    KeepThePagesAboveTheStatusBar();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    FormShow();
}

// The status bar never covers the pages: the smallest height leaves room for
// it below the page area, which keeps its size, so every control and frame
// of either page stays whole.
void TForm1::KeepThePagesAboveTheStatusBar()
{
    setMinimumHeight(std::max(kMinClientHeight, PageControl1->geometry().bottom() + 1 + Panel1->height()));
}

// Files and folders dropped from a file manager join the list like chosen
// ones (a folder as all its files, subfolders included); Delete removes the
// selected entries.
bool TForm1::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != FileListBox || Busy())
        return QWidget::eventFilter(watched, event);
    // A drop is always a copy, whatever the source proposes: a file manager
    // that is told "moved" may treat the files as handed over.
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        if (!(drop->possibleActions() & Qt::CopyAction) || DroppedEntries(drop->mimeData()).isEmpty()) {
            drop->ignore();
            return true;
        }
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        if (event->type() == QEvent::Drop)
            AddEntries(DroppedEntries(drop->mimeData()));
        return true;
    }
    case QEvent::KeyPress:
        if (static_cast<QKeyEvent*>(event)->key() != Qt::Key_Delete)
            return false;
        DeleteSelectedEntries();
        return true;
    default:
        return false;
    }
}

void TForm1::AddEntries(const QStringList& entries)
{
    // Names are kept as chosen: on a case-sensitive file system two names
    // that differ in case are two files.
    for (const QString& entry : entries)
        if (FileListBox->Items().IndexOf(entry) < 0)
            FileListBox->Items().Add(entry);
    ShowSelectedCount();
}

void TForm1::DeleteSelectedEntries()
{
    QStringList kept;
    for (int i = 0; i < FileListBox->Items().Count(); ++i)
        if (!FileListBox->Selected(i))
            kept << FileListBox->Items()[i];
    FileListBox->Items().Assign(kept);
    ShowSelectedCount();
}

void TForm1::FormShow()
{
    rgBackupMode->SetItemIndex(0);
    rgCompressionLevel->SetItemIndex(0);
    rgrestoremode->SetItemIndex(0);
}

// The page area keeps its size; the status bar stays at the bottom edge.
void TForm1::resizeEvent(QResizeEvent* e)
{
    QWidget::resizeEvent(e);
    if (Panel1 != nullptr)
        Panel1->move(0, height() - Panel1->height());
}

// Closing from the frame during an operation stops it; the window closes
// once the operation has returned, so nothing is left half done.
void TForm1::closeEvent(QCloseEvent* e)
{
    if (!Busy()) {
        e->accept();
        return;
    }
    closePending_ = true;
    Backupfile1.Stop();
    e->ignore();
}

void TForm1::CloseIfPending()
{
    if (closePending_) {
        closePending_ = false;
        close();
    }
}

void TForm1::BtnCancelClick(QObject*)
{
    if (!Busy()) {
        close();
        return;
    }
    if (Dialogs::Confirm(this, "Vuoi fermare il backup?"))
        Backupfile1.Stop();
}

// ---------------------------------------------------------------- backup page

void TForm1::Button1Click(QObject*)
{
    if (Busy())
        return;
    QStringList chosen;
    QStringList paths;
    if (Dialogs::OpenFiles(this, OpenDialogadd, chosen))
        for (const QString& file : chosen)
            paths << QFileInfo(file).absoluteFilePath();
    AddEntries(paths);
}

void TForm1::ShowSelectedCount()
{
    const int count = PageControl1->currentWidget() == TabSheet2 ? RestoreFileCount() : BackupFileCount();
    FlatEdit1->setText(QString::number(count) + " file(s) selezionati");
}

// A file named by two entries (a file and its folder) counts once.
int TForm1::BackupFileCount()
{
    QSet<QString> files;
    for (const QString& entry : FileListBox->Items().List()) {
        auto known = entryFiles_.find(entry);
        if (known == entryFiles_.end())
            known = entryFiles_.insert(entry, FilesOfEntry(Backupfile1.Files(), entry));
        for (const QString& file : *known)
            files.insert(file);
    }
    return static_cast<int>(files.size());
}

// The selected rows, or with none the whole archive shown.
int TForm1::RestoreFileCount() const
{
    const int selected = static_cast<int>(SelectedStoredNames().size());
    if (selected > 0)
        return selected;
    return shownFileCount_;
}

std::vector<std::string> TForm1::SelectedStoredNames() const
{
    std::vector<std::string> names;
    for (std::size_t i = 0; i < contents_.size(); ++i)
        if (mefiles->Selected(static_cast<int>(i)))
            names.push_back(StoredNameOf(contents_[i]));
    return names;
}

void TForm1::Button5Click(QObject*)
{
    if (Busy())
        return;
    FileListBox->Items().Clear();
    entryFiles_.clear();
    ShowSelectedCount();
}

void TForm1::Button4Click(QObject*)
{
    if (Busy())
        return;
    QString value = QCoreApplication::applicationDirPath() + "/*.*";
    if (Dialogs::InputQuery(this, "Aggiungi files usando wildcards", "Inserisci path + estensione", value))
        FileListBox->Items().Add(value);
}

void TForm1::Button2Click(QObject*)
{
    if (Busy())
        return;
    if (FileListBox->Items().Count() == 0) {
        Dialogs::ShowMessage(this, "Nessun file da archiviare");
        return;
    }
    QString archive;
    if (!Dialogs::SaveFile(this, SaveDialog, archive))
        return;
    if (archive.left(1).toUpper() == "A") {
        Dialogs::ShowMessage(this, "Inserire un floppy vuoto nel drive A");
        Backupfile1.SetMaxSize(1400000);
    } else {
        Backupfile1.SetMaxSize(0);
    }
    Backupfile1.SetBackupTitle(EdBackupTitle->text().toStdString());
    Backupfile1.SetBackupMode(static_cast<arcovelo::TBackupMode>(rgBackupMode->ItemIndex() == 1));
    Backupfile1.SetCompressionLevel(LevelOfItem(rgCompressionLevel->ItemIndex()));
    Backupfile1.SetSaveFileID(CbSaveFileID->isChecked());

    std::vector<std::string> entries;
    for (const QString& entry : FileListBox->Items().List())
        entries.push_back(EnginePath(entry));
    WarningCollector warnings(Backupfile1);
    gauge_ = GaugeScale{};
    gauge_.listFirst = Backupfile1.SaveFileID();
    const bool ok = RunShowingProgress([&] { return Backupfile1.Backup(entries, EnginePath(archive)); });
    entryFiles_.clear();  // what the entries stand for is found again
    if (!warnings.texts.isEmpty())
        Dialogs::ShowMessage(this, WarningsText("Alcuni files richiesti non sono nel backup:", warnings.texts));
    if (ok)
        Dialogs::ShowMessage(this, "Backup completato. Compressione effettuaua al " +
                                       QString::number(Backupfile1.CompressionRate()) + " %");
    else
        Dialogs::ShowMessage(this, "Backup fallito o cancellato.");
    CloseIfPending();
}

// The gauge follows the run; the current file's name stands in the status
// field, elided in the middle so both ends of the path stay readable. The
// engine's closing call (no name, 100 %) comes after completed and failed runs
// alike: RunShowingProgress settles the gauge instead.
void TForm1::Backupfile1Progress(TBackupFile*, const std::string& Filename, arcovelo::TPercentage Percent, bool&)
{
    if (Filename.empty() && Percent >= 100)
        return;
    progressbar1->SetProgress(GaugePercent(Filename));
    const QFontMetrics metrics(FlatEdit1->font());
    FlatEdit1->setText(metrics.elidedText(WindowPath(Filename), Qt::ElideMiddle, FlatEdit1->width() - 8));
}

int TForm1::GaugePercent(const std::string& fileName)
{
    const std::int64_t done = Backupfile1.BytesProcessed();
    if (gauge_.listFirst) {
        if (gauge_.listName.empty())
            gauge_.listName = fileName;
        if (fileName == gauge_.listName) {
            gauge_.listBytes = done;
            return 0;
        }
        gauge_.listFirst = false;  // the list is written: the files follow
    }
    const std::int64_t total = (gauge_.total >= 0 ? gauge_.total : Backupfile1.TotalSize()) - gauge_.listBytes;
    if (total <= 0)
        return 0;
    return static_cast<int>(std::clamp<std::int64_t>((done - gauge_.listBytes) * 100 / total, 0, 100));
}

// Runs a backup or a restore with the gauge shown. A completed run leaves it
// full; a failed, cancelled or aborted one never shows "100 %". The status
// field shows the count of entries again afterwards.
bool TForm1::RunShowingProgress(const std::function<bool()>& operation)
{
    progressbar1->SetProgress(0);
    progressbar1->show();
    bool completed = false;
    try {
        completed = operation();
    } catch (const std::exception&) {
        progressbar1->hide();  // the window shows the message
        ShowSelectedCount();
        throw;
    }
    if (completed)
        progressbar1->SetProgress(100);
    progressbar1->setVisible(completed);
    ShowSelectedCount();
    return completed;
}

// ---------------------------------------------------------------- restore page

void TForm1::edit2Click(QObject* Sender)
{
    if (Busy())
        return;
    QStringList chosen;
    Dialogs::OpenFiles(this, OpenDialog, chosen);
    FileListBox1Click(Sender);
}

void TForm1::FileListBox1Click(QObject*)
{
    shownFileCount_ = 0;
    mefiles->Items().Clear();  // its rows come from the list freed here
    ForgetContents();
    std::string title;
    Backupfile1.GetArchiveInfo(EnginePath(OpenDialog.fileName), &contents_, title);
    edit2->setText(QString::fromStdString(title));
    if (edit2->text().isEmpty()) {
        ForgetContents();
        Edit1->setText(QString());
        ShowSelectedCount();
        return;
    }
    shownFileCount_ = Backupfile1.FileCount();
    Edit1->setText(QString::number(Backupfile1.FileCount()) + " files, " +
                   QString::number(RoundHalfEven(double(Backupfile1.TotalSize()) / 1024)) + " KB totali");
    if (contents_.empty())
        mefiles->Items().Assign({"Nessuna informazione estesa dei files per questo archivio."});
    else
        mefiles->Items().Provide(static_cast<int>(contents_.size()),
                                 [this](int row) { return ContentsLine(WindowPath(contents_[std::size_t(row)])); });
    ShowSelectedCount();
}

// Frees the file-ID list of the archive shown before another one is read.
void TForm1::ForgetContents() { std::vector<std::string>().swap(contents_); }

void TForm1::rbOrigpath_oldClick(QObject*)
{
    EdPath->setEnabled(rbOtherPath->Checked());
    CbFullPath->setEnabled(rbOtherPath->Checked());
}

void TForm1::Button3Click(QObject*)
{
    if (Busy())
        return;
    Backupfile1.SetRestoreMode(static_cast<arcovelo::TRestoreMode>(std::clamp(rgrestoremode->ItemIndex(), 0, 4)));
    QString destination;
    if (!rbOrigpath->Checked()) {
        if (BlankTrimmed(EdPath->text()).isEmpty()) {
            Dialogs::ShowMessage(this, "Inserisci indirizzo di destinazione");
            return;
        }
        destination = BlankTrimmed(EdPath->text());
    }
    Backupfile1.SetRestoreFullPath(CbFullPath->isEnabled() && CbFullPath->Checked());
    // The rows selected in the contents list, or with none the whole archive.
    const std::vector<std::string> selected = SelectedStoredNames();
    gauge_ = GaugeScale{};
    if (!contents_.empty()) {
        gauge_.total = 0;
        for (std::size_t i = 0; i < contents_.size(); ++i)
            if (selected.empty() || mefiles->Selected(static_cast<int>(i)))
                gauge_.total += StoredSizeOf(contents_[i]);
    }
    arcovelo::TRestoreSelection selection;
    selection.names.insert(selected.begin(), selected.end());
    Backupfile1.SetSelection(std::move(selection));
    WarningCollector warnings(Backupfile1);
    const bool ok =
        RunShowingProgress([&] { return Backupfile1.Restore(EnginePath(OpenDialog.fileName), EnginePath(destination)); });
    Backupfile1.SetSelection({});
    // One message after the run: the result, then what could not be done.
    const auto total = selected.empty() ? Backupfile1.FileCount() : static_cast<std::int32_t>(selected.size());
    QString message = ok ? "Ripristino completato, " + QString::number(Backupfile1.ProcessedCount()) + " files di " +
                               QString::number(total) + " ripristinato."
                         : QString("Ripristino impossibile.");
    if (!warnings.texts.isEmpty())
        message += "\n\n" + WarningsText("Alcuni files non sono stati ripristinati:", warnings.texts);
    Dialogs::ShowMessage(this, message);
    CloseIfPending();
}
