// Shows the flat controls in their states, to look at them on a real display:
//   flat_demo [screenshot.png]   (with a file name: saves a picture and quits)
#include "TFlatButtonUnit.h"
#include "TFlatCheckBoxUnit.h"
#include "TFlatListBoxUnit.h"
#include "TFlatRadioButtonUnit.h"
#include "TFlatEditUnit.h"
#include "TFlatGaugeUnit.h"
#include "TFlatGroupBoxUnit.h"
#include "TFlatPanelUnit.h"
#include "TFlatSpeedButtonUnit.h"

#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QTimer>

namespace {

QImage FolderGlyph()
{
    QImage glyph(16, 16, QImage::Format_RGB32);
    glyph.fill(QColor(192, 192, 192));
    QPainter p(&glyph);
    p.fillRect(1, 4, 13, 10, QColor(255, 255, 0));
    p.setPen(Qt::black);
    p.drawRect(1, 4, 13, 10);
    p.drawLine(2, 3, 6, 3);
    return glyph;
}

QLabel* Label(QWidget* parent, const QString& text, int x, int y)
{
    auto* label = new QLabel(text, parent);
    label->move(x, y);
    return label;
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle("Flat controls");
    window.resize(600, 330);
    QPalette palette = window.palette();
    palette.setColor(QPalette::Window, ToQColor(kDefaultFace));
    window.setPalette(palette);

    Label(&window, "TFlatButton: rest, default, hovered, pressed, disabled", 10, 8);
    const char* captions[] = {"Aggiungi files", "&Chiudi", "Hover", "Pressed", "Disabled"};
    TFlatButton* buttons[5];
    for (int i = 0; i < 5; ++i) {
        buttons[i] = new TFlatButton(&window);
        buttons[i]->setGeometry(10 + i * 80, 30, 75, 25);
        buttons[i]->SetCaption(captions[i]);
    }
    buttons[1]->SetDefault(true);
    buttons[3]->SetGroupIndex(1);
    buttons[3]->SetDown(true);
    buttons[4]->setEnabled(false);
    buttons[4]->SetGlyph(FolderGlyph());
    buttons[4]->SetLayout(blGlyphLeft);

    Label(&window, "TFlatSpeedButton: glyph, transparent, down, disabled", 10, 70);
    for (int i = 0; i < 4; ++i) {
        auto* speed = new TFlatSpeedButton(&window);
        speed->setGeometry(10 + i * 35, 92, 25, 25);
        speed->SetGlyph(FolderGlyph());
        if (i == 1)
            speed->SetTransparentMode(tmAlways);
        if (i == 2) {
            speed->SetGroupIndex(1);
            speed->SetDown(true);
        }
        if (i == 3)
            speed->setEnabled(false);
    }
    auto* transparent = new TFlatButton(&window);
    transparent->setGeometry(160, 92, 120, 25);
    transparent->SetCaption("Transparent");
    transparent->SetTransparentMode(tmAlways);

    auto* box = new TFlatGroupBox(&window);
    box->setGeometry(10, 130, 190, 80);
    box->SetCaption("Tipo backup");
    auto* edit = new TFlatEdit(box);
    edit->move(10, 20);
    edit->setText("Predefinito");
    edit->Loaded();
    auto* focused = new TFlatEdit(box);
    focused->move(10, 48);
    focused->setText("focused");
    focused->Loaded();
    auto* topLine = new TFlatGroupBox(&window);
    topLine->setGeometry(210, 130, 190, 80);
    topLine->SetCaption("&Disabled, top line");
    topLine->SetBorder(brOnlyTopLine);
    topLine->setEnabled(false);
    auto* gauge = new TFlatGauge(&window);
    gauge->move(10, 220);
    gauge->SetProgress(55);
    auto* panel = new TFlatPanel(&window);
    panel->setGeometry(170, 220, 230, 41);
    panel->SetCaption("TFlatPanel");
    auto* disabledPanel = new TFlatPanel(&window);
    disabledPanel->setGeometry(170, 270, 230, 41);
    disabledPanel->SetCaption("Disabled panel");
    disabledPanel->SetAlignment(taLeftJustify);
    disabledPanel->setEnabled(false);

    auto* files = new TFlatListBox(&window);
    files->SetScrollBars(true);
    files->setGeometry(420, 10, 170, 119);
    for (int i = 0; i < 12; ++i)
        files->Items().Add(QString("/home/utente/documento%1.txt").arg(i));
    files->SetItemIndex(1);
    auto* modes = new TFlatListBox(&window);
    modes->setGeometry(420, 140, 170, 42);
    QStringList modeItems{"Completo", "Incrementale"};
    modes->SetItems(modeItems);
    modes->SetItemIndex(0);
    auto* check = new TFlatCheckBox(&window);
    check->setGeometry(420, 190, 170, 17);
    check->SetCaption("Usa path originario");
    check->SetChecked(true);
    auto* original = new TFlatRadioButton(&window);
    original->setGeometry(420, 215, 170, 17);
    original->SetCaption("Path originale");
    original->SetChecked(true);
    auto* other = new TFlatRadioButton(&window);
    other->setGeometry(420, 235, 170, 17);
    other->SetCaption("Altro path");
    auto* disabledCheck = new TFlatCheckBox(&window);
    disabledCheck->setGeometry(420, 255, 170, 17);
    disabledCheck->SetCaption("Disabled, checked");
    disabledCheck->SetChecked(true);
    disabledCheck->setEnabled(false);

    window.show();
    focused->setFocus();
    if (argc > 1) {
        const QString file = argv[1];
        QTimer::singleShot(300, [&window, &app, file] {
            window.grab().save(file);
            app.quit();
        });
    }
    return app.exec();
}
