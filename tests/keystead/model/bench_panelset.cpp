// How long a panel set of 500 panels in 50 racks takes to load (the panel
// set built from cfg.xml) and to save. Target: each under 1 s.
//   ctest --test-dir build -R bench_panelset -V

#include "kst_data.h"
#include "panelset_file.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QTemporaryDir base;
    qputenv("TESSALINE_BASE_DIR", QFile::encodeName(base.path()));
    const QString path = base.filePath(QStringLiteral("cfg.xml"));
    if (!writePanelSet(path, 50, 10))
        return 1;

    std::vector<double> loads, saves;
    for (int run = 0; run < 7; ++run) {
        QElapsedTimer t;
        t.start();
        auto data = std::make_unique<KST_Data>(path);
        loads.push_back(t.nsecsElapsed() / 1e6);
        if (data->rowCount() != 50)
            return 1;
        t.restart();
        data->save();
        saves.push_back(t.nsecsElapsed() / 1e6);
    }
    std::sort(loads.begin(), loads.end());
    std::sort(saves.begin(), saves.end());
    std::printf("panel set of 500 panels in 50 racks, 7 runs: load median %.1f ms worst %.1f ms; "
                "save median %.1f ms worst %.1f ms; file %lld bytes\n",
                loads[3], loads.back(), saves[3], saves.back(), QFileInfo(path).size());
    return loads.back() < 1000 && saves.back() < 1000 ? 0 : 1;
}
