// The stored description of the main window: every control with its name,
// position, size, texts, items, tooltips, visibility, tab order and
// bindings, created control by control in the stored order, containers
// before their contents.
#include "Pictures.h"
#include "Unit1.h"

#include "TFlatAnimWndUnit.h"
#include "TFlatButtonUnit.h"
#include "TFlatHintUnit.h"
#include "TFlatSoundUnit.h"
#include "TFlatCheckBoxUnit.h"
#include "TFlatEditUnit.h"
#include "TFlatGaugeUnit.h"
#include "TFlatGroupBoxUnit.h"
#include "TFlatListBoxUnit.h"
#include "TFlatPanelUnit.h"
#include "TFlatRadioButtonUnit.h"
#include "TFlatSpeedButtonUnit.h"

#include <QCheckBox>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>

#include <algorithm>
#include <vector>

namespace {

// "MS Sans Serif" at a pixel height. Linux has no such face: Liberation Sans
// takes its place, whose metrics (Arial's) are close to it, so every caption
// fits the stored sizes; the system's sans-serif comes last.
QFont WindowFont(int pixelHeight)
{
    static const bool substituted = [] {
        QFont::insertSubstitution("MS Sans Serif", "Liberation Sans");
        return true;
    }();
    (void)substituted;
    QFont font("MS Sans Serif");
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelHeight);
    return font;
}

template <typename Control>
Control* Place(QWidget* parent, const char* name, int x, int y, int w, int h, int tabOrder = -1)
{
    auto* c = new Control(parent);
    c->setObjectName(name);
    c->setGeometry(x, y, w, h);
    if (tabOrder >= 0)
        c->setProperty("TabOrder", tabOrder);
    return c;
}

QLabel* Label(QWidget* parent, const char* name, int x, int y, int w, int h, const QString& caption)
{
    auto* label = Place<QLabel>(parent, name, x, y, w, h);
    label->setText(caption);
    return label;
}

TFlatButton* Button(QWidget* parent, const char* name, int x, int y, int w, int h, const QString& caption,
                    const QString& hint, int tabOrder)
{
    auto* b = Place<TFlatButton>(parent, name, x, y, w, h, tabOrder);
    b->SetCaption(caption);
    b->setToolTip(hint);
    b->SetTabStop(true);
    return b;
}

TFlatEdit* Edit(QWidget* parent, const char* name, int x, int y, int w, int h, int tabOrder)
{
    auto* e = Place<TFlatEdit>(parent, name, x, y, w, h, tabOrder);
    e->SetColorFlat(clBtnFace);
    e->SetParentColor(true);
    return e;
}

TFlatListBox* Selector(QWidget* parent, const char* name, int x, int y, int w, int h, const QStringList& items,
                       bool scrollBars)
{
    auto* list = new TFlatListBox(parent);
    list->setObjectName(name);
    list->SetScrollBars(scrollBars);
    list->setGeometry(x, y, w, h);
    QStringList copy = items;
    list->SetItems(copy);
    return list;
}

TFlatGroupBox* GroupBox(QWidget* parent, const char* name, int x, int y, int w, int h, const QString& caption,
                        int tabOrder)
{
    auto* box = Place<TFlatGroupBox>(parent, name, x, y, w, h, tabOrder);
    box->SetCaption(caption);
    return box;
}

// The banner: white, with a double bevel of one pixel each, the outer ring
// lowered and the inner one raised.
class BannerPanel : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::white);
        DrawBevelFrame(painter, rect(), clBtnShadow, clBtnHighlight, 1);
        DrawBevelFrame(painter, rect().adjusted(1, 1, -1, -1), clBtnHighlight, clBtnShadow, 1);
    }
};

}  // namespace

void TForm1::CreateControls()
{
    setObjectName("Form1");
    setWindowTitle("Arcovelo");
    setWindowIcon(ApplicationIcon());
    setFont(WindowFont(10));
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, ToQColor(clBtnFace));
    setPalette(palette);
    setFixedWidth(kClientWidth);
    setMinimumHeight(kMinClientHeight);
    setMaximumHeight(kMaxClientHeight);
    resize(kClientWidth, kInitialClientHeight);

    Panel2 = Place<BannerPanel>(this, "Panel2", 0, 0, kClientWidth, 49, 2);
    Image1 = Place<QLabel>(Panel2, "Image1", 272, 2, 259, 45);
    Image1->setPixmap(QPixmap::fromImage(BannerBitmap()));
    Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    PageControl1 = Place<QTabWidget>(this, "PageControl1", 0, 49, kClientWidth, 402, 0);
    PageControl1->setFixedSize(kClientWidth, 402);
    TabSheet1 = new QWidget;
    TabSheet1->setObjectName("TabSheet1");
    TabSheet2 = new QWidget;
    TabSheet2->setObjectName("TabSheet2");
    PageControl1->addTab(TabSheet1, "Backup");
    PageControl1->addTab(TabSheet2, "Ripristino");
    CreateBackupPage();
    CreateRestorePage();
    CreateStatusBar();
    ApplyTabOrder();
}

void TForm1::CreateBackupPage()
{
    QWidget* page = TabSheet1;
    Label2 = Label(page, "Label2", 197, 280, 68, 13, "Titolo backup:");
    Button4 = Place<QPushButton>(page, "Button4", 325, 216, 124, 21, 0);
    Button4->setText("Aggiungi con wilcard *");
    Button4->hide();
    CbSaveFileID = Place<QCheckBox>(page, "CbSaveFileID", 403, 279, 118, 14, 1);
    CbSaveFileID->setText("Salva ID File");
    CbSaveFileID->setChecked(true);
    CbSaveFileID->hide();
    Button1 = Button(page, "Button1", 432, 0, 89, 25, "Aggiungi files", "Aggiungere file(s) da archiviare", 2);
    FlatButton1 = Button(page, "FlatButton1", 432, 32, 89, 25, "Pulisci", "Pulisce la lista dei file(s) da archiviare", 3);
    EdBackupTitle = Edit(page, "EdBackupTitle", 200, 296, 217, 19, 4);
    EdBackupTitle->setText("Predefinito");
    EdBackupTitle->setToolTip("Specifica il nome da del backup, non il nome del file di backup");
    FlatGroupBox1 = GroupBox(page, "FlatGroupBox1", 0, 280, 89, 89, "Tipo backup", 5);
    rgBackupMode = Selector(FlatGroupBox1, "rgBackupMode", 8, 16, 73, 42, {"Completo", "Incrementale"}, false);
    rgBackupMode->setToolTip("Imposta tipologia di archiviazione");
    FlatGroupBox2 = GroupBox(page, "FlatGroupBox2", 96, 280, 89, 89, "Compressione", 6);
    rgCompressionLevel = Selector(FlatGroupBox2, "rgCompressionLevel", 8, 16, 73, 62,
                                  {"Veloce", "Normale", "Massimo", "Nessuno"}, true);
    rgCompressionLevel->setToolTip("Imposta il tipo di compressione da usare per creare l'archivio");
    btncancel = Button(page, "btncancel", 432, 344, 89, 25, "&Chiudi", "Chiude Arcovelo", 7);
    FileListBox = Selector(page, "FileListBox", 0, 0, 417, 271, {}, true);
    FileListBox->setProperty("TabOrder", 8);
    FlatPanel1 = Place<TFlatPanel>(page, "FlatPanel1", 432, 64, 89, 265, 9);
    FlatPanel2 = Place<TFlatPanel>(page, "FlatPanel2", 200, 328, 217, 41, 10);
    Button2 = Button(FlatPanel2, "Button2", 64, 8, 89, 25, "Esegui backup", "Esegue la creazione dell'archivio", 0);

    connect(Button4, &QPushButton::clicked, this, [this] { Button4Click(Button4); });
    Button1->OnClick = [this](QObject* s) { Button1Click(s); };
    FlatButton1->OnClick = [this](QObject* s) { Button5Click(s); };
    btncancel->OnClick = [this](QObject* s) { BtnCancelClick(s); };
    Button2->OnClick = [this](QObject* s) { Button2Click(s); };
}

void TForm1::CreateRestorePage()
{
    QWidget* page = TabSheet2;
    Label3 = Label(page, "Label3", 6, 10, 70, 13, "Nome backup:");
    Label4 = Label(page, "Label4", 6, 49, 91, 13, "Contenuto backup:");
    FlatSpeedButton1 = Place<TFlatSpeedButton>(page, "FlatSpeedButton1", 280, 24, 25, 25);
    FlatSpeedButton1->SetGlyph(FolderGlyph());
    edit2 = Edit(page, "edit2", 8, 24, 265, 19, 0);
    edit2->setToolTip("Specifica il nome da del backup, non il nome del file di backup");
    Edit1 = Edit(page, "Edit1", 8, 64, 265, 19, 1);
    Edit1->setReadOnly(true);  // the archive's counts, not for typing
    FlatGroupBox3 = GroupBox(page, "FlatGroupBox3", 8, 235, 129, 102, "Tipo ripristino", 2);
    rgrestoremode = Selector(FlatGroupBox3, "rgrestoremode", 8, 16, 113, 81,
                             {"Completo", "Senza sovrascrittura", "Solo nuovi", "Solo esistenti", "Nuovi ed esistenti"},
                             true);
    // Its group box's hint, shown only over the list.
    rgrestoremode->setToolTip("Imposta il tipo di ripristino da effettuare");
    FlatGroupBox4 = GroupBox(page, "FlatGroupBox4", 144, 235, 377, 105, "Destinazione ripristino", 3);
    rbOrigpath = Place<TFlatRadioButton>(FlatGroupBox4, "rbOrigpath", 8, 16, 209, 17, 0);
    rbOrigpath->SetCaption("Path originale (sovrascrive files originali)");
    rbOrigpath->SetChecked(true);  // before its click binding: runs no handler
    rbOtherPath = Place<TFlatRadioButton>(FlatGroupBox4, "rbOtherPath", 8, 32, 73, 17, 1);
    rbOtherPath->SetCaption("Altro path");
    EdPath = Edit(FlatGroupBox4, "EdPath", 24, 48, 321, 19, 2);
    CbFullPath = Place<TFlatCheckBox>(FlatGroupBox4, "CbFullPath", 24, 72, 121, 17, 3);
    CbFullPath->SetCaption("Usa path originario");
    Button3 = Button(page, "Button3", 304, 344, 105, 25, "&Esegue ripristino", "Esegue il ripristino dell'archivio", 4);
    FlatButton2 = Button(page, "FlatButton2", 424, 344, 97, 25, "&Chiudi", "Chiude Arcovelo", 5);
    mefiles = Selector(page, "mefiles", 8, 88, 513, 138, {}, true);

    FlatSpeedButton1->OnClick = [this](QObject* s) { edit2Click(s); };
    edit2->OnClick = [this](QObject* s) { edit2Click(s); };
    rbOrigpath->OnClick = [this](QObject* s) { rbOrigpath_oldClick(s); };
    rbOtherPath->OnClick = [this](QObject* s) { rbOrigpath_oldClick(s); };
    Button3->OnClick = [this](QObject* s) { Button3Click(s); };
    FlatButton2->OnClick = [this](QObject* s) { BtnCancelClick(s); };
}

void TForm1::CreateStatusBar()
{
    Panel1 = Place<QWidget>(this, "Panel1", 0, kInitialClientHeight - 16, kClientWidth, 16, 1);
    Label1 = Label(Panel1, "Label1", 149, 0, 3, 13, "");
    Label1->setWordWrap(true);
    progressbar1 = Place<TFlatGauge>(Panel1, "progressbar1", 8, 1, 145, 15);
    progressbar1->SetColorBorder(8623776);
    progressbar1->SetAdvColorBorder(0);
    progressbar1->SetProgress(0);
    progressbar1->setFont(WindowFont(11));
    Label5 = Label(Panel1, "Label5", 408, 2, 82, 13, "Arcovelo 1.0");
    FlatEdit1 = Edit(Panel1, "FlatEdit1", 160, 1, 201, 15, 0);
    FlatEdit1->setReadOnly(true);
}

void TForm1::SetUpComponents()
{
    OpenDialog.title = "Arcovelo - Apri archivio backup";
    OpenDialog.filter = "Archivio backup|*.bck";
    OpenDialog.defaultExt = "*.bck";
    OpenDialog.multiSelect = true;
    OpenDialogadd.title = "Arcovelo - Aggiungi files all'archivio";
    OpenDialogadd.filter = "Tutti i files|*.*";
    OpenDialogadd.defaultExt = "*.*";
    OpenDialogadd.multiSelect = true;
    SaveDialog.filter = "Backup archives (*.bck)|*.bck";
    SaveDialog.defaultExt = "bck";

    FlatHint1 = new TFlatHint(this);
    FlatHint1->setObjectName("FlatHint1");
    FlatHint1->SetFont(WindowFont(11));
    FlatAnimWnd1 = new TFlatAnimWnd(this);
    FlatAnimWnd1->setObjectName("FlatAnimWnd1");
    FlatSound1 = new TFlatSound(this);
    FlatSound1->setObjectName("FlatSound1");
    FlatSound1->SetEvent(TFlatSound::seBtnClick);

    Backupfile1.SetBackupMode(arcovelo::bmIncremental);
    Backupfile1.SetCompressionLevel(arcovelo::clFastest);
    Backupfile1.SetRestoreMode(arcovelo::rmAll);
    Backupfile1.SetMaxSize(0);
    Backupfile1.SetSetArchiveFlag(true);
    Backupfile1.SetRestoreFullPath(false);
    Backupfile1.SetSaveFileID(false);
    Backupfile1.OnProgress = [this](arcovelo::TBackupFile* s, const std::string& f, arcovelo::TPercentage p, bool& c) {
        Backupfile1Progress(s, f, p, c);
    };
}

namespace {

// The controls of `container` that Tab may reach, in the stored tab orders:
// each container's children by their order (those without one after, in
// creation order), a container's own contents right after it.
void CollectTabChain(QWidget* container, std::vector<QWidget*>& chain)
{
    std::vector<QWidget*> children;
    if (auto* pages = qobject_cast<QTabWidget*>(container)) {
        chain.push_back(pages->tabBar());
        for (int i = 0; i < pages->count(); ++i)
            children.push_back(pages->widget(i));
    } else {
        for (QObject* child : container->children())
            if (child->isWidgetType() && !static_cast<QWidget*>(child)->isWindow())
                children.push_back(static_cast<QWidget*>(child));
        std::stable_sort(children.begin(), children.end(), [](QWidget* a, QWidget* b) {
            const QVariant x = a->property("TabOrder"), y = b->property("TabOrder");
            return x.isValid() && (!y.isValid() || x.toInt() < y.toInt());
        });
    }
    // A radio button has its place even while Tab skips it (it is not
    // checked), so that it is in order once it becomes the tab stop.
    for (QWidget* child : children) {
        if ((child->focusPolicy() & Qt::TabFocus) || qobject_cast<TFlatRadioButton*>(child) != nullptr)
            chain.push_back(child);
        CollectTabChain(child, chain);
    }
}

}  // namespace

// One chain through the whole window in the stored tab orders.
void TForm1::ApplyTabOrder()
{
    std::vector<QWidget*> chain;
    CollectTabChain(this, chain);
    for (std::size_t i = 1; i < chain.size(); ++i)
        QWidget::setTabOrder(chain[i - 1], chain[i]);
}
