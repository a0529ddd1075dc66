#include "demopage.h"

#include "tools/demohost/pages.h"

#include <string>

QByteArray demoPage(std::size_t size)
{
    pages::DashboardInput input;
    input.counts.today = 321;
    for (long k = 0; k < 3; ++k)
        for (long i = 0; i < 4; ++i)
            input.items[static_cast<std::size_t>(k)].push_back(
                {k * 10 + i, "항목 " + std::to_string(k) + "-" + std::to_string(i),
                 "/" + std::to_string(k * 10 + i)});
    input.padTo = size;
    return QByteArray::fromStdString(pages::dashboard(input));
}

QByteArray toEucKr(const QByteArray &utf8)
{
    return QByteArray::fromStdString(pages::toEucKr(utf8.toStdString()));
}
