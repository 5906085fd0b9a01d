// Helper of the kill test: loads the panel set at argv[1] and saves it over
// and over, renaming every panel to "p<uid>-r<round>" before each save and
// printing "saving <round>" before and "saved <round>" after it, until it is killed.

#include "kst_data.h"
#include "kst_rack.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc < 2)
        return 2;
    KST_Data data(QString::fromLocal8Bit(argv[1]));
    for (int round = 1;; ++round) {
        for (KST_Rack *rack : data.racks())
            for (KST_PanelInstance *p : rack->panels())
                p->setName(QStringLiteral("p%1-r%2").arg(p->uid()).arg(round));
        std::printf("saving %d\n", round);
        std::fflush(stdout);
        data.save();
        std::printf("saved %d\n", round);
        std::fflush(stdout);
    }
}
