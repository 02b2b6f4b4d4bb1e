// The real window driven as a user would, every dialog answered in advance.
#include "Application.h"
#include "Dialogs.h"
#include "Unit1.h"

#include "TFlatButtonUnit.h"
#include "TFlatCheckBoxUnit.h"
#include "TFlatEditUnit.h"
#include "TFlatGaugeUnit.h"
#include "TFlatGroupBoxUnit.h"
#include "TFlatHintUnit.h"
#include "TFlatListBoxUnit.h"
#include "TFlatPanelUnit.h"
#include "TFlatRadioButtonUnit.h"
#include "TFlatSpeedButtonUnit.h"

#include <QCheckBox>
#include <QCursor>
#include <QDropEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QUrl>
#include <QPushButton>
#include <QAbstractButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>

namespace {

namespace fs = std::filesystem;

class Window : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = fs::temp_directory_path() /
               ("arcovelo-window-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(root);
        fs::create_directories(root / "src");
        qputenv("ARCOVELO_STATE_DIR", QByteArray::fromStdString((root / "state").string()));
        Dialogs::StartScript();
        form = std::make_unique<TForm1>();
        form->Backupfile1.SetFileSystem(arcovelo::MakeNativeFileSystem((root / "state" / "flags.sqlite").string()));
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    }
    void TearDown() override
    {
        form.reset();
        Dialogs::StopScript();
        fs::remove_all(root);
    }

    static void Write(const fs::path& p, const std::string& text)
    {
        fs::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << text;
    }
    static std::string Read(const fs::path& p)
    {
        std::ifstream in(p, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    QString Q(const fs::path& p) const { return QString::fromStdString(p.string()); }
    static void Click(TFlatButtonBase* b) { QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(5, 5)); }

    // Adds `files` through "Aggiungi files".
    void AddFiles(const QStringList& files)
    {
        Dialogs::SetNextFileNames(files);
        Click(form->Button1);
    }
    // Runs "Esegui backup" into `archive` and returns the last message shown.
    QString RunBackup(const fs::path& archive)
    {
        Dialogs::SetNextFileNames({Q(archive)});
        Click(form->Button2);
        return Dialogs::Shown().back();
    }
    void ChooseArchive(const fs::path& archive)
    {
        Dialogs::SetNextFileNames({Q(archive)});
        Click(form->FlatSpeedButton1);
    }
    QString RunRestore()
    {
        Click(form->Button3);
        return Dialogs::Shown().back();
    }
    // Three files below root/src, their archive at root/a.bck.
    void BackUpSampleFiles()
    {
        for (const char* name : {"uno.txt", "due.txt", "tre.bin"})
            Write(root / "src" / name, std::string(40000, name[0]));
        AddFiles({Q(root / "src" / "uno.txt"), Q(root / "src" / "due.txt"), Q(root / "src" / "tre.bin")});
        ASSERT_TRUE(RunBackup(root / "a.bck").startsWith("Arcovelo: Backup completato"));
    }

    fs::path root;
    std::unique_ptr<TForm1> form;
};

TEST_F(Window, startsOnTheBackupPageWithEverythingAtItsStoredState)
{
    EXPECT_EQ(form->windowTitle(), "Arcovelo");
    EXPECT_EQ(form->PageControl1->currentWidget(), form->TabSheet1);
    EXPECT_EQ(form->PageControl1->tabText(0), "Backup");
    EXPECT_EQ(form->PageControl1->tabText(1), "Ripristino");
    EXPECT_EQ(form->FileListBox->Items().Count(), 0);
    EXPECT_EQ(form->mefiles->Items().Count(), 0);
    EXPECT_EQ(form->progressbar1->Progress(), 0);
    EXPECT_FALSE(form->progressbar1->isHidden());
    EXPECT_EQ(form->rgBackupMode->ItemIndex(), 0);
    EXPECT_EQ(form->rgCompressionLevel->ItemIndex(), 0);
    EXPECT_EQ(form->rgrestoremode->ItemIndex(), 0);
    EXPECT_TRUE(form->rbOrigpath->Checked());
    EXPECT_TRUE(form->EdPath->isEnabled());
    EXPECT_TRUE(form->CbFullPath->isEnabled());
    EXPECT_TRUE(form->Button4->isHidden());
    EXPECT_TRUE(form->CbSaveFileID->isHidden());
    EXPECT_TRUE(form->CbSaveFileID->isChecked());
    EXPECT_EQ(form->EdBackupTitle->text(), "Predefinito");
    EXPECT_EQ(form->btncancel->Caption(), "&Chiudi");
    EXPECT_EQ(form->rgrestoremode->toolTip(), "Imposta il tipo di ripristino da effettuare");
    EXPECT_TRUE(form->FlatGroupBox3->toolTip().isEmpty());
    EXPECT_TRUE(form->Edit1->toolTip().isEmpty());
    EXPECT_EQ(form->rgCompressionLevel->Items().List(), (QStringList{"Veloce", "Normale", "Massimo", "Nessuno"}));
}

TEST_F(Window, placesEveryControlAsStored)
{
    struct Stored {
        QWidget* control;
        QRect geometry;
    };
    const int editHeight = QFontMetrics(form->EdBackupTitle->font()).height() + 6;
    const Stored stored[] = {
        {form->Button1, {432, 0, 89, 25}},          {form->FlatButton1, {432, 32, 89, 25}},
        {form->EdBackupTitle, {200, 296, 217, editHeight}},
        {form->FlatGroupBox1, {0, 280, 89, 89}},    {form->rgBackupMode, {8, 16, 73, 42}},
        {form->FlatGroupBox2, {96, 280, 89, 89}},   {form->rgCompressionLevel, {8, 16, 73, 62}},
        {form->btncancel, {432, 344, 89, 25}},      {form->FileListBox, {0, 0, 417, 271}},
        {form->FlatPanel1, {432, 64, 89, 265}},     {form->FlatPanel2, {200, 328, 217, 41}},
        {form->Button2, {64, 8, 89, 25}},           {form->FlatSpeedButton1, {280, 24, 25, 25}},
        {form->edit2, {8, 24, 265, editHeight}},    {form->Edit1, {8, 64, 265, editHeight}},
        {form->FlatGroupBox3, {8, 235, 129, 102}},  {form->rgrestoremode, {8, 16, 113, 81}},
        {form->FlatGroupBox4, {144, 235, 377, 105}}, {form->rbOrigpath, {8, 16, 209, 17}},
        {form->rbOtherPath, {8, 32, 73, 17}},       {form->EdPath, {24, 48, 321, editHeight}},
        {form->CbFullPath, {24, 72, 121, 17}},      {form->Button3, {304, 344, 105, 25}},
        {form->FlatButton2, {424, 344, 97, 25}},    {form->mefiles, {8, 88, 513, 138}},
        {form->progressbar1, {8, 1, 145, 15}},      {form->Panel2, {0, 0, 533, 49}},
        {form->Image1, {272, 2, 259, 45}},
    };
    for (const auto& s : stored)
        EXPECT_EQ(s.control->geometry(), s.geometry) << s.control->objectName().toStdString();
    EXPECT_EQ(form->rgBackupMode->VisibleRows(), 2);
    EXPECT_EQ(form->rgCompressionLevel->VisibleRows(), 2);
    EXPECT_EQ(form->rgrestoremode->VisibleRows(), 3);
    EXPECT_EQ(form->FileListBox->VisibleRows(), 13);
}

TEST_F(Window, widthIsFixedAndHeightStaysWithinLimitsWhileThePagesKeepTheirSize)
{
    EXPECT_EQ(form->width(), 533);
    EXPECT_EQ(form->minimumWidth(), 533);
    EXPECT_EQ(form->maximumWidth(), 533);
    form->resize(700, 1000);
    EXPECT_EQ(form->size(), QSize(533, TForm1::kMaxClientHeight));
    EXPECT_EQ(form->PageControl1->size(), QSize(533, 402));
    EXPECT_EQ(form->Panel1->geometry().bottom(), form->height() - 1) << "the status bar stays at the bottom";
    form->resize(533, 100);
    EXPECT_GE(form->height(), TForm1::kMinClientHeight);
    EXPECT_EQ(form->PageControl1->size(), QSize(533, 402));
    EXPECT_LE(form->PageControl1->geometry().bottom(), form->Panel1->y() - 1) << "the pages' frame stays whole";
    for (QWidget* page : {form->TabSheet1, form->TabSheet2}) {
        form->PageControl1->setCurrentWidget(page);
        for (const QWidget* c : page->findChildren<QWidget*>()) {
            if (c->isVisible()) {
                EXPECT_LE(c->mapTo(form.get(), QPoint(0, c->height())).y(), form->Panel1->y())
                    << c->objectName().toStdString() << ": the status bar covers nothing at the minimum height";
            }
        }
    }
}

TEST_F(Window, addingFilesKeepsOneEntryEachAndCountsThem)
{
    Write(root / "src" / "a.txt", "a");
    AddFiles({Q(root / "src" / "a.txt"), Q(root / "src" / "a.txt")});
    AddFiles({Q(root / "src" / "a.txt")});
    EXPECT_EQ(form->FileListBox->Items().Count(), 1);
    EXPECT_EQ(form->FlatEdit1->text(), "1 file(s) selezionati");

    Click(form->FlatButton1);
    EXPECT_EQ(form->FileListBox->Items().Count(), 0);
    EXPECT_EQ(form->FlatEdit1->text(), "0 file(s) selezionati") << "the count follows Pulisci";

    // A list scrolled to its end and then cleared shows what it holds next.
    for (int i = 0; i < 40; ++i)
        form->FileListBox->Items().Add("/f" + QString::number(i));
    for (int i = 0; i < 30; ++i)
        QTest::keyClick(form->FileListBox, Qt::Key_Down);
    ASSERT_GT(form->FileListBox->TopIndex(), 10);
    Click(form->FlatButton1);
    AddFiles({Q(root / "src" / "a.txt")});
    EXPECT_EQ(form->FileListBox->TopIndex(), 0) << "the one entry is in view";
}

// A file manager's drop adds files by path and folders as all their files;
// Delete removes the selected entries.
TEST_F(Window, droppedFilesAndFoldersAreAddedAndDeleteRemovesEntries)
{
    Write(root / "src" / "a.txt", "a");
    Write(root / "src" / "sub" / "b.txt", "b");
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(Q(root / "src" / "a.txt")), QUrl::fromLocalFile(Q(root / "src" / "sub")),
                  QUrl::fromLocalFile(Q(root / "src" / "a.txt"))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form->FileListBox, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form->FileListBox, &drop);
    EXPECT_EQ(form->FileListBox->Items().List(), (QStringList{Q(root / "src" / "a.txt"), Q(root / "src" / "sub") + "/*.* /s"}));
    EXPECT_EQ(form->FlatEdit1->text(), "2 file(s) selezionati");

    const QPoint firstRow = form->FileListBox->RowRects()[0].center();
    QCursor::setPos(form->FileListBox->mapToGlobal(firstRow));  // the box selects the row under the pointer
    QTest::mouseClick(form->FileListBox, Qt::LeftButton, {}, firstRow);
    QTest::keyClick(form->FileListBox, Qt::Key_Delete);
    EXPECT_EQ(form->FileListBox->Items().List(), (QStringList{Q(root / "src" / "sub") + "/*.* /s"}));
}

TEST_F(Window, anEmptyListOnlySaysSo)
{
    Click(form->Button2);
    EXPECT_EQ(Dialogs::Shown(), (QStringList{"Arcovelo: Nessun file da archiviare"}));
}

TEST_F(Window, backsUpWithEveryCompressionChoiceAndTheTypedTitle)
{
    Write(root / "src" / "text.txt", std::string(100000, 't'));
    AddFiles({Q(root / "src" / "text.txt")});
    form->EdBackupTitle->setText("Lavoro di dicembre");
    for (int level = 0; level < 4; ++level) {
        form->rgCompressionLevel->SetItemIndex(level);
        const fs::path archive = root / ("level" + std::to_string(level) + ".bck");
        const QString message = RunBackup(archive);
        EXPECT_TRUE(message.startsWith("Arcovelo: Backup completato. Compressione effettuaua al ")) << message.toStdString();
        EXPECT_TRUE(message.endsWith(" %"));
        arcovelo::TBackupFile reader;
        std::vector<arcovelo::ArchiveDamage> damage;
        EXPECT_TRUE(reader.TestArchive(archive.string(), damage));
        std::string title;
        reader.GetArchiveInfo(archive.string(), nullptr, title);
        EXPECT_EQ(title, "Lavoro di dicembre");
    }
    EXPECT_LT(fs::file_size(root / "level0.bck"), fs::file_size(root / "level3.bck")) << "Nessuno stores";
    EXPECT_EQ(form->progressbar1->Progress(), 100);
    EXPECT_TRUE(form->Label1->text().isEmpty());
}

TEST_F(Window, chiudiWithYesStopsARunningBackup)
{
    Write(root / "src" / "big.bin", std::string(400000, 'b'));
    AddFiles({Q(root / "src" / "big.bin")});
    Dialogs::SetNextAnswer(true);
    // Pressed while the backup runs: the engine dispatches it between chunks.
    QTimer::singleShot(0, form.get(), [this] { Click(form->btncancel); });
    EXPECT_EQ(RunBackup(root / "stopped.bck"), "Arcovelo: Backup fallito o cancellato.");
    EXPECT_TRUE(Dialogs::Shown().contains("Arcovelo: Vuoi fermare il backup?"));
    EXPECT_TRUE(form->isVisible());
}

TEST_F(Window, theArchiveChooserShowsTitleStatisticsAndContents)
{
    BackUpSampleFiles();
    form->PageControl1->setCurrentIndex(1);
    ChooseArchive(root / "a.bck");
    EXPECT_EQ(form->edit2->text(), "Predefinito");
    EXPECT_TRUE(form->Edit1->text().startsWith("3 files, "));
    EXPECT_TRUE(form->Edit1->text().endsWith(" KB totali"));
    ASSERT_EQ(form->mefiles->Items().Count(), 3);
    EXPECT_TRUE(form->mefiles->Items()[0].startsWith(Q(root / "src" / "uno.txt") + " data "));
    EXPECT_TRUE(form->mefiles->Items()[0].endsWith(", 40000 bytes"));

    ChooseArchive(root / "missing.bck");
    EXPECT_TRUE(form->edit2->text().isEmpty());
    EXPECT_TRUE(form->Edit1->text().isEmpty());
    EXPECT_EQ(form->mefiles->Items().Count(), 0);
}

TEST_F(Window, statisticsRoundKilobytesHalfToEven)
{
    const std::pair<int, int> cases[] = {{511, 0}, {512, 0}, {1000, 1}, {1536, 2}, {2560, 2}, {3584, 4}};
    for (const auto& [bytes, kb] : cases) {
        Write(root / "src" / "f.bin", std::string(std::size_t(bytes), 'x'));
        arcovelo::TBackupFile writer;
        writer.SetBackupTitle("t");
        ASSERT_TRUE(writer.Backup({(root / "src" / "f.bin").string()}, (root / "k.bck").string()));
        ChooseArchive(root / "k.bck");
        EXPECT_EQ(form->Edit1->text(), QString("1 files, %1 KB totali").arg(kb)) << bytes;
    }
    EXPECT_EQ(form->mefiles->Items().List(), (QStringList{"Nessuna informazione estesa dei files per questo archivio."}));
}

TEST_F(Window, restoresBelowAnotherFolderUnderEachMode)
{
    BackUpSampleFiles();
    ChooseArchive(root / "a.bck");
    form->rbOtherPath->SetChecked(true);
    EXPECT_FALSE(form->rbOrigpath->Checked());
    EXPECT_TRUE(form->EdPath->isEnabled());
    form->EdPath->setText(Q(root / "dest"));
    EXPECT_EQ(RunRestore(), "Arcovelo: Ripristino completato, 3 files di 3 ripristinato.");
    EXPECT_EQ(Read(root / "dest" / "uno.txt"), std::string(40000, 'u'));

    // Every mode, over the files just restored (same dates).
    const int restored[] = {3, 0, 0, 3, 0};
    for (int mode = 0; mode < 5; ++mode) {
        form->rgrestoremode->SetItemIndex(mode);
        EXPECT_EQ(RunRestore(), QString("Arcovelo: Ripristino completato, %1 files di 3 ripristinato.").arg(restored[mode]))
            << "mode " << mode;
    }

    form->rgrestoremode->SetItemIndex(0);
    form->CbFullPath->SetChecked(true);
    EXPECT_EQ(RunRestore(), "Arcovelo: Ripristino completato, 3 files di 3 ripristinato.");
    EXPECT_EQ(Read(root / "dest" / fs::relative(root / "src" / "tre.bin", "/")), std::string(40000, 't'));

    form->rbOrigpath->SetChecked(true);
    EXPECT_FALSE(form->EdPath->isEnabled());
    EXPECT_FALSE(form->CbFullPath->isEnabled());
}

// A destination that names a file cannot hold folders: the restore fails
// with code 1 and says so, instead of "0 files restored", and the error box
// shows what failed (the engine's detail: the file and the system's reason)
// under the message.
TEST_F(Window, aDestinationThatIsAFileMakesTheRestoreImpossible)
{
    BackUpSampleFiles();
    ChooseArchive(root / "a.bck");
    Write(root / "file", "not a folder");
    form->rbOtherPath->SetChecked(true);
    form->EdPath->setText(Q(root / "file"));
    EXPECT_EQ(RunRestore(), "Arcovelo: Ripristino impossibile.");
    const QString detail = QString::fromStdString(form->Backupfile1.ErrorDetail());
    EXPECT_TRUE(detail.contains(Q(root / "file"))) << detail.toStdString();
    EXPECT_TRUE(Dialogs::Shown().contains("Error: Cannot read file\n" + detail)) << Dialogs::Shown().join("|").toStdString();
    EXPECT_EQ(Read(root / "file"), "not a folder");
}

// What the backup could not take is shown in one box after it; the archive
// holds the rest.
TEST_F(Window, filesThatVanishedAreNamedInOneBoxAfterTheBackup)
{
    for (const char* name : {"uno.txt", "due.txt", "tre.txt"})
        Write(root / "src" / name, name);
    AddFiles({Q(root / "src" / "uno.txt"), Q(root / "src" / "due.txt"), Q(root / "src" / "tre.txt")});
    fs::remove(root / "src" / "due.txt");
    fs::remove(root / "src" / "tre.txt");
    EXPECT_TRUE(RunBackup(root / "a.bck").startsWith("Arcovelo: Backup completato"));
    const QStringList shown = Dialogs::Shown();
    ASSERT_GE(shown.size(), 2);
    const QString warning = shown[shown.size() - 2];
    EXPECT_TRUE(warning.startsWith("Arcovelo: Alcuni files richiesti non sono nel backup:")) << warning.toStdString();
    EXPECT_TRUE(warning.contains("due.txt") && warning.contains("tre.txt")) << warning.toStdString();
}

TEST_F(Window, aBlankDestinationIsRefused)
{
    BackUpSampleFiles();
    ChooseArchive(root / "a.bck");
    form->rbOtherPath->SetChecked(true);
    form->EdPath->setText("   ");
    EXPECT_EQ(RunRestore(), "Arcovelo: Inserisci indirizzo di destinazione");
    EXPECT_FALSE(fs::exists(root / "dest"));
}

// The gauge tells the truth: full after a completed backup or restore, never
// "100 %" after a failed one; the current file is readable while it runs.
TEST_F(Window, theGaugeEndsFullOnlyWhenTheRunCompleted)
{
    BackUpSampleFiles();
    EXPECT_FALSE(form->progressbar1->isHidden());
    EXPECT_EQ(form->progressbar1->Progress(), 100);
    ChooseArchive(root / "a.bck");
    form->rbOtherPath->SetChecked(true);
    form->EdPath->setText("  " + Q(root / "dest") + "  ");
    EXPECT_EQ(RunRestore(), "Arcovelo: Ripristino completato, 3 files di 3 ripristinato.");
    EXPECT_TRUE(fs::exists(root / "dest" / "uno.txt")) << "the destination is trimmed of blanks";
    EXPECT_FALSE(form->progressbar1->isHidden());
    EXPECT_EQ(form->progressbar1->Progress(), 100);

    Write(root / "file", "x");
    form->EdPath->setText(Q(root / "file"));
    EXPECT_EQ(RunRestore(), "Arcovelo: Ripristino impossibile.");
    EXPECT_TRUE(form->progressbar1->isHidden() || form->progressbar1->Progress() < 100);

    const std::string name = "/una/cartella/molto/lunga/con/dentro/altre/cartelle/ancora/file-finale.txt";
    bool go = true;
    form->Backupfile1Progress(&form->Backupfile1, name, 40, go);
    const QString shown = form->FlatEdit1->text();
    EXPECT_TRUE(shown.startsWith("/una/") && shown.endsWith("file-finale.txt")) << shown.toStdString();
    EXPECT_LE(QFontMetrics(form->FlatEdit1->font()).horizontalAdvance(shown), form->FlatEdit1->width() - 6);
}

TEST_F(Window, anUnreadableArchiveShowsTheEnginesMessageAndTheWindowGoesOn)
{
    fs::create_directories(root / "folder.bck");
    ChooseArchive(root / "folder.bck");
    EXPECT_TRUE(Dialogs::Shown().contains("Error: Cannot read archive")) << "GetArchiveInfo reports code 3";
    Click(form->Button3);
    EXPECT_EQ(Dialogs::Shown().back(), "Arcovelo error: Cannot read archive");
    EXPECT_FALSE(form->Backupfile1.Busy());
    Click(form->Button2);
    EXPECT_EQ(Dialogs::Shown().back(), "Arcovelo: Nessun file da archiviare") << "the window is still usable";
}

// Minimising and restoring the window keeps what the user chose.
TEST_F(Window, minimisingAndRestoringKeepsTheChosenSelectors)
{
    form->rgBackupMode->SetItemIndex(1);
    form->rgrestoremode->SetItemIndex(1);
    form->showMinimized();
    QApplication::processEvents();
    form->showNormal();
    QApplication::processEvents();
    EXPECT_EQ(form->rgBackupMode->ItemIndex(), 1) << "Incrementale stays";
    EXPECT_EQ(form->rgrestoremode->ItemIndex(), 1) << "Senza sovrascrittura stays";
}

// Alt+E on the "Backup" page does not start the restore of the hidden page.
TEST_F(Window, acceleratorsActOnlyOnThePageInView)
{
    BackUpSampleFiles();
    ChooseArchive(root / "a.bck");
    Dialogs::ClearShown();
    // Keys go to the focused control, or to the window when none has the focus.
    const auto altE = [] {
        QWidget* to = QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : QApplication::activeWindow();
        QTest::keyClick(to, Qt::Key_E, Qt::AltModifier);
    };
    form->PageControl1->setCurrentIndex(0);
    altE();
    EXPECT_TRUE(Dialogs::Shown().isEmpty()) << Dialogs::Shown().join("|").toStdString();
    form->PageControl1->setCurrentIndex(1);
    form->rbOtherPath->SetChecked(true);
    form->EdPath->setText(Q(root / "dest"));
    altE();
    ASSERT_FALSE(Dialogs::Shown().isEmpty());
    EXPECT_EQ(Dialogs::Shown().back(), "Arcovelo: Ripristino completato, 3 files di 3 ripristinato.");
}

// Click "Usa path originario", Tab away with the pointer still on it, click again.
TEST_F(Window, usaPathOriginarioAnswersAClickAfterTab)
{
    form->PageControl1->setCurrentIndex(1);
    auto* box = form->CbFullPath;
    QTest::mouseMove(form.get(), QPoint(1, 1));
    QCursor::setPos(box->mapToGlobal(QPoint(5, 8)));
    QTest::mouseMove(box, QPoint(5, 8));
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, 8));
    ASSERT_TRUE(box->Checked());
    QTest::keyClick(box, Qt::Key_Tab);
    QTest::mouseMove(box, QPoint(6, 8));
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, 8));
    EXPECT_FALSE(box->Checked());
}

// The save dialog asks before an existing archive is replaced; the add
// dialog's "Tutti i files" shows every file, dotted or not.
TEST_F(Window, anExistingArchiveIsReplacedOnlyWhenTheUserSaysSo)
{
    EXPECT_EQ(Dialogs::NameFilter(form->OpenDialogadd.filter), "Tutti i files (*)");
    EXPECT_EQ(Dialogs::NameFilter(form->SaveDialog.filter), "Backup archives (*.bck)");
    Write(root / "old.bck", "keep me");
    Write(root / "src" / "a.txt", "a");
    AddFiles({Q(root / "src" / "a.txt")});
    Dialogs::SetNextAnswer(false);
    RunBackup(root / "old.bck");
    EXPECT_TRUE(Dialogs::Shown().last().contains("esiste già")) << Dialogs::Shown().last().toStdString();
    EXPECT_EQ(Read(root / "old.bck"), "keep me");
    Dialogs::SetNextAnswer(true);
    EXPECT_TRUE(RunBackup(root / "old.bck").startsWith("Arcovelo: Backup completato"));
}

// Tab follows the stored tab orders, containers' contents in their place.
TEST_F(Window, tabFollowsTheStoredOrder)
{
    form->Button1->setFocus();
    QStringList order;
    for (int i = 0; i < 12; ++i) {
        order << QApplication::focusWidget()->objectName();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    const QStringList expected{"Button1", "FlatButton1", "EdBackupTitle", "btncancel", "Button2"};
    qsizetype at = -1;
    for (const QString& name : expected) {
        const qsizetype next = order.indexOf(name, at + 1);
        EXPECT_GT(next, at) << name.toStdString() << " in " << order.join(", ").toStdString();
        at = std::max(at, next);
    }
}

// Every caption, list row and edit text fits its control, descenders included.
TEST_F(Window, everyTextFitsItsControl)
{
    const auto fits = [](const QWidget* w, const QString& text, const QRect& room) {
        const QFontMetrics m(w->font());
        QString plain = text;
        plain.remove('&');
        EXPECT_LE(m.horizontalAdvance(plain), room.width()) << w->objectName().toStdString() << ": " << plain.toStdString();
        EXPECT_LE(m.height(), room.height()) << w->objectName().toStdString() << ": " << plain.toStdString();
    };
    for (const QLabel* l : form->findChildren<QLabel*>())
        if (!l->text().isEmpty())
            fits(l, l->text(), l->rect());
    for (const TFlatButton* b : form->findChildren<TFlatButton*>())
        fits(b, b->Caption(), b->rect().adjusted(2, 2, -2, -2));
    for (const TFlatGroupBox* g : form->findChildren<TFlatGroupBox*>())
        fits(g, g->Caption(), QRect(10, 0, g->width() - 20, g->height()));
    for (const TFlatMarkControl* m : form->findChildren<TFlatMarkControl*>())
        fits(m, m->Caption(), m->CaptionRect());
    for (const TFlatEdit* e : form->findChildren<TFlatEdit*>())
        fits(e, e->text().isEmpty() ? "gjpqy" : e->text(), e->rect().adjusted(3, 3, -3, -3));
    for (const TFlatListBox* list : form->findChildren<TFlatListBox*>())
        for (const QString& item : list->Items().List())
            fits(list, item, list->RowRects().front().adjusted(3, 0, -3, 0));
}

// The banner's double bevel: the outer ring lowered, the inner one raised.
TEST_F(Window, theBannerDrawsItsDoubleBevel)
{
    const QImage banner = form->Panel2->grab().toImage();
    const int w = banner.width(), h = banner.height();
    EXPECT_EQ(banner.pixel(0, 0), ToQColor(clBtnShadow).rgb()) << "outer ring, top-left";
    EXPECT_EQ(banner.pixel(w - 1, h - 1), ToQColor(clBtnHighlight).rgb()) << "outer ring, bottom-right";
    EXPECT_EQ(banner.pixel(1, 1), ToQColor(clBtnHighlight).rgb()) << "inner ring, top-left";
    EXPECT_EQ(banner.pixel(w / 4, h - 2), ToQColor(clBtnShadow).rgb()) << "inner ring, bottom";
}

// Qt's own dialogs speak Italian with the window.
TEST_F(Window, qtsOwnDialogsSpeakItalian)
{
    QMessageBox box;
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(box.button(QMessageBox::Yes)->text().remove('&'), "Sì");
}

TEST_F(Window, restoringWithoutAnArchiveIsImpossible)
{
    EXPECT_EQ(RunRestore(), "Arcovelo: Ripristino impossibile.");
}

TEST_F(Window, chiudiWhileIdleClosesTheWindow)
{
    Click(form->FlatButton2);
    EXPECT_FALSE(form->isVisible());
    EXPECT_FALSE(Dialogs::Shown().contains("Arcovelo: Vuoi fermare il backup?"));
}


// ---------------------------------------------------------------- keyboard and desktop

// Every choice can be made from the keyboard: the selectors follow the arrow
// keys, the Backup list selects with Space and deletes with Delete, and
// Ctrl+Tab / Ctrl+PageDown switch pages whatever control has the focus.
TEST_F(Window, theKeyboardAloneChoosesEverythingAndSwitchesPages)
{
    QApplication::setActiveWindow(form.get());  // shortcuts act in the active window
    QTest::keyClick(form->rgBackupMode, Qt::Key_Down);
    EXPECT_EQ(form->rgBackupMode->ItemIndex(), 1) << "Incrementale";
    QTest::keyClick(form->rgCompressionLevel, Qt::Key_End);
    EXPECT_EQ(form->rgCompressionLevel->ItemIndex(), 3) << "Nessuno";
    EXPECT_EQ(form->rgCompressionLevel->TopIndex(), 2) << "scrolled into view";
    for (const char* name : {"/a", "/b", "/c"})
        form->FileListBox->Items().Add(name);
    form->FileListBox->setFocus();
    QTest::keyClick(form->FileListBox, Qt::Key_Down);
    QTest::keyClick(form->FileListBox, Qt::Key_Down);
    QTest::keyClick(form->FileListBox, Qt::Key_Space);
    QTest::keyClick(form->FileListBox, Qt::Key_Delete);
    EXPECT_EQ(form->FileListBox->Items().List(), (QStringList{"/a", "/c"}));

    for (int page = 0; page < 2; ++page) {
        form->PageControl1->setCurrentIndex(page);
        for (QWidget* control : form->findChildren<QWidget*>()) {
            if (!control->isVisible() || !(control->focusPolicy() & Qt::TabFocus))
                continue;
            control->setFocus();
            QTest::keyClick(control, Qt::Key_Tab, Qt::ControlModifier);
            EXPECT_EQ(form->PageControl1->currentIndex(), 1 - page) << control->objectName().toStdString();
            form->PageControl1->setCurrentIndex(page);
            control->setFocus();
            QTest::keyClick(control, Qt::Key_PageDown, Qt::ControlModifier);
            EXPECT_EQ(form->PageControl1->currentIndex(), 1 - page) << control->objectName().toStdString();
            form->PageControl1->setCurrentIndex(page);
        }
    }
    form->PageControl1->setCurrentIndex(1);
    QTest::keyClick(form->rgrestoremode, Qt::Key_Down);
    QTest::keyClick(form->rgrestoremode, Qt::Key_Down);
    EXPECT_EQ(form->rgrestoremode->ItemIndex(), 2) << "Solo nuovi";
    form->rbOrigpath->setFocus();
    QTest::keyClick(form->rbOrigpath, Qt::Key_Down);
    EXPECT_TRUE(form->rbOtherPath->Checked());
    form->EdPath->setFocus();
    QTest::keyClick(form->EdPath, Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(QApplication::focusWidget(), form->rbOtherPath) << "the checked radio button is a tab stop";
    QTest::keyClick(form->rbOtherPath, Qt::Key_Up);
    EXPECT_TRUE(form->rbOrigpath->Checked());
    EXPECT_FALSE(form->EdPath->isEnabled()) << "the choice ran its handler";

    BackUpSampleFiles();
    form->PageControl1->setCurrentIndex(1);
    form->edit2->setFocus();
    Dialogs::SetNextFileNames({Q(root / "a.bck")});
    QTest::keyClick(form->edit2, Qt::Key_Return);
    EXPECT_EQ(form->edit2->text(), "Predefinito") << "Enter in the archive's name chooses one";
    form->edit2->clear();
    form->rgrestoremode->setFocus();
    Dialogs::SetNextFileNames({Q(root / "a.bck")});
    QTest::keyClick(form->rgrestoremode, Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(form->edit2->text(), "Predefinito") << "so does Ctrl+O";
    const auto shown = Dialogs::Shown().size();
    form->PageControl1->setCurrentIndex(0);
    QTest::keyClick(form->FileListBox, Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(Dialogs::Shown().size(), shown) << "but not on the Backup page";
}

// A letter typed without Alt on a button neither closes the window nor
// starts a restore.
TEST_F(Window, aPlainLetterNeitherClosesTheWindowNorStartsARestore)
{
    form->btncancel->setFocus();
    QTest::keyClick(form->btncancel, Qt::Key_C);
    EXPECT_TRUE(form->isVisible());
    form->PageControl1->setCurrentIndex(1);
    form->Button3->setFocus();
    QTest::keyClick(form->Button3, Qt::Key_E);
    EXPECT_TRUE(Dialogs::Shown().isEmpty()) << Dialogs::Shown().join("|").toStdString();
    QTest::keyClick(form->Button3, Qt::Key_E, Qt::AltModifier);
    EXPECT_EQ(Dialogs::Shown(), (QStringList{"Arcovelo: Ripristino impossibile."})) << "Alt+E still restores";
}

// A file manager that proposes "move" (Shift held) is told the files were copied.
TEST_F(Window, aDropIsAlwaysACopy)
{
    Write(root / "src" / "a.txt", "a");
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(Q(root / "src" / "a.txt"))});
    const Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction;
    QDragEnterEvent enter(QPoint(10, 10), offered, &data, Qt::LeftButton, Qt::ShiftModifier);
    ASSERT_EQ(enter.proposedAction(), Qt::MoveAction);
    QApplication::sendEvent(form->FileListBox, &enter);
    EXPECT_TRUE(enter.isAccepted());
    EXPECT_EQ(enter.dropAction(), Qt::CopyAction);
    QDropEvent drop(QPointF(10, 10), offered, &data, Qt::LeftButton, Qt::ShiftModifier);
    QApplication::sendEvent(form->FileListBox, &drop);
    EXPECT_EQ(drop.dropAction(), Qt::CopyAction);
    EXPECT_EQ(form->FileListBox->Items().Count(), 1);

    QDropEvent moveOnly(QPointF(10, 10), Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form->FileListBox, &moveOnly);
    EXPECT_FALSE(moveOnly.isAccepted()) << "what can only be moved is refused";
}

// Enter in "Il file ... esiste già. Vuoi sostituirlo?" answers No: the real
// box, answered by the key.
TEST_F(Window, enterKeepsAnExistingArchive)
{
    Dialogs::StopScript();
    QString defaultButton;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        defaultButton = box->defaultButton() != nullptr ? box->defaultButton()->text().remove('&') : QString();
        EXPECT_TRUE(box->text().endsWith("esiste già. Vuoi sostituirlo?")) << box->text().toStdString();
        QTest::keyClick(box, Qt::Key_Return);
    });
    EXPECT_FALSE(Dialogs::ConfirmReplace(form.get(), Q(root / "old.bck")));
    EXPECT_EQ(defaultButton, "No");
    Dialogs::StartScript();
}

// The status bar counts the files of the page in view: those the Backup
// list stands for (a dropped folder counts its files), and on the Restore
// page the selected rows or else the whole archive.
TEST_F(Window, theStatusBarCountsTheFilesOfThePageInView)
{
    for (const char* name : {"a.txt", "sub/b.txt", "sub/deep/c.txt", ".hidden/d.txt"})
        Write(root / "src" / "tree" / name, name);
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(Q(root / "src" / "tree")),
                  QUrl::fromLocalFile(Q(root / "src" / "tree" / "a.txt"))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form->FileListBox, &enter);
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form->FileListBox, &drop);
    EXPECT_EQ(form->FlatEdit1->text(), "3 file(s) selezionati") << "hidden folders stay out; a.txt counts once";
    ASSERT_TRUE(RunBackup(root / "a.bck").startsWith("Arcovelo: Backup completato"));
    EXPECT_EQ(form->FlatEdit1->text(), "3 file(s) selezionati");
    QApplication::setActiveWindow(form.get());

    QTest::keyClick(form->btncancel, Qt::Key_Tab, Qt::ControlModifier);
    ChooseArchive(root / "a.bck");
    EXPECT_EQ(form->FlatEdit1->text(), "3 file(s) selezionati") << "nothing selected: the whole archive";
    const QPoint row = form->mefiles->RowRects()[1].center();
    QCursor::setPos(form->mefiles->mapToGlobal(row));
    QTest::mouseClick(form->mefiles, Qt::LeftButton, {}, row);
    EXPECT_EQ(form->FlatEdit1->text(), "1 file(s) selezionati");
    form->rbOtherPath->SetChecked(true);
    form->EdPath->setText(Q(root / "dest"));
    RunRestore();
    EXPECT_EQ(form->FlatEdit1->text(), "1 file(s) selezionati") << "after the restore, still the Restore page's count";
    QTest::keyClick(form->mefiles, Qt::Key_PageDown, Qt::ControlModifier);
    EXPECT_EQ(form->FlatEdit1->text(), "3 file(s) selezionati");
}

// The gauge counts the files' bytes: a large file-ID list (many small files
// with long names) written first does not move it.
TEST_F(Window, theGaugeFollowsTheFilesBytes)
{
    QStringList files;
    for (int i = 0; i < 150; ++i) {
        const fs::path file = root / "src" / (std::string(120, 'n') + std::to_string(i) + ".txt");
        Write(file, std::string(100, 'x'));
        files << Q(file);
    }
    AddFiles(files);
    std::vector<std::pair<std::string, int>> seen;
    auto windowProgress = form->Backupfile1.OnProgress;
    form->Backupfile1.OnProgress = [&](arcovelo::TBackupFile* s, const std::string& f, arcovelo::TPercentage p, bool& c) {
        windowProgress(s, f, p, c);
        seen.emplace_back(f, form->progressbar1->Progress());
    };
    ASSERT_TRUE(RunBackup(root / "a.bck").startsWith("Arcovelo: Backup completato"));
    const std::string first = files.front().toStdString(), last = files.back().toStdString();
    const auto at = [&](const std::string& name) {
        return std::find_if(seen.begin(), seen.end(), [&](const auto& s) { return s.first == name; });
    };
    ASSERT_NE(at(first), seen.end());
    ASSERT_NE(at(last), seen.end());
    EXPECT_LE(at(first)->second, 1) << "the first of 150 equal files";
    EXPECT_GE(at(last)->second, 99) << "the last of them";
}

// A 240-character name is shown cut in the middle, with its date and size,
// and whole in the row's tooltip, in both lists.
TEST_F(Window, aLongRowIsElidedAndShownWholeInItsTooltip)
{
    const fs::path file = root / "src" / (std::string(240 - (root / "src").string().size() - 5, 'l') + ".txt");
    ASSERT_EQ(file.string().size(), 240u);
    Write(file, "long");
    AddFiles({Q(file)});
    ASSERT_TRUE(RunBackup(root / "a.bck").startsWith("Arcovelo: Backup completato"));
    ChooseArchive(root / "a.bck");
    for (TFlatListBox* list : {form->FileListBox, form->mefiles}) {
        const QString row = list->Items()[0];
        EXPECT_TRUE(row.startsWith(Q(file)));
        const QString shown = list->RowText(0);
        EXPECT_TRUE(shown.startsWith(Q(root).left(8)) && shown.endsWith(row.right(12)) && shown.size() < row.size())
            << shown.toStdString();
        EXPECT_LE(QFontMetrics(list->font()).horizontalAdvance(shown), list->RowRects()[0].width() - 6);
    }
    EXPECT_TRUE(form->mefiles->RowText(0).endsWith(", 4 bytes")) << "date and size stay readable";

    const auto hintShown = [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* hint = qobject_cast<TFlatHintWindow*>(w);
                hint != nullptr && hint->isVisible() && hint->Text() == form->mefiles->Items()[0])
                return true;
        return false;
    };
    form->PageControl1->setCurrentIndex(1);
    QApplication::setActiveWindow(form.get());
    const QPoint row = form->mefiles->RowRects()[0].center();
    QTest::mouseMove(form.get(), QPoint(1, 1));
    QCursor::setPos(form->mefiles->mapToGlobal(row));
    QTest::mouseMove(form->mefiles, row);
    EXPECT_TRUE(QTest::qWaitFor(hintShown, 3000));
}

// Two archived files that land on one name in a name-only restore: the
// later ones are not written over the first and are named in the one message
// after the run.
TEST_F(Window, filesThatLandOnOneNameAreNamedInOneBoxAfterTheRestore)
{
    for (const char* folder : {"d1", "d2", "d3"})
        Write(root / "src" / folder / "same.txt", folder);
    AddFiles({Q(root / "src" / "d1" / "same.txt"), Q(root / "src" / "d2" / "same.txt"),
              Q(root / "src" / "d3" / "same.txt")});
    ASSERT_TRUE(RunBackup(root / "a.bck").startsWith("Arcovelo: Backup completato"));
    ChooseArchive(root / "a.bck");
    form->rbOtherPath->SetChecked(true);
    form->EdPath->setText(Q(root / "dest"));
    const auto before = Dialogs::Shown().size();
    const QString message = RunRestore();
    EXPECT_EQ(Dialogs::Shown().size(), before + 1) << Dialogs::Shown().join("|").toStdString();
    EXPECT_TRUE(message.startsWith("Arcovelo: Ripristino completato, 1 files di 3 ripristinato.\n\n"));
    EXPECT_TRUE(message.contains("d2") && message.contains("d3")) << message.toStdString();
    EXPECT_EQ(Read(root / "dest" / "same.txt"), "d1");
}

// "&Esegue ripristino" with rows selected restores only those and counts
// against them; with none, the whole archive.
TEST_F(Window, restoresOnlyTheSelectedRows)
{
    BackUpSampleFiles();
    ChooseArchive(root / "a.bck");
    const auto click = [&](int row, Qt::KeyboardModifiers mods) {
        const QPoint at = form->mefiles->RowRects()[std::size_t(row)].center();
        QCursor::setPos(form->mefiles->mapToGlobal(at));
        QTest::mouseClick(form->mefiles, Qt::LeftButton, mods, at);
    };
    click(0, {});
    click(2, Qt::ControlModifier);
    form->rbOtherPath->SetChecked(true);
    form->EdPath->setText(Q(root / "dest"));
    EXPECT_EQ(RunRestore(), "Arcovelo: Ripristino completato, 2 files di 2 ripristinato.");
    EXPECT_EQ(Read(root / "dest" / "uno.txt"), std::string(40000, 'u'));
    EXPECT_EQ(Read(root / "dest" / "tre.bin"), std::string(40000, 't'));
    EXPECT_FALSE(fs::exists(root / "dest" / "due.txt"));

    QTest::keyClick(form->mefiles, Qt::Key_Space);  // the current row, tre.bin, leaves the selection
    click(0, Qt::ControlModifier);
    EXPECT_EQ(form->mefiles->SelectedCount(), 0);
    form->EdPath->setText(Q(root / "all"));
    EXPECT_EQ(RunRestore(), "Arcovelo: Ripristino completato, 3 files di 3 ripristinato.");
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
