// Opens ARCHIVE on the window's Restore page as a person would (the archive
// chooser's button, the name given to the file dialog), paints the page and
// prints the rows shown, the seconds the opening took and the process's peak
// resident memory before and after. With --engine-only it only reads the
// archive's contents list as the page does (TBackupFile::GetArchiveInfo) and
// keeps it, which is the engine's share of the page's peak.
// Usage: restore_page_bench ARCHIVE [--engine-only]   (QT_QPA_PLATFORM=offscreen)
#include "Application.h"
#include "Dialogs.h"
#include "TFlatListBoxUnit.h"
#include "TFlatSpeedButtonUnit.h"
#include "Unit1.h"
#include "platform.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTabWidget>

#include <sys/resource.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

double PeakMiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024;  // KiB on Linux
}

int ReadContentsOnly(const char* archive)
{
    arcovelo::TBackupFile engine;
    std::vector<std::string> list;
    std::string title;
    QElapsedTimer timer;
    timer.start();
    engine.GetArchiveInfo(archive, &list, title);
    std::size_t bytes = 0;
    for (const std::string& entry : list)
        bytes += entry.size();
    std::printf("engine only: %zu entries (%.1f MiB of text) in %.2f s, peak %.1f MiB\n", list.size(),
                double(bytes) / (1024 * 1024), double(timer.nsecsElapsed()) / 1e9, PeakMiB());
    return list.empty() ? 1 : 0;
}

int OpenOnRestorePage(const char* archive)
{
    TForm1 form;
    form.show();
    form.PageControl1->setCurrentIndex(1);
    form.grab();
    const double before = PeakMiB();
    Dialogs::StartScript();
    Dialogs::SetNextFileNames({QFile::decodeName(archive)});
    QElapsedTimer timer;
    timer.start();
    form.FlatSpeedButton1->OnClick(form.FlatSpeedButton1);
    form.grab();  // the page as shown, its first rows painted
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    Dialogs::StopScript();
    std::printf("window: %d rows in %.2f s, peak %.1f MiB (%.1f MiB before opening)\n",
                form.mefiles->Items().Count(), seconds, PeakMiB(), before);
    return form.mefiles->Items().Count() > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: restore_page_bench ARCHIVE [--engine-only]\n");
        return 2;
    }
    const bool engineOnly = argc > 2 && std::strcmp(argv[2], "--engine-only") == 0;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (engineOnly)
        return ReadContentsOnly(argv[1]);
    arcovelo::RaiseOpenFileLimit();
    TApplication app(argc, argv);
    return OpenOnRestorePage(argv[1]);
}
