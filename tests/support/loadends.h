#pragma once

#include "client/pageloader.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

// How a loader's loads ended: how many, the last address and page, and each failure with its
// address.
struct LoadEnds
{
    explicit LoadEnds(PageLoader &loader)
    {
        QObject::connect(&loader, &PageLoader::finished, &loader,
                         [this](const PageLoader::Result &result) {
                             ++count;
                             address = result.address.toString();
                             body = result.body;
                             if (!result.ok()) {
                                 codes.append(result.error);
                                 urls.append(address);
                             }
                         });
    }

    int count = 0;
    QString address;
    QByteArray body;
    QList<int> codes;
    QStringList urls;
};
