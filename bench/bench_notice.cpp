// The notice's slide on Qt's animation timer: rise, hold and fall, as the screen shows them,
// measured against the nominal 70 x 20 ms, 1.5 s and a step, and the 79 steps of 20 ms
// that remain once the first step down has shown that the hold is over.
#include "bench/benchsupport.h"
#include "model/dashboardmodel.h"
#include "ui/noticepopup.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::atoi(argv[1]) : 3;
    constexpr double nominalRise = NoticePopup::RiseSteps * NoticePopup::TickMs;
    constexpr double nominalHold = NoticePopup::HoldMs + NoticePopup::TickMs;
    constexpr double nominalFall = (NoticePopup::FallSteps - 1) * NoticePopup::TickMs;

    DashboardModel model;
    NoticePopup notice(model);
    notice.setWorkArea(QRect(0, 0, 1280, 800));
    notice.prepare();
    std::printf("== notice slide: %d runs, nominal rise %.0f ms, hold %.0f ms, fall %.0f ms\n",
                runs, nominalRise, nominalHold, nominalFall);
    double sumRise = 0, sumHold = 0, sumFall = 0;
    for (int run = 0; run < runs; ++run) {
        const long long start = bench::wallNs();
        notice.announce(AllItemKinds[std::size_t(run) % ItemKindCount],
                        RecentItem{"알림 " + std::to_string(run), "http://127.0.0.1/"});
        long long holding = 0, falling = 0;
        while (notice.isVisible()) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            const int height = notice.geometry().height();
            if (!holding && height == NoticePopup::FullHeight)
                holding = bench::wallNs();
            if (holding && !falling && height < NoticePopup::FullHeight)
                falling = bench::wallNs();
        }
        const long long end = bench::wallNs();
        const double rise = (holding - start) / 1e6;
        const double hold = (falling - holding) / 1e6;
        const double fall = (end - falling) / 1e6;
        std::printf("run %d: rise %7.1f ms  hold %7.1f ms  fall %7.1f ms  total %7.1f ms\n", run,
                    rise, hold, fall, (end - start) / 1e6);
        sumRise += rise;
        sumHold += hold;
        sumFall += fall;
    }
    const auto drift = [](double measured, double nominal) {
        return 100.0 * (measured - nominal) / nominal;
    };
    bench::report("rise drift (mean)", drift(sumRise / runs, nominalRise), "%");
    bench::report("hold drift (mean)", drift(sumHold / runs, nominalHold), "%");
    bench::report("fall drift (mean)", drift(sumFall / runs, nominalFall), "%");
    bench::report(
        "total drift (mean)",
        drift((sumRise + sumHold + sumFall) / runs, nominalRise + nominalHold + nominalFall), "%");
    return 0;
}
